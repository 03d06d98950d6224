#include "QuandrilCore/Platform/Trash.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Home.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Volumes.h"

namespace Quandril::Platform {

namespace {

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

// The device a folder is, or would be once made, on: that of its nearest existing ancestor.
dev_t deviceOf(std::string path)
{
    for (;;) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            return info.st_dev;
        if (path == "/")
            fail(errno, "can't read " + path);
        path = parentOf(path);
    }
}

// The top folder of the mount holding `folder` (an existing folder).
std::string mountTop(const std::string& folder, dev_t device)
{
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved))
        fail(errno, "can't read " + folder);
    std::string top = resolved;
    while (top != "/") {
        const std::string up = parentOf(top);
        struct stat info {};
        if (::stat(up.c_str(), &info) != 0 || info.st_dev != device)
            break;
        top = up;
    }
    return top;
}

[[noreturn]] void refuse(const std::string& trash, std::string_view why)
{
    fail(EPERM, "the Trash folder " + trash + " " + std::string(why) + ", so Gorrin won't use it");
}

// 0 when `trash` is a real folder of ours, made private when it was missing (`made` then says so);
// else why not, with `why` saying what is wrong with the folder that is there.
int ownTrashFolder(const std::string& trash, std::string& why, bool& made)
{
    made = ::mkdir(trash.c_str(), 0700) == 0;
    if (made)
        return 0;
    if (errno != EEXIST)
        return errno;
    struct stat info {};
    if (::lstat(trash.c_str(), &info) != 0)
        return errno;
    why = S_ISDIR(info.st_mode) ? whyNotOurs(info) : "is not a folder";
    return why.empty() ? 0 : EPERM;
}

// $topdir/.Trash/UID when an administrator made $topdir/.Trash for every user (a real folder with the
// sticky bit, no link) and this user's folder in it is usable; else $topdir/.Trash-UID. `made` says
// whether this call made the folder.
std::string topTrashFolder(const std::string& top, bool& made)
{
    const uid_t uid = ::getuid();
    const std::string shared = joinPath(top, ".Trash");
    std::string why;
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
        const std::string mine = shared + "/" + std::to_string(uid);
        if (ownTrashFolder(mine, why, made) == 0)
            return mine;
    }
    const std::string trash = joinPath(top, ".Trash-" + std::to_string(uid));
    if (const int error = ownTrashFolder(trash, why, made); error == EPERM)
        refuse(trash, why);
    else if (error != 0)
        fail(error, "can't make the Trash " + trash);
    return trash;
}

