// Carrying out a clean-up: a fresh scan, one guard, then each requested finding in turn, every
// change recorded in History before the next one starts.

#include "QuandrilCore/Cleaner.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <system_error>

#include "QuandrilCore/CleanerSteps.h"
#include "QuandrilCore/Compare.h"
#include "QuandrilCore/FileHelpers.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/PrivacyFence.h"

namespace Quandril {

namespace CleanerSteps {

bool occupied(const std::string& path)
{
    if (PrivacyFence::shared().blocks(path))
        return false;
    return exists(path) || isSymlink(path);
}

bool verifiedCopy(const std::string& original, const std::string& copy)
{
    // A link copied as a link has no contents to compare; anything else must be the same kind.
    if (isSymlink(original) || isSymlink(copy))
        return false;
    if (isDirectory(original) != isDirectory(copy))
        return false;
    const TreeComparison comparison = compareTreesFully(original, copy, true);
    return !comparison.incomplete && comparison.diff.identical();
}

std::string resolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

void ensureLeadsTo(const std::string& path, const std::string& expected)
{
    if (resolvedPath(path) != expected)
        throw std::system_error(ELOOP, std::generic_category(), "it is reached through a link now, so it was left alone");
}

bool recordable(const Finding& finding)
{
    using Platform::isValidUTF8;
    if (!isValidUTF8(finding.id) || !isValidUTF8(finding.title))
        return false;
    for (const auto& path : finding.paths)
        if (!isValidUTF8(path))
            return false;
    if (finding.duplicateOf && !isValidUTF8(*finding.duplicateOf))
        return false;
    return !finding.action.destination || isValidUTF8(*finding.action.destination);
}

} // namespace CleanerSteps

namespace {

bool sameID(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    // Repaired invalid texts would all compare equal; only real text may match another spelling.
    return Platform::isValidUTF8(a) && Platform::isValidUTF8(b) && Platform::compareNFC(a, b) == 0;
}

// Acting on one finding never throws by design; this keeps a surprise from ending the whole run
// and taking the other findings' results with it.
CleanResult actSafely(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                      const CleanOptions& options)
{
    try {
        return Cleaner::act(finding, report, mac, guardian, options);
    } catch (const std::exception& error) {
        return CleanerSteps::failed(finding, "Something went wrong: " + Cleaner::describe(error));
    }
}

bool worthRecording(const CleanResult& result)
{
    return result.status == CleanResult::Status::done
        || (result.status == CleanResult::Status::failed && !result.relocated.empty());
}

} // namespace

std::vector<CleanResult> Cleaner::clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                                        const CleanOptions& options)
{
    const ScanReport report = Scanner::scan(mac, catalog, options.scan);

    std::vector<PathGuard::Rule> extra;
    extra.reserve(options.scan.extraProtected.size());
    for (const auto& protectedPath : options.scan.extraProtected)
        extra.push_back({ mac.path(protectedPath.path), protectedPath.why });
    const PathGuard guardian(catalog, mac, extra);

    std::vector<CleanResult> results;
    results.reserve(ids.size());
    for (const auto& id : ids) {
        const Finding* found = nullptr;
        for (const auto& finding : report.findings) {
            if (sameID(finding.id, id)) {
                found = &finding;
                break;
            }
        }
        if (!found) {
            CleanResult missing;
            missing.id = id;
            missing.title = id;
            missing.status = CleanResult::Status::refused;
            missing.detail = "A fresh scan doesn't find this any more; scan again.";
            results.push_back(std::move(missing));
            continue;
        }

        CleanResult result = actSafely(*found, report, mac, guardian, options);
        if (worthRecording(result)) {
            HistoryEntry entry;
            entry.at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
            entry.id = found->id;
            entry.title = found->title;
            entry.action = found->action.kind;
            entry.bytes = found->bytes;
            entry.relocated = result.relocated;
            // Written before the next finding is touched, so a crash later loses no record.
            History::append(entry, mac);
        }
        results.push_back(std::move(result));
    }
    return results;
}

} // namespace Quandril
