#pragma once

// The fake machine the move-to-drive tests share: a drive to move to, and the findings they move.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/CleanerFixtures.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"

namespace Quandril::Testing {

// A fake machine with an external drive "Backup" that has 1 GB free.
struct Bench {
    FakeMachine machine;
    std::shared_ptr<FaultyFileOps> files = std::make_shared<FaultyFileOps>();

    Bench() { machine.drive("Backup", "/Volumes/Backup", 2'000'000'000, 1'000'000'000); }

    std::string backup(const std::string& rest = "") const { return machine.at("/Volumes/Backup" + rest); }

    // Written once, so that a snapshot taken after the first call sees the fixture file unchanged.
    const Mac& mac()
    {
        if (!mac_)
            mac_ = machine.mac();
        return *mac_;
    }

    CleanResult run(Finding finding, CleanOptions options)
    {
        const Mac& mac = this->mac();
        for (auto& path : finding.paths)
            if (path.front() == '~' || path.front() == '/')
                path = machine.at(path);
        return Cleaner::act(finding, reportOf(mac), mac, PathGuard(guardedCatalog(), mac), options);
    }

    CleanOptions options(bool dryRun = false) const
    {
        CleanOptions out = optionsWith(files, dryRun);
        out.moveTo = "Backup";
        return out;
    }

private:
    std::optional<Mac> mac_;
};

inline Finding personalMove(std::vector<std::string> paths, std::int64_t bytes = 1000)
{
    return makeFinding("move", Tier::personal, Action(Action::Kind::move), std::move(paths), bytes);
}

inline Finding soundLibrary(std::vector<std::string> paths, std::optional<std::string> owner = "Synth")
{
    Finding finding = makeFinding("sounds", Tier::reinstallable,
                                  Action(Action::Kind::handOff, std::nullopt, std::nullopt, std::string("Synth"),
                                         std::string("Use its Library menu"), std::nullopt, true),
                                  std::move(paths), 5000);
    finding.owner = std::move(owner);
    return finding;
}

} // namespace Quandril::Testing
