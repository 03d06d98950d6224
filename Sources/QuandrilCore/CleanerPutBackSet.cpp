// What Put Back may move: only what the engine itself put in the Trash or parked, named by plain
// paths (absolute and lexically normal). A history line naming anything else is refused whole.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Cleaner.h"
#include "QuandrilCore/ICloud.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"

namespace Quandril {

namespace {

constexpr std::string_view parkingFolders[] = { "Moved from Mac", ICloud::parkedFolder };

bool plainPath(const std::string& path, const Mac& mac)
{
    if (path.empty() || path.front() != '/' || !Platform::isLexicallyNormal(path))
        return false;
    return !mac.isFake() || Platform::below(path, mac.root);
}

bool inParkingFolder(const std::string& path, const std::vector<DriveInfo>& drives)
{
    for (const auto& drive : drives) {
        if (drive.isStartup)
            continue;
        for (const auto folder : parkingFolders)
            if (Platform::below(path, drive.path + "/" + std::string(folder)))
                return true;
    }
    return false;
}

} // namespace

bool Cleaner::isInTrash(std::string_view path, const Mac& mac)
{
    if (mac.isFake())
        return Platform::below(path, mac.path("~/.Trash"));
    return Platform::isTrashPath(path, mac.home);
}

std::optional<std::string> Cleaner::untrustedPath(const HistoryEntry& entry, const Mac& mac)
{
    for (const auto& relocation : entry.relocated)
        for (const auto* path : { &relocation.from, &relocation.to })
            if (!plainPath(*path, mac))
                return *path;
    return std::nullopt;
}

std::vector<Relocation> Cleaner::putBackSet(const HistoryEntry& entry, const Mac& mac)
{
    std::vector<Relocation> set;
    std::optional<std::vector<DriveInfo>> drives;
    for (const auto& relocation : entry.relocated) {
        if (relocation.link.value_or(false) || !plainPath(relocation.from, mac) || !plainPath(relocation.to, mac))
            continue;
        bool back = isInTrash(relocation.to, mac);
        if (!back && relocation.parked.value_or(false)) {
            if (!drives)
                drives = mac.drives();
            back = inParkingFolder(relocation.to, *drives);
        }
        if (back)
            set.push_back(relocation);
    }
    return set;
}

} // namespace Quandril
