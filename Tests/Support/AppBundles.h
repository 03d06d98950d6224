#pragma once

// Writes application bundles into fake machines: a folder X.app with Contents/Info.plist in XML
// or binary form (or none, or a broken one), an executable and, if asked, an App Store receipt.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "FakeMachine.h"

namespace Quandril::Testing {

enum class InfoPlist { binary, xml, none, broken };

struct AppSpec {
    std::optional<std::string> bundleID; // "CFBundleIdentifier"
    std::optional<std::string> teamID;   // "QuandrilTeamID", the fake machine's signing team
    InfoPlist infoPlist = InfoPlist::binary;
    bool appStoreReceipt = false;

    AppSpec() = default;
    explicit AppSpec(std::string id)
        : bundleID(std::move(id))
    {
    }
    AppSpec& team(std::string id)
    {
        teamID = std::move(id);
        return *this;
    }
    AppSpec& plist(InfoPlist kind)
    {
        infoPlist = kind;
        return *this;
    }
    AppSpec& receipt()
    {
        appStoreReceipt = true;
        return *this;
    }
};

// Lays the bundle down at a real path and returns that path.
std::string writeAppBundle(const std::string& path, const AppSpec& spec = {});

// The same at a display path of the machine ("/Applications/X.app", "~/Applications/X.app").
std::string addApp(FakeMachine& machine, std::string_view display, const AppSpec& spec = {});

} // namespace Quandril::Testing
