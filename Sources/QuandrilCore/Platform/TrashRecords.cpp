// The Trash's records of its items: reading one without following a link or waiting, and removing
// one once its item went back.

#include "QuandrilCore/Platform/Trash.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::Platform {

namespace {

// The top of the drive whose Trash `trash` is, when it is a Trash at the top of a drive.
std::optional<std::string> topOfTrash(const std::string& trash)
{
    const std::string name = lastComponent(trash);
    if (name.starts_with(".Trash-"))
        return parentOf(trash);
    if (lastComponent(parentOf(trash)) == ".Trash")
        return parentOf(parentOf(trash));
    return std::nullopt;
}

// A record is a few lines; anything much larger is no record of ours.
constexpr std::size_t largestRecord = 64 * 1024;

std::string percentDecoded(std::string_view text)
{
    return hexUnescaped(text, "%");
}

// The value of `key` ("Path=") in a record's [Trash Info] group; nothing when it has none.
std::optional<std::string> recordedValue(std::string_view record, std::string_view key)
{
    bool inGroup = false;
    while (!record.empty()) {
        const auto end = record.find('\n');
        std::string_view line = record.substr(0, end);
        record.remove_prefix(end == std::string_view::npos ? record.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.starts_with('['))
            inGroup = line == "[Trash Info]";
        else if (inGroup && line.starts_with(key))
            return std::string(line.substr(key.size()));
    }
    return std::nullopt;
}

// The whole record, or why it can't be gone by. Read without following a link or waiting on a pipe.
struct RecordText {
    std::optional<std::string> text;
    std::string trouble;
    bool untrusted = false;
    std::string written;
};

RecordText troubled(std::string why, bool untrusted = false)
{
    return { std::nullopt, std::move(why), untrusted, {} };
}

std::string writtenAt(const struct stat& info)
{
    std::string nanos = std::to_string(info.st_mtim.tv_nsec);
    return std::to_string(info.st_mtim.tv_sec) + "." + std::string(9 - std::min<std::size_t>(9, nanos.size()), '0')
        + nanos;
}

std::string whyUnopened(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "there is none";
    case ELOOP:
        return "it is a link, or reached through one";
    case ENXIO:
        return "it is not a file";
    default:
        return std::generic_category().message(error);
    }
}

std::string whyNotAFile(mode_t mode)
{
    if (S_ISDIR(mode))
        return "it is a folder";
    if (S_ISFIFO(mode))
        return "it is a named pipe";
    return "it is not a file";
}

RecordText readRecord(const std::string& path)
{
    std::optional<Place> place;
    try {
        place.emplace(placeOf(path));
    } catch (const std::system_error& error) {
        return troubled(whyUnopened(error.code().value()));
    }
    const Descriptor fd(
        ::openat(place->folder.get(), place->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd)
        return troubled(whyUnopened(errno));
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return troubled(std::generic_category().message(errno));
    if (!S_ISREG(info.st_mode))
        return troubled(whyNotAFile(info.st_mode));
    // Another user's could name any place. The user's own is trusted whatever its mode, as the
    // desktop's other Trash clients trust it.
    if (info.st_uid != ::geteuid())
        return troubled("it belongs to another user", true);
    if (info.st_size > static_cast<off_t>(largestRecord))
        return troubled("it is larger than " + std::to_string(largestRecord / 1024) + " KiB");
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return troubled(std::generic_category().message(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return { std::move(text), {}, false, writtenAt(info) };
}

} // namespace

std::chrono::system_clock::time_point onLocalClock(std::chrono::system_clock::time_point moment)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm local {};
    if (!::localtime_r(&seconds, &local))
        return moment;
    return std::chrono::system_clock::from_time_t(::timegm(&local));
}

TrashRecordReading readTrashRecord(const std::string& trashed)
{
    const std::string files = parentOf(trashed);
    if (lastComponent(files) != "files")
        return { std::nullopt, "there is none", false };
    const std::string trash = parentOf(files);
    const RecordText read = readRecord(trash + "/info/" + lastComponent(trashed) + ".trashinfo");
    if (!read.text)
        return { std::nullopt, read.trouble, read.untrusted };
    auto path = recordedValue(*read.text, "Path=");
    if (path)
        path = percentDecoded(*path);
    // A Trash at the top of a drive records the place relative to that top.
    if (path && !path->empty() && !path->starts_with('/')) {
        const auto top = topOfTrash(trash);
        path = top ? std::optional(joinPath(*top, *path)) : std::nullopt;
    }
    if (!path || path->empty())
        return { std::nullopt, "it names no place", false };
    TrashRecord record { lexicallyNormal(*path), std::nullopt, {}, read.written };
    // Local time without a zone, as the Trash writes it; read as if it were UTC, as onLocalClock counts.
    if (const auto date = recordedValue(*read.text, "DeletionDate=")) {
        record.deletedLocal = parseIso8601(*date + "Z");
        record.deletionText = *date;
    }
    return { std::move(record), {}, false };
}

bool removeTrashRecord(const std::string& trashed, const std::string& origin)
{
    const auto reading = readTrashRecord(trashed);
    if (!reading.record || reading.record->origin != origin)
        return false;
    try {
        const Place record = placeOf(parentOf(parentOf(trashed)) + "/info/" + lastComponent(trashed) + ".trashinfo");
        return ::unlinkat(record.folder.get(), record.name.c_str(), 0) == 0;
    } catch (const std::system_error&) {
        return false;
    }
}

std::string trashInfoPath(std::string_view absolutePath)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(absolutePath.size());
    for (const char c : absolutePath) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '_' || byte == '.' || byte == '~' || byte == '/';
        if (plain) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0x0F]);
        }
    }
    return out;
}

} // namespace Quandril::Platform
