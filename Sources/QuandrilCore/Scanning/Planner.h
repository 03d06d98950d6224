#pragma once

// Free-space goals, and the planner that turns a scan report and a goal into cumulative routes for
// one drive.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// How much room to keep free on a drive: a number of bytes, or a share of the drive's size.
// Clients keep the text the user typed and parse it again; a goal has no JSON form.
class Goal {
public:
    enum class Kind {
        bytes,
        share,
    };

    static Goal ofBytes(std::int64_t count);
    // A parsed share lies strictly between 0 and 1.
    static Goal ofShare(double fraction);

    // "50GB", "1.5 t", "500mb", "50" (gigabytes), "20%"; nothing when the text is not a goal.
    static std::optional<Goal> parse(std::string_view text);

    Kind kind() const { return kind_; }
    // The payload of a byte goal (0 for a share goal).
    std::int64_t byteCount() const { return count_; }
    // The payload of a share goal (0 for a byte goal).
    double fraction() const { return fraction_; }

    // The byte target on a drive of `totalBytes`, held within the signed 64-bit range.
    std::int64_t bytes(std::int64_t totalBytes) const;

    // "50 GB", "20% of the drive".
    std::string description() const;

    friend bool operator==(const Goal&, const Goal&) = default;

private:
    Goal(Kind kind, std::int64_t count, double fraction);

    Kind kind_ = Kind::bytes;
    std::int64_t count_ = 0;
    double fraction_ = 0;
};

// One way toward the goal: everything of the earlier classes plus one more.
struct Route {
    std::string id;
    std::string title;
    std::vector<std::string> findingIDs;
    std::int64_t bytes = 0;
    std::int64_t freeAfter = 0;
    bool reachesGoal = false;

    friend bool operator==(const Route&, const Route&) = default;
};

struct Plan {
    DriveInfo drive;
    std::string goal;
    std::int64_t goalBytes = 0;
    std::int64_t freeNow = 0;
    std::int64_t trashBytes = 0;
    std::vector<Route> routes;
    std::optional<Route> fewest;
    std::vector<std::string> notes;

    friend bool operator==(const Plan&, const Plan&) = default;
};

namespace Planner {

// The plan for the drive named by `drive` (its path or its name), else for the startup drive;
// nothing when neither exists. Byte sums stop at the 64-bit limits rather than wrap.
std::optional<Plan> plan(const ScanReport& report, const Goal& goal,
                         const std::optional<std::string>& drive = std::nullopt);

} // namespace Planner

Json::Value toJson(const Route& route);
Json::Value toJson(const Plan& plan);
void decode(const Json::Value& value, Route& out);
void decode(const Json::Value& value, Plan& out);

} // namespace Quandril
