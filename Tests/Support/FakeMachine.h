#pragma once

// Builds fake machines for tests: a fresh temporary folder laid out like a Mac, with
// "quandril-fixture.json" at its top. Paths given to the builder are display paths: "~/…" lies in
// the fake home (/Users/me), "/…" lies under the fake root.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Values/Json.h"

namespace Quandril::Testing {

// A temporary folder removed with everything in it when the value goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Resolved with realpath, no trailing "/".
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class FakeMachine {
public:
    FakeMachine();

    const std::string& root() const { return dir_.path(); }
    std::string home() const { return root() + "/Users/me"; }
    // Real path of a display path on this machine.
    std::string at(std::string_view display) const;

    // A file of `bytes` bytes of a repeating pattern (written, so its blocks are allocated).
    FakeMachine& file(std::string_view display, std::int64_t bytes = 0);
    // A file with the given content.
    FakeMachine& text(std::string_view display, std::string_view content);
    // A sparse file: `bytes` long, with no data blocks allocated.
    FakeMachine& sparse(std::string_view display, std::int64_t bytes);
    FakeMachine& folder(std::string_view display);
    // A symbolic link holding `target` exactly as given.
    FakeMachine& link(std::string_view display, std::string_view target);
    // A second name for an existing file.
    FakeMachine& hardLink(std::string_view display, std::string_view existing);
    // Sets the modification time of an existing item (not following a link).
    FakeMachine& modified(std::string_view display, std::chrono::system_clock::time_point when);

    // The fixture written by mac(); starts with one startup drive "Macintosh HD" at "/".
    Json::Value& fixture() { return fixture_; }
    FakeMachine& drive(std::string_view name, std::string_view path, std::int64_t total, std::int64_t free);

    // Writes the fixture and opens the machine.
    Mac mac() const;

private:
    TempDir dir_;
    Json::Value fixture_;
};

// Writes `content` to a real path, creating missing folders.
void writeFile(const std::string& path, std::string_view content);
std::string readFile(const std::string& path);
void makeFolders(const std::string& path);

// True when the process can ignore file permissions (root), so unreadable-folder checks are moot.
bool runningAsRoot();

} // namespace Quandril::Testing
