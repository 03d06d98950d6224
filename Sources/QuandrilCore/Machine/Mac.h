#pragma once

// The engine's one door to the machine: the live computer, or a fake machine made of a folder tree
// with "quandril-fixture.json" at its top. Every read or change of the machine goes through here.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Machine/DiskUsage.h"
#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

namespace Platform {
struct Volume;
}

struct CloudFolder {
    std::string path;
    std::string name; // "iCloud Drive" or "a cloud drive"

    friend bool operator==(const CloudFolder&, const CloudFolder&) = default;
};

struct SimRuntime {
    std::string id;
    std::string name;
    std::int64_t bytes = 0;

    friend bool operator==(const SimRuntime&, const SimRuntime&) = default;
};

// What a folder tree cannot hold about a fake machine.
struct Fixture {
    struct Drive {
        std::string name;
        std::string path; // "/" for the startup volume, else e.g. /Volumes/Backup
        std::int64_t total = 0;
        std::int64_t free = 0;
    };

    std::vector<Drive> drives;
    std::optional<std::vector<std::string>> running;
    std::optional<std::map<std::string, std::string>> lastUsed;
    std::optional<std::vector<std::string>> tools;
    std::optional<std::vector<SimRuntime>> simRuntimes;
    std::optional<double> scale;
    std::optional<std::vector<std::string>> cloud;
};

struct Mac {
    std::string root; // empty on the live machine
    std::string home;
    std::optional<Fixture> fixture;
    std::vector<CloudFolder> cloud;

    Mac(std::string root, std::string home, std::optional<Fixture> fixture);

    // The live machine. Switches off the downloading of cloud placeholders for the process.
    static Mac real();
    // A fake machine; throws on a missing/unreadable fixture or a fixture that does not decode.
    static Mac fake(const std::string& at);

    bool isFake() const { return fixture.has_value(); }

    // Display path ("~", "~/…", or relative to the fake root) to real path, and back.
    std::string path(std::string_view display) const;
    std::string display(std::string_view real) const;

    // Machine queries. None throws: missing data gives an empty or absent answer.
    std::vector<DriveInfo> drives() const;
    std::optional<CloudFolder> cloudFolder(std::string_view path) const;
    Usage usage(const std::string& path) const;
    // Bytes taken from the disk as this machine reports them (a fake one may scale what it measures).
    std::int64_t reported(std::int64_t measured) const;
    // Many sizes at once, measured in parallel; one entry per distinct path.
    std::map<std::string, Usage> usageOf(const std::vector<std::string>& paths) const;
    std::optional<std::string> run(const std::vector<std::string>& command) const;
    std::optional<std::string> which(const std::string& tool) const;
    std::optional<std::vector<SimRuntime>> simulatorRuntimes() const;
    std::optional<TimePoint> lastUsed(const std::string& app) const;
    std::set<std::string> runningBundleIDs() const;

    // Moves an item to the Trash and returns the exact path it got there; throws when it cannot.
    std::string trash(const std::string& path) const;
    // The folder whose size is the Trash's: the desktop's on the live machine, ~/.Trash on a fake one.
    std::string trashFolder() const;
    // What emptying the Trash frees: the items in trashFolder(), not the folder's own blocks, which
    // it keeps once emptied. 0 for a live Trash that isn't ours alone, as nothing is put there.
    std::int64_t trashBytes() const;
    // Runs the command lines, joined with " && ", once with administrator rights.
    bool runAsAdmin(const std::vector<std::vector<std::string>>& commands) const;
};

// The cloud service that syncs a folder, from its file-provider attribute.
std::optional<std::string> fileProvider(const std::string& path);

// Parses the simulator runtime list that the simulator tool prints as JSON.
std::optional<std::vector<SimRuntime>> parseSimulatorRuntimes(std::string_view json);

// The single line a privileged run executes: each element single-quoted, lines joined by " && ".
std::string adminShellLine(const std::vector<std::vector<std::string>>& commands);

// The drives among volumes: those that are browsable and local (unreported counts as yes) and
// report a capacity above 0.
std::vector<DriveInfo> drivesFrom(const std::vector<Platform::Volume>& volumes);

Json::Value toJson(const CloudFolder& folder);
Json::Value toJson(const SimRuntime& runtime);
Json::Value toJson(const Fixture::Drive& drive);
Json::Value toJson(const Fixture& fixture);
void decode(const Json::Value& value, CloudFolder& out);
void decode(const Json::Value& value, SimRuntime& out);
void decode(const Json::Value& value, Fixture::Drive& out);
void decode(const Json::Value& value, Fixture& out);

} // namespace Quandril
