#include "QuandrilCore/Cleaning/DriveMove.h"

#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/Platform/Volumes.h"

namespace Quandril::DriveMove {

std::optional<DriveInfo> chosenDrive(const std::vector<DriveInfo>& drives, std::string_view wanted)
{
    for (const auto& drive : drives) {
        if (drive.isExternal() && (Platform::sameText(drive.name, wanted) || Platform::sameText(drive.path, wanted)))
            return drive;
    }
    return std::nullopt;
}

bool hasRoom(std::int64_t bytes, const DriveInfo& drive)
{
    std::int64_t need = 0;
    if (__builtin_add_overflow(bytes, bytes / 10, &need))
        return false;
    return need < drive.freeBytes;
}

std::optional<std::string> readOnlyRefusal(const std::optional<DriveInfo>& drive, const std::string& target,
                                           const Mac& mac)
{
    if (!Platform::mountedReadOnly(target))
        return std::nullopt;
    if (drive)
        return drive->name + " is mounted read-only, so nothing can be copied to it.";
    return mac.display(target) + " lies on a drive mounted read-only, so nothing can be copied there.";
}

namespace {

std::optional<struct statx> look(const std::string& path, int* error = nullptr)
{
    struct statx status {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_MNT_ID, &status) != 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    return status;
}

// A folder the drive was mounted at stays behind as a plain folder of the file system above it.
bool isMountRoot(const std::string& path, const struct statx& status)
{
    if (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    const auto above = look(Platform::parentOf(path));
    return path == "/" || !above || above->stx_dev_major != status.stx_dev_major
        || above->stx_dev_minor != status.stx_dev_minor;
}

bool sameMount(const struct statx& a, const struct statx& b)
{
    if ((a.stx_mask & STATX_MNT_ID) && (b.stx_mask & STATX_MNT_ID))
        return a.stx_mnt_id == b.stx_mnt_id;
    return a.stx_dev_major == b.stx_dev_major && a.stx_dev_minor == b.stx_dev_minor;
}

} // namespace

bool stillOn(const DriveInfo& drive, const std::string& path, const Mac& mac)
{
    if (!Platform::within(path, drive.path))
        return false;
    const auto top = look(drive.path);
    // A fake machine's drive is a plain folder, there while the folder is.
    if (mac.isFake())
        return top && S_ISDIR(top->stx_mode);
    if (!top || !S_ISDIR(top->stx_mode) || !isMountRoot(drive.path, *top))
        return false;
    std::string existing = path;
    int error = 0;
    std::optional<struct statx> here = look(existing, &error);
    while (!here && (error == ENOENT || error == ENOTDIR) && existing != drive.path) {
        existing = Platform::parentOf(existing);
        here = look(existing, &error);
    }
    return here && sameMount(*here, *top);
}

std::string notMounted(const DriveInfo& drive)
{
    return drive.name + " isn't mounted any more";
}

CleanResult refusedByID(const std::string& id, std::string detail)
{
    return CleanResult { id, id, CleanResult::Status::refused, std::move(detail), 0, {} };
}

} // namespace Quandril::DriveMove
