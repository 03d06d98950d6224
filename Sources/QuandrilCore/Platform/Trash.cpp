// Moving an item into the Trash of its file system, with the record that reserves its name there.

#include "QuandrilCore/Platform/Trash.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Platform/AtPath.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/IsoDate.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/PartialCopy.h"
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

constexpr unsigned maxAttempts = 100000;

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
    // A copy into this Trash that was killed left its partial copy and the record it reserved.
    reclaimTrashPartials(trash);

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
