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

// The first drive other than the startup drive that `wanted` names by its name or its path, the
// texts compared as Platform::sameText does.
std::optional<DriveInfo> chosenDrive(const std::vector<DriveInfo>& drives, std::string_view wanted);

// Strictly more free space than `bytes` and a tenth of them; a need past the 64-bit range fits on no
// drive.
bool hasRoom(std::int64_t bytes, const DriveInfo& drive);

// A refusal for a requested id with no item to name it by: the id stands for its title too.
CleanResult refusedByID(const std::string& id, std::string detail);

} // namespace Quandril::DriveMove
