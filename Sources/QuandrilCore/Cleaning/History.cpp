// The history file and the JSON forms of clean-up results.

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <ranges>
#include <set>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Cleaning/HistoryFile.h"
#include "QuandrilCore/Cleaning/HistoryRuns.h"
#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/Saturating.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace {

constexpr std::array<std::string_view, 4> statusNames { "done", "wouldDo", "refused", "failed" };

const std::string notAFile = "something other than a file stands in its place";

// Why the history file couldn't take a line, for the end of a sentence.
std::string whyNotWritten(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "the disk is full";
    case EROFS:
        return "it's on a read-only disk";
    case EACCES:
    case EPERM:
        return "you don't have permission to write it";
    case EISDIR:
    case ENXIO:
        return notAFile;
    default: {
        std::string message = std::generic_category().message(error);
        if (!message.empty())
            message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
        return message;
    }
    }
}

// A line left without its line feed (a writer that died mid-line) must not swallow the next one.
bool endsMidLine(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size <= 0)
        return false;
    char last = '\n';
    return ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n';
}

} // namespace

namespace History::File {

// Why the history file isn't to be trusted, for the end of a sentence; empty when it is ours.
// Another user's file could hold lines they planted for Put Back to follow.
std::string untrusted(const struct stat& info)
{
    const auto why = Platform::whyNotOurs(info);
    return why.empty() ? std::string() : "the History file " + std::string(why) + ", so Gorrin won't use it";
}

// The user's own file is the user's alone: one an earlier version or a loose umask left open to
// others is made private.
bool isOpenToOthers(const struct stat& info)
{
    return (info.st_mode & (S_IRWXG | S_IRWXO)) != 0;
}

// The same for a file read by its path: reached without following a link, and only while it is
// still the file that was read.
void makePrivate(const std::string& file, const struct stat& read)
{
    if (!isOpenToOthers(read))
        return;
    const Platform::Descriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    struct stat info {};
    if (fd && ::fstat(fd.get(), &info) == 0 && info.st_dev == read.st_dev && info.st_ino == read.st_ino)
        (void)::fchmod(fd.get(), info.st_mode & S_IRWXU);
}

// Why a history file that is there gives nothing to read, for the end of a sentence; empty when
// there is no file. `error` is why reading it failed.
std::string whyUnread(const std::string& file, int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return {};
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0) {
        if (S_ISLNK(info.st_mode))
            return "the History file is a link, so Gorrin won't follow it";
        if (S_ISDIR(info.st_mode))
            return "the History file is a folder";
        if (S_ISFIFO(info.st_mode))
            return "the History file is a named pipe";
        if (!S_ISREG(info.st_mode))
            return "the History file is something other than a file";
        if (auto why = untrusted(info); !why.empty())
            return why;
    } else if (errno == ENOENT) {
        return {};
    }
    if (error == EACCES || error == EPERM)
        return "you don't have permission to read the History file";
    std::string message = std::generic_category().message(error);
    if (!message.empty())
        message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
    return "the History file can't be read: " + message;
}

} // namespace History::File

using History::File::isOpenToOthers;
using History::File::makePrivate;
using History::File::untrusted;
using History::File::whyUnread;

std::string_view rawValue(CleanResult::Status status)
{
    return statusNames[static_cast<std::size_t>(status)];
}

std::optional<CleanResult::Status> cleanStatusFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < statusNames.size(); ++i)
        if (statusNames[i] == raw)
            return static_cast<CleanResult::Status>(i);
    return std::nullopt;
}

Json::Value toJson(CleanResult::Status status)
{
    return std::string(rawValue(status));
}

Json::Value toJson(const Relocation& relocation)
{
    Json::Value object = Json::Value::object();
    object["from"] = relocation.from;
    object["to"] = relocation.to;
    Json::putOptional(object, "link", relocation.link);
    Json::putOptional(object, "parked", relocation.parked);
    Json::putOptional(object, "kind", relocation.kind);
    Json::putOptional(object, "size", relocation.size);
    if (relocation.modified)
        object["modified"] = Json::encodeDate(*relocation.modified);
    Json::putOptional(object, "deletionDate", relocation.deletionDate);
    Json::putOptional(object, "recordWritten", relocation.recordWritten);
    return object;
}

