#pragma once

// The plain value records the whole system exchanges: tiers, actions, findings, drives and the
// scan report, with their JSON forms.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Values/Json.h"

namespace Quandril {

struct Mac;

using Clock = std::chrono::system_clock;
using TimePoint = Clock::time_point;

namespace Engine {
inline constexpr std::string_view version = "0.1.0";
}

enum class Tier {
    rebuilds,
    reinstallable,
    personal,
};

namespace TierInfo {
inline constexpr std::array<Tier, 3> allCases { Tier::rebuilds, Tier::reinstallable, Tier::personal };
}

std::string_view rawValue(Tier tier);
std::optional<Tier> tierFromRaw(std::string_view raw);
std::string_view title(Tier tier);
int order(Tier tier);

struct Action {
    enum class Kind {
        delete_,
        trash,
        command,
        move,
        handOff,
        review,
    };

    Kind kind = Kind::review;
    std::optional<std::vector<std::string>> command;
    std::optional<std::string> destination;
    std::optional<std::string> app;
    std::optional<std::string> steps;
    std::optional<bool> moves;
    std::optional<bool> linkable;

    Action() = default;
    explicit Action(Kind kind, std::optional<std::vector<std::string>> command = std::nullopt,
                    std::optional<std::string> destination = std::nullopt,
                    std::optional<std::string> app = std::nullopt, std::optional<std::string> steps = std::nullopt,
                    std::optional<bool> moves = std::nullopt, std::optional<bool> linkable = std::nullopt);

    static const Action& delete_();
    static const Action& trash();
    static const Action& review();

    friend bool operator==(const Action&, const Action&) = default;
};

std::string_view rawValue(Action::Kind kind);
std::optional<Action::Kind> actionKindFromRaw(std::string_view raw);

struct Finding {
    std::string id;
    std::string finder;
    std::string title;
    std::string reason;
    std::string getBack;
    Tier tier = Tier::rebuilds;
    std::int64_t bytes = 0;
    std::vector<std::string> paths;
    std::string drive;
    std::optional<std::string> owner;
    Action action;
    std::optional<std::string> caution;
    std::optional<std::string> blockedBy;
    bool unsure = false;
    std::optional<std::string> duplicateOf;

    Finding() = default;
    // Every field but `drive`, which starts empty until the scanner assigns it.
    Finding(std::string id, std::string finder, std::string title, std::string reason, std::string getBack, Tier tier,
            std::int64_t bytes, std::vector<std::string> paths, std::optional<std::string> owner, Action action,
            std::optional<std::string> caution, std::optional<std::string> blockedBy, bool unsure,
            std::optional<std::string> duplicateOf);
};

struct DriveInfo {
    std::string name;
    std::string path;
    bool isStartup = false;
    std::int64_t totalBytes = 0;
    std::int64_t freeBytes = 0;
    std::int64_t strictFreeBytes = 0;

    // Another drive than the computer's own, where files may be moved and copies looked for: neither
    // the startup drive nor "/", which holds only the system where the home has a volume of its own.
    bool isExternal() const { return !isStartup && path != "/"; }

    friend bool operator==(const DriveInfo&, const DriveInfo&) = default;
};

struct Skipped {
    std::string path;
    std::string why;

    friend bool operator==(const Skipped&, const Skipped&) = default;
};

struct ScanReport {
    std::string engine;
    TimePoint scannedAt {};
    std::vector<DriveInfo> drives;
    std::int64_t trashBytes = 0;
    std::vector<Finding> findings;
    std::vector<Skipped> skipped;
    std::vector<std::string> notes;

    // The first drive marked as the startup drive, if any.
    std::optional<DriveInfo> startup() const;

    // A quick report of the drives and the Trash without scanning.
    static ScanReport status(const Mac& mac);
};

// "quandril 0.1.0"
std::string engineName();

// JSON forms. Dates are ISO 8601 text in UTC.
Json::Value toJson(Tier tier);
Json::Value toJson(Action::Kind kind);
Json::Value toJson(const Action& action);
Json::Value toJson(const Finding& finding);
Json::Value toJson(const DriveInfo& drive);
Json::Value toJson(const Skipped& skipped);
Json::Value toJson(const ScanReport& report);

void decode(const Json::Value& value, Tier& out);
void decode(const Json::Value& value, Action::Kind& out);
void decode(const Json::Value& value, Action& out);
void decode(const Json::Value& value, Finding& out);
void decode(const Json::Value& value, DriveInfo& out);
void decode(const Json::Value& value, Skipped& out);
void decode(const Json::Value& value, ScanReport& out);

} // namespace Quandril
