#include "QuandrilCore/Platform/Archive.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"

namespace Quandril::Platform {

namespace {

// A regular file opened for reading. Opening never waits: a pipe or device named like a download
// would otherwise block the scan.
class RegularFile {
public:
    explicit RegularFile(const std::string& path)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK))
    {
        struct stat status {};
        if (fd_ && (::fstat(fd_.get(), &status) != 0 || !S_ISREG(status.st_mode)))
            fd_ = Descriptor {};
        if (fd_)
            size_ = status.st_size;
    }

    int fd() const { return fd_.get(); }
    off_t size() const { return size_; }

    // Exactly `count` bytes at `offset`, or false.
    bool readAt(off_t offset, char* out, std::size_t count) const
    {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_.get(), out + done, count - done, offset + static_cast<off_t>(done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    Descriptor fd_;
    off_t size_ = 0;
};

struct ArchiveCloser {
    void operator()(archive* reader) const { ::archive_read_free(reader); }
};

} // namespace

std::optional<std::vector<std::string>> zipEntryNames(const std::string& path, std::size_t limit)
{
    const RegularFile file(path);
    if (file.fd() < 0)
        return std::nullopt;
    std::unique_ptr<archive, ArchiveCloser> reader(::archive_read_new());
    if (!reader)
        return std::nullopt;
    // The seekable reader takes the names from the central directory at the end of the file, so
    // nothing before it is read.
    if (::archive_read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK
        || ::archive_read_open_fd(reader.get(), file.fd(), 64 * 1024) != ARCHIVE_OK)
        return std::nullopt;

    std::vector<std::string> names;
    archive_entry* entry = nullptr;
    while (names.size() < limit) {
        const int status = ::archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK && status != ARCHIVE_WARN)
            return std::nullopt;
        const char* name = ::archive_entry_pathname_utf8(entry);
        if (!name)
            name = ::archive_entry_pathname(entry);
        if (!name)
            continue;
        std::string text(name);
        if (::archive_entry_filetype(entry) == AE_IFDIR && !text.ends_with('/'))
            text += '/';
        names.push_back(std::move(text));
    }
    return names;
}

bool isEncryptedDiskImage(const std::string& path)
{
    static constexpr std::size_t length = 8;
    const RegularFile file(path);
    if (file.fd() < 0 || file.size() < static_cast<off_t>(length))
        return false;
    char head[length];
    if (file.readAt(0, head, length) && std::memcmp(head, "encrcdsa", length) == 0)
        return true;
    char tail[length];
    return file.readAt(file.size() - static_cast<off_t>(length), tail, length)
        && std::memcmp(tail, "cdsaencr", length) == 0;
}

} // namespace Quandril::Platform