Json::Value toJson(const CleanResult& result)
{
    Json::Value object = Json::Value::object();
    object["id"] = result.id;
    object["title"] = result.title;
    object["status"] = toJson(result.status);
    object["detail"] = result.detail;
    object["bytes"] = result.bytes;
    object["relocated"] = Json::arrayOf(result.relocated);
    Json::putOptional(object, "notInHistory", result.notInHistory);
    return object;
}

Json::Value toJson(const HistoryEntry& entry)
{
    Json::Value object = Json::Value::object();
    object["at"] = Json::encodeDate(entry.at);
    object["id"] = entry.id;
    object["title"] = entry.title;
    object["action"] = toJson(entry.action);
    object["bytes"] = entry.bytes;
    object["relocated"] = Json::arrayOf(entry.relocated);
    Json::putOptional(object, "undone", entry.undone);
    if (entry.back)
        object["back"] = Json::arrayOf(*entry.back);
    Json::putOptional(object, "run", entry.run);
    return object;
}

void decode(const Json::Value& value, CleanResult::Status& out)
{
    const auto raw = Json::decodeAs<std::string>(value);
    const auto status = cleanStatusFromRaw(raw);
    if (!status)
        throw Json::DecodeError("", "unknown status \"" + raw + "\"");
    out = *status;
}

void decode(const Json::Value& value, Relocation& out)
{
    Json::expectObject(value);
    out.from = Json::required<std::string>(value, "from");
    out.to = Json::required<std::string>(value, "to");
    out.link = Json::optional<bool>(value, "link");
    out.parked = Json::optional<bool>(value, "parked");
    out.kind = Json::optional<std::string>(value, "kind");
    out.size = Json::optional<std::int64_t>(value, "size");
    out.modified = Json::optional<std::chrono::sys_seconds>(value, "modified");
    out.deletionDate = Json::optional<std::string>(value, "deletionDate");
    out.recordWritten = Json::optional<std::string>(value, "recordWritten");
}

void decode(const Json::Value& value, CleanResult& out)
{
    Json::expectObject(value);
    out.id = Json::required<std::string>(value, "id");
    out.title = Json::required<std::string>(value, "title");
    out.status = Json::required<CleanResult::Status>(value, "status");
    out.detail = Json::required<std::string>(value, "detail");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.relocated = Json::required<std::vector<Relocation>>(value, "relocated");
    out.notInHistory = Json::optional<bool>(value, "notInHistory");
}

void decode(const Json::Value& value, HistoryEntry& out)
{
    Json::expectObject(value);
    out.at = Json::required<TimePoint>(value, "at");
    out.id = Json::required<std::string>(value, "id");
    out.title = Json::required<std::string>(value, "title");
    out.action = Json::required<Action::Kind>(value, "action");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.relocated = Json::required<std::vector<Relocation>>(value, "relocated");
    out.undone = Json::optional<bool>(value, "undone");
    out.back = Json::optional<std::vector<Relocation>>(value, "back");
    out.run = Json::optional<std::string>(value, "run");
}

namespace History::Runs {

std::string text(std::string_view token, std::uint64_t part)
{
    return std::string(token) + "." + std::to_string(part);
}

std::optional<Mark> markOf(const HistoryEntry& line)
{
    if (!line.run || line.undone || line.back)
        return std::nullopt;
    const std::string_view run = *line.run;
    const auto dot = run.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::nullopt;
    std::uint64_t part = 0;
    const char* last = run.data() + run.size();
    const auto [end, error] = std::from_chars(run.data() + dot + 1, last, part);
    if (error != std::errc() || end != last || part == 0)
        return std::nullopt;
    return Mark { std::string(run.substr(0, dot)), part };
}

void fold(HistoryEntry& entry, const HistoryEntry& line)
{
    entry.relocated.insert(entry.relocated.end(), line.relocated.begin(), line.relocated.end());
    entry.bytes = Saturating::add(entry.bytes, line.bytes);
}

} // namespace History::Runs

