#include "Support/Archives.h"

#include <memory>
#include <stdexcept>

#include <archive.h>
#include <archive_entry.h>

#include "Support/FakeMachine.h"

namespace Quandril::Testing {

namespace {

struct WriterCloser {
    void operator()(archive* writer) const { ::archive_write_free(writer); }
};

struct EntryFree {
    void operator()(archive_entry* entry) const { ::archive_entry_free(entry); }
};

void check(archive* writer, int status)
{
    if (status != ARCHIVE_OK)
        throw std::runtime_error(std::string("zip: ") + ::archive_error_string(writer));
}

} // namespace

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries)
{
    makeFolders(path.substr(0, path.rfind('/')));
    std::unique_ptr<archive, WriterCloser> writer(::archive_write_new());
    check(writer.get(), ::archive_write_set_format_zip(writer.get()));
    check(writer.get(), ::archive_write_set_options(writer.get(), "zip:compression=store"));
    check(writer.get(), ::archive_write_open_filename(writer.get(), path.c_str()));
    for (const auto& [name, content] : entries) {
        std::unique_ptr<archive_entry, EntryFree> entry(::archive_entry_new());
        ::archive_entry_set_pathname(entry.get(), name.c_str());
        const bool folder = name.ends_with('/');
        ::archive_entry_set_filetype(entry.get(), folder ? AE_IFDIR : AE_IFREG);
        ::archive_entry_set_perm(entry.get(), folder ? 0755 : 0644);
        ::archive_entry_set_size(entry.get(), folder ? 0 : static_cast<la_int64_t>(content.size()));
        check(writer.get(), ::archive_write_header(writer.get(), entry.get()));
        if (!folder && !content.empty()
            && ::archive_write_data(writer.get(), content.data(), content.size())
                != static_cast<la_ssize_t>(content.size()))
            throw std::runtime_error(std::string("zip: ") + ::archive_error_string(writer.get()));
    }
    check(writer.get(), ::archive_write_close(writer.get()));
}

std::string diskImage(ImageHeader header, std::size_t bytes)
{
    std::string content(bytes, 'k');
    if (header == ImageHeader::encryptedAtStart && bytes >= 8)
        content.replace(0, 8, "encrcdsa");
    if (header == ImageHeader::encryptedAtEnd && bytes >= 8)
        content.replace(bytes - 8, 8, "cdsaencr");
    return content;
}

} // namespace Quandril::Testing
