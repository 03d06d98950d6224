#include "Support/LiveHome.h"

#include <algorithm>
#include <ctime>
#include <filesystem>

#include <gtest/gtest.h>

#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Trash.h"
#include "Support/TrashClient.h"

namespace Quandril::Testing {

namespace {

// The local time as the Trash writes it, worked out here apart from the engine's own way.
std::string localTime(TimePoint at)
{
    const std::time_t seconds = Clock::to_time_t(at);
    std::tm local {};
    ::localtime_r(&seconds, &local);
    char text[32];
    return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local));
}

} // namespace

LiveHome::LiveHome(const std::optional<std::string>& dataHome)
    : data("XDG_DATA_HOME", dataHome ? std::optional(dir.path() + *dataHome) : std::nullopt)
{
    makeFolders(dir.path() + "/home");
}

std::string LiveHome::trash() const
{
    return Platform::homeTrashFolder(mac.home);
}

std::string LiveHome::trashed(const std::string& id, const std::string& path, std::chrono::seconds ago,
                              bool noted) const
{
    const std::string arrived = mac.trash(path);
    const auto at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now()) - ago;
    if (ago.count() != 0) {
        const std::string record = recordOf(arrived);
        const std::string text = readFile(record);
        writeFile(record, text.substr(0, text.find("DeletionDate=")) + "DeletionDate=" + localTime(at) + "\n");
    }
    HistoryEntry entry { at, id, id, Action::Kind::trash, 1, { { path, arrived, {}, {} } }, {} };
    if (noted) {
        CleanResult result;
        History::record(entry, result, mac);
    } else {
        History::append(entry, mac);
    }
    return arrived;
}

std::vector<std::string> LiveHome::listed(const std::string& also) const
{
    const auto text = runTool({ "trash-list" });
    EXPECT_TRUE(text.has_value());
    std::vector<std::string> places;
    std::size_t start = 0;
    for (auto end = text->find('\n'); end != std::string::npos; start = end + 1, end = text->find('\n', start)) {
        const std::string line = text->substr(start, end - start);
        const std::string place = line.size() > 20 ? line.substr(20) : line; // after the date and time
        if (place.starts_with(dir.path() + "/") || place.starts_with(also + "/"))
            places.push_back(place);
    }
    std::sort(places.begin(), places.end());
    return places;
}

std::string LiveHome::recordOf(const std::string& trashed)
{
    return Platform::parentOf(Platform::parentOf(trashed)) + "/info/" + Platform::lastComponent(trashed) + ".trashinfo";
}

void emptyTrash(const std::string& trash)
{
    for (const char* folder : { "/files", "/info" })
        for (const auto& entry : std::filesystem::directory_iterator(trash + folder))
            std::filesystem::remove_all(entry.path());
}

} // namespace Quandril::Testing
