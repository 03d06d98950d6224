#pragma once

// What the cleaner's moves to a drive and iCloud's parking share: which drive takes the files,
// whether it has room for them, and the answer for a requested id the last scan doesn't hold.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril::DriveMove {

// The first external drive (DriveInfo::isExternal) that `wanted` names by its name or its path, the
// texts compared as Platform::sameText does.
std::optional<DriveInfo> chosenDrive(const std::vector<DriveInfo>& drives, std::string_view wanted);

// Strictly more free space than `bytes` and a tenth of them; a need past the 64-bit range fits on no
// drive.
bool hasRoom(std::int64_t bytes, const DriveInfo& drive);

// Whether `path`, which need not exist yet, still lies on `drive`: the drive is still mounted at its
// path and the nearest existing item of `path` is on that mount, not on the folder the mount point
// leaves behind when the drive goes. A fake machine's drive is a plain folder: there while it stands.
bool stillOn(const DriveInfo& drive, const std::string& path, const Mac& mac);

// The refusal for a copy to `target` on a drive mounted read-only (a write-protected stick, a
// hibernated system's NTFS): "<name> is mounted read-only, so nothing can be copied to it." naming
// `drive`, or the target when it lies on none; nothing when the drive takes writes.
std::optional<std::string> readOnlyRefusal(const std::optional<DriveInfo>& drive, const std::string& target,
                                           const Mac& mac);

// The clause that says why nothing more goes to a drive that is gone: "<name> isn't mounted any more".
std::string notMounted(const DriveInfo& drive);

// A refusal for a requested id with no item to name it by: the id stands for its title too.
CleanResult refusedByID(const std::string& id, std::string detail);

} // namespace Quandril::DriveMove
