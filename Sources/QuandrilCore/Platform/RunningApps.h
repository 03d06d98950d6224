#pragma once

// Bundle identifiers of running applications: processes whose executable lies inside an app bundle
// (X.app/Contents/…) with an Info.plist.

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace Quandril::Platform {

// The innermost bundle folder (…/X.app) that holds an executable in its Contents folder; absent for
// an executable outside any bundle. A helper app nested in another app is its own bundle.
std::optional<std::string> appBundleOf(std::string_view executable);

// The CFBundleIdentifier of every bundle that a process of this user runs from. Processes whose
// executable cannot be read are passed over.
std::set<std::string> runningBundleIDs();

} // namespace Quandril::Platform
