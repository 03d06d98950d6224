#pragma once

// The fake Mac the put-back tests share: files of every awkward kind and a drive, with helpers that
// leave behind what each kind of clean-up leaves, recorded in History as the cleaner records it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/FakeMachine.h"

namespace Quandril::Testing {

// Whether anything, even a dangling link, stands at the path.
bool present(const std::string& path);

std::size_t historyLines(const Mac& mac);

// A fake Mac holding files of every awkward kind, and a drive.
struct Scene {
    FakeMachine machine;
    Mac mac;

    Scene();

    static Mac populate(FakeMachine& m);

    std::string at(std::string_view display) const { return machine.at(display); }

    HistoryEntry record(const std::string& id, std::vector<Relocation> relocated) const;

    // What the cleaner leaves behind, made with the real file operations.
    HistoryEntry trashed(const std::string& id, const std::vector<std::string>& displays) const;
    HistoryEntry linked(const std::string& id, const std::vector<std::string>& displays) const;
    HistoryEntry movedToDrive(const std::string& id, const std::string& display) const;
    HistoryEntry parked(const std::string& id, const std::string& display) const;
};

// The relocations a full put-back reports for these items: each from where it went to where it was.
std::vector<Relocation> reversed(const std::vector<Relocation>& items);

} // namespace Quandril::Testing
