#pragma once

// Steam's files on a fake machine: the Steam folder, its library list, app manifests and the games'
// folders.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Support/FakeMachine.h"

namespace Quandril::Testing {

inline constexpr std::string_view steamFolder = "~/Library/Application Support/Steam";

// steamFolder followed by `rest` ("/steamapps/…").
std::string steamPath(std::string_view rest);

// The text as it is written between quotes in a VDF file: backslashes and double quotes escaped.
std::string vdfEscaped(std::string_view text);

// An app manifest. The values go in between quotes as given, so VDF escapes are the caller's.
std::string manifest(const std::string& appID, const std::string& name, const std::string& installDir);

struct ListedLibrary {
    std::string path; // as Steam writes it: a real path, or "~/…"
    std::vector<std::string> apps;
};

// A "libraryfolders.vdf" with the entries numbered "0", "1", … in the given order.
std::string libraryList(const std::vector<ListedLibrary>& libraries);

// Writes the library list into the Steam folder (which it creates, with its "steamapps").
void writeLibraryList(FakeMachine& machine, const std::vector<ListedLibrary>& libraries);

// A game of the library at `library` (a display path): its manifest, and when `bytes` is not
// negative a file of that size in its install folder.
void installGame(FakeMachine& machine, std::string_view library, const std::string& appID, const std::string& name,
                 const std::string& installDir, std::int64_t bytes);

} // namespace Quandril::Testing
