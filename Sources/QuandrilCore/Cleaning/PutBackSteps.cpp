// The folders Put Back made at old places, and the merge that puts a trashed folder back over one.

#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "QuandrilCore/Cleaning/PutBackSteps.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::PutBackSteps {

namespace {

// A folder Put Back made holds a few items; one holding more than this is not taken for one.
constexpr std::size_t mergeLimit = 10000;

// Whether `returned`, inside the folder at the item's old place, has a free place inside the
// trashed folder: the folders on the way there real folders or missing, the place itself free.
bool freeInsideTrashed(const Relocation& item, const std::string& returned)
{
    std::string at = item.to;
    const std::string rest = returned.substr(item.from.size() + 1);
    for (std::size_t start = 0; start <= rest.size();) {
        auto slash = rest.find('/', start);
        if (slash == std::string::npos)
            slash = rest.size();
        at += "/" + rest.substr(start, slash - start);
        const auto info = itemAt(at);
        if (!info)
            return true;
        if (slash == rest.size() || !S_ISDIR(info->st_mode))
            return false;
        start = slash + 1;
    }
    return false;
}

} // namespace

std::optional<struct stat> itemAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

std::set<std::string> returnedItems(const std::vector<HistoryEntry>& history, const Mac& mac)
{
    std::set<std::string> paths;
    for (const auto& entry : history) {
        if (!entry.isUndone() || Cleaner::untrustedPath(entry, mac))
            continue;
        for (const auto& item : Cleaner::putBackSet(entry, mac))
            paths.insert(item.from);
    }
    return paths;
}

std::optional<MergePlan> mergePlan(const Relocation& item, const std::set<std::string>& returned)
{
    const auto place = itemAt(item.from), trashed = itemAt(item.to);
    if (!place || !trashed || !S_ISDIR(place->st_mode) || !S_ISDIR(trashed->st_mode))
        return std::nullopt;
    MergePlan plan;
    std::vector<std::string> pending { item.from };
    std::size_t looked = 0;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const auto names = Platform::readEntryNames(folder);
        if (!names)
            return std::nullopt;
        plan.folders.push_back(folder);
        for (const auto& name : *names) {
            if (++looked > mergeLimit)
                return std::nullopt;
            const std::string path = folder + "/" + name;
            if (returned.count(path)) {
                if (!freeInsideTrashed(item, path))
                    return std::nullopt;
                plan.returned.push_back(path);
                continue;
            }
            const auto info = itemAt(path);
            if (!info || !S_ISDIR(info->st_mode))
                return std::nullopt;
            pending.push_back(path);
        }
    }
    if (plan.returned.empty())
        return std::nullopt;
    return plan;
}

std::optional<MergePlan> Merges::operator()(const Relocation& item)
{
    if (!returned)
        returned = returnedItems(history, mac);
    return mergePlan(item, *returned);
}

void mergeBack(FileOps& files, const Mac& mac, const Relocation& item, const MergePlan& plan)
{
    std::vector<std::pair<std::string, std::string>> moved; // (old place, place inside the trashed folder)
    try {
        for (const auto& path : plan.returned) {
            const std::string inside = item.to + path.substr(item.from.size());
            files.createFolder(Platform::parentOf(inside));
            files.moveNoReplace(path, inside);
            moved.emplace_back(path, inside);
        }
        for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder)
            files.removeFolder(*folder);
        files.moveNoReplace(item.to, item.from);
    } catch (const std::system_error& error) {
        std::string stranded;
        for (const auto& folder : plan.folders) {
            try {
                files.createFolder(folder);
            } catch (const std::exception&) {
            }
        }
        for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
            try {
                files.moveNoReplace(it->second, it->first);
            } catch (const std::exception&) {
                stranded += "; " + mac.display(it->first) + " is in the Trash at " + mac.display(it->second);
            }
        }
        if (stranded.empty())
            throw;
        throw std::system_error(error.code(), std::string(error.what()) + stranded);
    }
}

} // namespace Quandril::PutBackSteps
