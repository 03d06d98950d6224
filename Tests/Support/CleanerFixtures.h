#pragma once

// Findings, reports and guards for the cleaner's tests on a fake machine, built by hand so each
// test states only what it is about.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "Support/FakeMachine.h"
#include "Support/FaultyFileOps.h"
#include "Support/MiniCatalog.h"

namespace Quandril::Testing {

inline Finding makeFinding(std::string id, Tier tier, Action action, std::vector<std::string> paths,
                           std::int64_t bytes = 1000)
{
    Finding finding;
    finding.id = std::move(id);
    finding.finder = "test";
    finding.title = "Title of " + finding.id;
    finding.reason = "A reason.";
    finding.getBack = "A way back.";
    finding.tier = tier;
    finding.bytes = bytes;
    finding.paths = std::move(paths);
    finding.action = std::move(action);
    return finding;
}

// The catalog the cleaner's tests share: one never-touch folder and one never-touch name ending.
inline Catalog guardedCatalog()
{
    Catalog catalog = miniCatalog();
    catalog.protected_ = { { "~/Library/Keep", "your keepsakes" } };
    catalog.protectedSuffixes = { { ".keepme", "kept things" } };
    return catalog;
}

inline ScanReport reportOf(const Mac& mac)
{
    ScanReport report;
    report.engine = engineName();
    report.drives = mac.drives();
    return report;
}

inline CleanOptions optionsWith(std::shared_ptr<FileOps> files, bool dryRun = false)
{
    CleanOptions options;
    options.dryRun = dryRun;
    options.includeCautioned = true;
    options.linkMove = true;
    options.files = std::move(files);
    return options;
}

// Options over `files` whose stop answers yes once `after` items have begun going to the Trash or
// away for good; `items` counts them as they begin.
inline CleanOptions stoppingAfter(int after, const std::shared_ptr<FaultyFileOps>& files, int& items)
{
    files->before([&items](const FileOpCall& call, int) {
        if (call.op == FileOp::trash || call.op == FileOp::remove)
            ++items;
    });
    CleanOptions options = optionsWith(files);
    options.stop = [&items, after] { return items >= after; };
    return options;
}

// What moved where, without what History notes of the items in the Trash: a result's relocations
// as its History line holds them.
inline std::vector<Relocation> movesOf(const std::vector<Relocation>& relocations)
{
    std::vector<Relocation> moves;
    for (const auto& relocation : relocations)
        moves.push_back({ relocation.from, relocation.to, relocation.link, relocation.parked });
    return moves;
}

} // namespace Quandril::Testing