namespace History {

std::string path(const Mac& mac)
{
    return mac.path(displayPath);
}

bool isRecordable(const HistoryEntry& entry)
{
    // A text that isn't valid UTF-8 would be written with replacement characters, and Put Back would
    // then look for a path that never existed.
    const auto valid = [](const std::vector<Relocation>& relocations) {
        return std::all_of(relocations.begin(), relocations.end(), [](const Relocation& relocation) {
            return Platform::allValidUTF8({ relocation.from, relocation.to });
        });
    };
    return Platform::allValidUTF8({ entry.id, entry.title }) && valid(entry.relocated)
        && (!entry.back || valid(*entry.back));
}

std::optional<std::string> encodeLine(const HistoryEntry& entry)
{
    if (!isRecordable(entry))
        return std::nullopt;
    const std::string compact = Json::dump(toJson(entry));
    // Outside texts, compact JSON holds no "/", so every one of them lies inside a text.
    std::string line;
    line.reserve(compact.size() + compact.size() / 8);
    for (char c : compact) {
        if (c == '/')
            line += '\\';
        line += c;
    }
    // A line that wouldn't read back (a date beyond what History reads) would be lost with every
    // item of its clean-up, and hide them from Put Back: it is never written.
    if (!decodeLine(line))
        return std::nullopt;
    return line;
}

std::optional<HistoryEntry> decodeLine(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!Platform::isValidUTF8(line))
        return std::nullopt;
    try {
        return Json::decodeAs<HistoryEntry>(Json::parse(line));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Appended append(const HistoryEntry& entry, const Mac& mac)
{
    const std::string file = path(mac);
    std::error_code folderError;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), folderError);
    auto encoded = encodeLine(entry);
    if (!encoded)
        return { isRecordable(entry) ? "its line wouldn't read back" : "its names aren't valid text" };
    std::string line = std::move(*encoded);
    line += '\n';
    // One open that appends or creates, never truncates: a file another writer has just made is
    // added to, not replaced, and a file that can't be opened for writing stays as it is.
    // Only a regular file of its own name takes the line: a link could send it into another file,
    // and a named pipe would swallow it (or, once full, never return). Opening does not wait.
    constexpr int flags = O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    // A file made here is the user's alone, whatever the umask.
    bool made = false;
    int fd = -1;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0600);
        made = fd >= 0;
        if (fd >= 0 || errno != EEXIST)
            break;
        fd = ::open(file.c_str(), O_RDWR | flags);
        if (fd < 0 && errno == EACCES)
            fd = ::open(file.c_str(), O_WRONLY | flags);
        if (fd < 0 && errno != ENOENT) // gone in between: made again
            break;
    }
    if (fd < 0) // a folder that couldn't be made says more than the missing file in it
        return { whyNotWritten(folderError && errno == ENOENT ? folderError.value() : errno) };
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        (void)::close(fd);
        return { notAFile };
    }
    if (auto why = untrusted(info); !why.empty()) {
        (void)::close(fd);
        return { std::move(why) };
    }
    if (made)
        (void)::fchmod(fd, S_IRUSR | S_IWUSR);
    else if (isOpenToOthers(info))
        (void)::fchmod(fd, info.st_mode & S_IRWXU);
    // Writers of this engine take turns, so one never sees another's line half-way and takes it for
    // an unfinished one. Where the lock is not supported the line is still written.
    (void)::flock(fd, LOCK_EX);
    if (endsMidLine(fd))
        line.insert(line.begin(), '\n');
    // The whole line in one write, so lines of concurrent writers never interleave.
    int error = Platform::writeAll(fd, line);
    // On the disk before the next step: a power cut must not lose a change History was told of.
    if (!error && ::fdatasync(fd) != 0 && errno != EINVAL && errno != EROFS)
        error = errno;
    (void)::close(fd);
    return { error ? whyNotWritten(error) : std::string() };
}

void record(const HistoryEntry& entry, CleanResult& result, const Mac& mac)
{
    HistoryEntry noted = entry;
    for (auto& relocation : noted.relocated)
        relocation = Cleaner::withIdentity(std::move(relocation), mac);
    const Appended appended = append(noted, mac);
    if (appended)
        return;
    result.notInHistory = true;
    if (!result.detail.empty())
        result.detail += ' ';
    result.detail += "It isn't in History, so Put Back can't undo it: " + appended.whyNot + ".";
}

