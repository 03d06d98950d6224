#include "Support/PutBackScene.h"

#include <algorithm>
#include <utility>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/IsoDate.h"

namespace Quandril::Testing {

namespace {

constexpr const char* drive = "/Volumes/Backup";

std::string lastComponent(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

} // namespace

bool present(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::size_t historyLines(const Mac& mac)
{
    const auto text = readFile(History::path(mac));
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

Scene::Scene()
    : mac(populate(machine))
{
}

Mac Scene::populate(FakeMachine& m)
{
    const auto old = *Platform::parseIso8601("2020-01-02T03:04:05Z");
    m.drive("Backup", drive, 1'000'000'000'000, 500'000'000'000).folder(drive);
    m.text("~/Documents/report.txt", "quarterly\n").modified("~/Documents/report.txt", old);
    m.text("~/Documents/b.txt", "bee");
    m.text("~/Documents/Project/notes.md", "# notes\n")
        .text("~/Documents/Project/bin/run.sh", "#!/bin/sh\n")
        .file("~/Documents/Project/empty", 0)
        .text("~/Documents/Project/read only.txt", "keep")
        .text("~/Documents/Project/na\xC3\xAFve\nname.txt", "odd name")
        .link("~/Documents/Project/link", "notes.md")
        .link("~/Documents/Project/dangling", "../nowhere")
        .modified("~/Documents/Project/notes.md", old);
    ::chmod(m.at("~/Documents/report.txt").c_str(), 0640);
    ::chmod(m.at("~/Documents/Project/bin/run.sh").c_str(), 0755);
    ::chmod(m.at("~/Documents/Project/read only.txt").c_str(), 0444);
    ::chmod(m.at("~/Documents/Project/bin").c_str(), 0700);
    m.file("~/Library/Sounds/Pack/kick.wav", 3000).file("~/Library/Sounds/Pack/sub/snare.wav", 2000);
    m.file("~/Library/Sounds/Loop.aif", 1500);
    m.file("~/Library/Mobile Documents/com~apple~CloudDocs/big.mov", 5000);
    return m.mac();
}

HistoryEntry Scene::record(const std::string& id, std::vector<Relocation> relocated) const
{
    HistoryEntry entry { Clock::now(), id, "Title of " + id, Action::Kind::trash, 4321, std::move(relocated), {} };
    EXPECT_TRUE(History::append(entry, mac));
    return entry;
}

HistoryEntry Scene::trashed(const std::string& id, const std::vector<std::string>& displays) const
{
    std::vector<Relocation> records;
    for (const auto& display : displays)
        records.push_back({ at(display), FileOps::live().trash(mac, at(display)), {}, {} });
    return record(id, records);
}

HistoryEntry Scene::linked(const std::string& id, const std::vector<std::string>& displays) const
{
    auto& files = FileOps::live();
    const std::string folder = at(std::string(drive) + "/Sound Libraries/Apple");
    files.createFolder(folder);
    std::vector<Relocation> records;
    for (const auto& display : displays) {
        const std::string item = at(display), place = folder + "/" + lastComponent(item);
        files.copy(item, place);
        records.push_back({ item, place, {}, {} });
        records.push_back({ item, files.trash(mac, item), {}, {} });
        files.createLink(item, place);
        records.push_back({ item, place, true, {} });
    }
    return record(id, records);
}

HistoryEntry Scene::movedToDrive(const std::string& id, const std::string& display) const
{
    auto& files = FileOps::live();
    const std::string item = at(display);
    const std::string target = at(std::string(drive) + "/Moved from Mac/" + lastComponent(item));
    files.createFolder(at(std::string(drive) + "/Moved from Mac"));
    files.copy(item, target);
    return record(id, { { item, target, {}, {} }, { item, files.trash(mac, item), {}, {} } });
}

HistoryEntry Scene::parked(const std::string& id, const std::string& display) const
{
    const std::string item = at(display);
    const std::string place = at(std::string(drive) + "/Removed from iCloud/" + lastComponent(item));
    FileOps::live().createFolder(at(std::string(drive) + "/Removed from iCloud"));
    FileOps::live().moveNoReplace(item, place);
    return record(id, { { item, place, {}, true } });
}

std::vector<Relocation> reversed(const std::vector<Relocation>& items)
{
    std::vector<Relocation> out;
    for (const auto& item : items)
        out.push_back({ item.to, item.from, {}, {} });
    return out;
}

} // namespace Quandril::Testing
