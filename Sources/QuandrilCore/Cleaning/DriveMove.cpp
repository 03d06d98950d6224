#include "QuandrilCore/Cleaning/DriveMove.h"

#include <utility>

#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril::DriveMove {

std::optional<DriveInfo> chosenDrive(const std::vector<DriveInfo>& drives, std::string_view wanted)
{
    for (const auto& drive : drives) {
        if (!drive.isStartup && (Platform::sameText(drive.name, wanted) || Platform::sameText(drive.path, wanted)))
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

CleanResult refusedByID(const std::string& id, std::string detail)
{
    return CleanResult { id, id, CleanResult::Status::refused, std::move(detail), 0, {} };
}

} // namespace Quandril::DriveMove
