#pragma once

// What one path is and holds, told without changing anything: its size, drive, never-touch rules,
// known place, owning app, whether a link leads there, its biggest children and the cloud folders
// left unmeasured. For clients of the engine; the app itself does not ask.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Values/Json.h"

namespace Quandril {

struct Explanation {
    struct Child {
        std::string name; // last path component
        std::int64_t bytes = 0;

        friend bool operator==(const Child&, const Child&) = default;
    };

    std::string path; // as given
    std::int64_t bytes = 0;
    std::int64_t unreadable = 0;
    std::optional<std::string> drive;
    // The rule that covers the path itself; for a path a cloud service syncs, the service's name.
    std::optional<std::string> neverTouch;
    std::vector<std::string> holdsNeverTouch;
    std::optional<std::string> knownAs; // "Title [id]"
    std::optional<std::string> owner;   // "installed: X", "uninstalled: X", "macOS" or "unknown"
    bool throughLink = false;
    std::vector<Child> biggest;             // at most 12, biggest first
    std::vector<std::string> notLookedInto; // display paths

    friend bool operator==(const Explanation&, const Explanation&) = default;
};

Json::Value toJson(const Explanation::Child& child);
Json::Value toJson(const Explanation& explanation);
void decode(const Json::Value& value, Explanation::Child& out);
void decode(const Json::Value& value, Explanation& out);

namespace Explainer {

// How many children an explanation lists.
inline constexpr std::size_t biggestCount = 12;

// `path` is a real path (callers resolve "~/…" with Mac::path). Never throws; whatever cannot be
// found stays absent or empty. Safe from any thread; respects the privacy fence of the moment.
Explanation explain(const std::string& path, const Mac& mac, const Catalog& catalog);

} // namespace Explainer

} // namespace Quandril