std::vector<HistoryEntry> parse(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    // Each line decodes on its own, so a History of years decodes on every core; only joining the
    // lines of a clean-up and marking what is undone goes in order.
    constexpr std::size_t linesPerPart = 2048;
    std::vector<std::size_t> parts;
    for (std::size_t first = 0; first < lines.size(); first += linesPerPart)
        parts.push_back(first);
    auto decoded = parallelMap(parts, [&](std::size_t first) {
        std::vector<std::optional<HistoryEntry>> part;
        const std::size_t last = std::min(lines.size(), first + linesPerPart);
        part.reserve(last - first);
        for (std::size_t i = first; i < last; ++i)
            part.push_back(decodeLine(lines[i]));
        return part;
    });
    std::vector<HistoryEntry> entries;
    // The clean-ups written item by item whose entry a later line may still add to: a marker line of
    // the id ends them.
    std::map<std::pair<std::string, std::string>, std::size_t> open;
    for (auto& entry : decoded | std::views::join) {
        if (!entry)
            continue;
        if (entry->isUndone()) {
            for (auto it = open.lower_bound({ entry->id, {} }); it != open.end() && it->first.first == entry->id;)
                it = open.erase(it);
        } else if (auto mark = Runs::markOf(*entry)) {
            auto key = std::make_pair(entry->id, std::move(mark->token));
            if (const auto it = open.find(key); it != open.end() && entries[it->second].at == entry->at) {
                Runs::fold(entries[it->second], *entry);
                continue;
            }
            open[std::move(key)] = entries.size();
        }
        entry->run.reset();
        entries.push_back(std::move(*entry));
    }
    // Walking back from the end, an id met on a marker line is undone on every earlier line.
    std::set<std::string> undoneIDs;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const bool marker = it->isUndone();
        if (undoneIDs.count(it->id))
            it->undone = true;
        if (marker)
            undoneIDs.insert(it->id);
    }
    return entries;
}

Loaded read(const Mac& mac)
{
    // Read whole however long, but only from a regular file of that name, never through a link.
    const std::string file = path(mac);
    struct stat info {};
    int error = 0;
    const auto text = Platform::readFile(file, &error, { .followLink = false }, &info);
    if (!text)
        return { {}, whyUnread(file, error) };
    if (auto why = untrusted(info); !why.empty())
        return { {}, std::move(why) };
    makePrivate(file, info);
    // Damage is judged line by line: one bad byte costs its own line, not the whole history.
    return { parse(*text), {} };
}

std::vector<HistoryEntry> load(const Mac& mac)
{
    return read(mac).entries;
}

bool offersPutBack(const HistoryEntry& entry, const Mac& mac)
{
    return !entry.isUndone() && !Cleaner::untrustedPath(entry, mac) && !Cleaner::putBackSet(entry, mac).empty();
}

std::string whyNoLineFits(const Mac& mac)
{
    const std::string file = path(mac);
    const auto whyNot = [](int error) -> std::string {
        switch (error) {
        case EROFS:
            return "the History file is on a read-only disk";
        case EACCES:
        case EPERM:
            return "you don't have permission to write the History file";
        default:
            return whyNotWritten(error);
        }
    };
    // Opened as append opens it, so the answer is the one it would meet; a named pipe without a
    // reader refuses at once, one with a reader is no file, and a link is never followed.
    const Platform::Descriptor fd(
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    std::string room = file;
    if (!fd) {
        const int error = errno;
        if (error == ELOOP || error == ENXIO || error == EISDIR)
            return whyUnread(file, error);
        if (error != ENOENT)
            return whyNot(error);
        // Append makes the file, and the folders it lies in: the nearest that is there must take them.
        auto folder = std::filesystem::path(file).parent_path();
        while (folder.has_relative_path() && ::access(folder.c_str(), F_OK) != 0)
            folder = folder.parent_path();
        if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
            return whyNot(errno);
        room = folder.string();
    } else {
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0)
            return whyNot(errno);
        if (!S_ISREG(info.st_mode))
            return S_ISFIFO(info.st_mode) ? whyUnread(file, ENXIO) : notAFile;
        if (auto why = untrusted(info); !why.empty())
            return why;
    }
    struct statvfs disk {};
    if (::statvfs(room.c_str(), &disk) == 0 && (::geteuid() == 0 ? disk.f_bfree : disk.f_bavail) == 0)
        return whyNotWritten(ENOSPC);
    return {};
}

} // namespace History

} // namespace Quandril