// The Trash's info folder, opened once the Trash and both its folders are seen to be ours: another
// user's would let them read and take what we trash, or plant items and records that Put Back would
// take for ours. What is missing is made private, nothing is made in a folder that isn't ours, and
// none is reached through a link.
Descriptor openOwnTrash(const std::string& trash)
{
    const auto ensureOurs = [&](const Descriptor& folder, const std::string& shown) {
        struct stat info {};
        if (::fstat(folder.get(), &info) != 0)
            fail(errno, "can't read " + shown);
        if (const auto why = whyNotOurs(info); !why.empty())
            refuse(shown, why);
    };
    makeFolders(trash, 0700);
    const Descriptor top = openFolder(trash);
    ensureOurs(top, trash);
    Descriptor info;
    for (const char* name : { "files", "info" }) {
        const std::string shown = trash + "/" + name;
        if (::mkdirat(top.get(), name, 0700) != 0 && errno != EEXIST)
            fail(errno, "can't make " + shown);
        Descriptor folder(::openat(top.get(), name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder)
            fail(errno, "can't reach " + shown);
        ensureOurs(folder, shown);
        info = std::move(folder);
    }
    return info;
}

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

// The place the folder really is, links on the way resolved: the real path of its nearest existing
// folder followed by the names still missing. The lexically normal text when nothing can be resolved.
std::string realPlace(const std::string& path)
{
    std::string known = lexicallyNormal(path), rest;
    for (;;) {
        char resolved[PATH_MAX];
        if (::realpath(known.c_str(), resolved))
            return rest.empty() ? std::string(resolved) : joinPath(resolved, rest);
        if (errno != ENOENT || known == "/")
            return lexicallyNormal(path);
        rest = rest.empty() ? lastComponent(known) : joinPath(lastComponent(known), rest);
        known = parentOf(known);
    }
}

std::string localDeletionDate()
{
    // The same reading of the local clock that Put Back compares records with.
    std::string text = formatIso8601(onLocalClock(std::chrono::system_clock::now()));
    if (!text.empty() && text.back() == 'Z')
        text.pop_back();
    return text;
}

// A name for the Trash: the item's name, then the name followed by " 2", " 3", ...; cut short at a
// character boundary when the .trashinfo file's name would be longer than a file name may be.
std::string candidateName(const std::string& name, unsigned attempt)
{
    std::string suffix;
    if (attempt > 1)
        suffix.append(" ").append(std::to_string(attempt));
    constexpr std::size_t longest = NAME_MAX - (sizeof ".trashinfo" - 1);
    if (name.size() + suffix.size() <= longest)
        return name + suffix;
    std::size_t keep = longest - suffix.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
        --keep;
    return name.substr(0, keep) + suffix;
}

// False only for a folder seen to lie on the same file system as its parent: a copy of a
// Trash folder, not one at the top of a mount. An unplugged drive's folder can't be examined.
bool mayBeMountTop(const std::string& folder)
{
    struct stat self {
    }, up {};
    if (folder == "/" || ::stat(folder.c_str(), &self) != 0 || ::stat(parentOf(folder).c_str(), &up) != 0)
        return true;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

// Whether the path lies in "$topdir/.Trash-UID/files/" or "$topdir/.Trash/UID/files/" with this user's
// UID, for a $topdir that `isTop` accepts.
bool inDriveTrash(std::string_view path, const std::function<bool(const std::string&)>& isTop)
{
    const std::string uid = std::to_string(::getuid());
    constexpr std::string_view files = "/files/";
    for (auto at = path.find(files); at != std::string_view::npos; at = path.find(files, at + 1)) {
        if (at + files.size() >= path.size())
            continue; // the files folder itself, not an item in it
        const std::string_view before = path.substr(0, at);
        const auto slash = before.rfind('/');
        if (slash == std::string_view::npos)
            continue;
        const std::string_view last = before.substr(slash + 1);
        std::string_view top;
        if (last.starts_with(".Trash-") && last.substr(7) == uid)
            top = before.substr(0, slash);
        else if (last == uid && before.substr(0, slash).ends_with("/.Trash"))
            top = before.substr(0, slash - 7);
        else
            continue;
        if (isTop(top.empty() ? std::string("/") : std::string(top)))
            return true;
    }
    return false;
}

constexpr unsigned maxAttempts = 100000;

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

std::string homeTrashFolder(const std::string& home)
{
    // Where the user keeps the data folders is their own choice, links included: the Trash is
    // resolved here once, and everything beneath it is then reached without following links.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/' && mayUseUserFolder(data))
        return realPlace(joinPath(data, "Trash"));
    return realPlace(joinPath(home, ".local/share/Trash"));
}

std::string homeTrashFiles(const std::string& home)
{
    return homeTrashFolder(home) + "/files";
}

bool isTrashPath(std::string_view path, const std::string& home)
{
    // Items trashed while XDG_DATA_HOME named another place still lie in a Trash of this user.
    for (const auto& files : { homeTrashFiles(home), realPlace(joinPath(home, ".local/share/Trash/files")) }) {
        if (below(path, files) && path.size() > files.size() + 1)
            return true;
    }
    return inDriveTrash(path, mayBeMountTop);
}

bool looksLikeDriveTrashItem(std::string_view path)
{
    return inDriveTrash(path, [](const std::string&) { return true; });
}

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

std::optional<std::string> driveTrashTop(std::string_view path)
{
    std::optional<std::string> found;
    inDriveTrash(path, [&](const std::string& top) {
        found = top;
        return true;
    });
    return found;
}

bool isMountTop(const std::string& folder)
{
    struct stat self {
    }, up {};
    if (::stat(folder.c_str(), &self) != 0 || !S_ISDIR(self.st_mode))
        return false;
    if (folder == "/" || ::stat(parentOf(folder).c_str(), &up) != 0)
        return true;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
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

namespace {

// The item as an absolute path; a relative one is taken from the working folder.
std::string absoluteItem(const std::string& path)
{
    std::string item = withoutTrailingSlashes(path);
    if (!item.empty() && item.front() != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            fail(errno, "can't resolve " + path);
        item = std::string(cwd) + (std::string_view(cwd) == "/" ? "" : "/") + item;
    }
    return item;
}

// The Trash that takes an item, and the place its record names.
struct TrashTarget {
    std::string trash;
    std::string recorded;
    bool made = false; // the drive's Trash folder was made for this item
};

TrashTarget trashTargetOf(const std::string& item, const std::string& path, const std::string& home)
{
    // The entry lives in its parent folder's file system; only a Trash there takes it by a rename.
    const std::string parent = parentOf(item);
    struct stat itemInfo {
    }, parentInfo {};
    if (::lstat(item.c_str(), &itemInfo) != 0)
        fail(errno, "can't move " + path + " to the Trash");
    if (::stat(parent.c_str(), &parentInfo) != 0)
        fail(errno, "can't move " + path + " to the Trash");

    TrashTarget target { homeTrashFolder(home), item };
    if (deviceOf(target.trash) != parentInfo.st_dev) {
        const std::string top = mountTop(parent, parentInfo.st_dev);
        target.trash = topTrashFolder(top, target.made);
        // A drive's Trash records the place relative to the drive's top, so that the record still
        // holds wherever the drive is mounted next.
        if (below(item, top))
            target.recorded = item.substr(top.size() + 1);
        else if (top == "/")
            target.recorded = item.substr(1);
    }
    return target;
}

// Writes the record under `infoName`, made exclusively: it reserves the name against other
// trashers. False when another record already holds the name.
bool reserveName(const Descriptor& infoFolder, const std::string& trash, const std::string& infoName,
                 const std::string& record)
{
    const std::string info = trash + "/info/" + infoName;
    const auto forget = [&] { ::unlinkat(infoFolder.get(), infoName.c_str(), 0); };
    Descriptor fd(
        ::openat(infoFolder.get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno == EEXIST)
            return false;
        fail(errno, "can't write the Trash record " + info);
    }
    if (const int error = writeAll(fd.get(), record)) {
        fd.close();
        forget();
        fail(error, "can't write the Trash record");
    }
    if (fd.close() != 0) {
        const int error = errno;
        forget();
        fail(error, "can't write the Trash record " + info);
    }
    return true;
}

// Removes a drive's Trash folder made for an item that didn't go there, while it is still empty:
// a failed try leaves no empty .Trash-UID on the drive.
class MadeTrash {
public:
    explicit MadeTrash(const TrashTarget& target)
        : trash_(target.made ? target.trash : std::string())
    {
    }
    ~MadeTrash()
    {
        if (trash_.empty())
            return;
        for (const char* folder : { "/files", "/info", "" })
            ::rmdir((trash_ + folder).c_str());
    }
    MadeTrash(const MadeTrash&) = delete;
    MadeTrash& operator=(const MadeTrash&) = delete;
    void keep() { trash_.clear(); }

private:
    std::string trash_;
};

} // namespace

void refuseWhenMountedInside(const std::string& item, const std::string& shown)
{
    if (const auto mounts = mountPointsInside(item); !mounts.empty())
        fail(EBUSY, "can't move " + shown + " to the Trash: another drive is mounted inside it, at " + mounts.front());
}

std::string moveToTrash(const std::string& path, const std::string& home, const TrashMover& move)
{
    const std::string item = absoluteItem(path);
    const std::string name = item.substr(item.rfind('/') + 1);
    if (item.empty() || name.empty() || name == "." || name == "..")
        fail(EINVAL, "can't move " + path + " to the Trash");

    refuseWhenMountedInside(item, path);

    const TrashTarget target = trashTargetOf(item, path, home);
    const std::string& trash = target.trash;
    MadeTrash made(target);
    const Descriptor infoFolder = openOwnTrash(trash);

    const std::string record = "[Trash Info]\nPath=" + trashInfoPath(target.recorded)
        + "\nDeletionDate=" + localDeletionDate() + "\n";
    for (unsigned attempt = 1; attempt <= maxAttempts; ++attempt) {
        const std::string candidate = candidateName(name, attempt);
        const std::string infoName = candidate + ".trashinfo";
        if (!reserveName(infoFolder, trash, infoName, record))
            continue;
        const auto forget = [&] { ::unlinkat(infoFolder.get(), infoName.c_str(), 0); };
        const std::string destination = trash + "/files/" + candidate;
        try {
            if (move)
                move(item, destination);
            else
                moveNoReplace(item, destination);
        } catch (const std::system_error& error) {
            forget();
            if (error.code() == std::errc::file_exists)
                continue; // an item without a record holds this name
            throw;
        } catch (...) {
            forget();
            throw;
        }
        made.keep();
        return destination;
    }
    fail(EEXIST, "no free name in the Trash for " + path);
}

} // namespace Quandril::Platform
