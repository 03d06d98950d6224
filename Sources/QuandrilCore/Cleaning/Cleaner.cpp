// Carrying out a clean-up: a fresh scan, one guard, then each requested finding in turn, every
// change recorded in History before the next one starts.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace CleanerSteps {

bool occupied(const std::string& path)
{
    return !PrivacyFence::shared().blocks(path) && Platform::nameTaken(path);
}

bool verifiedCopy(const std::string& original, const std::string& copy)
{
    // A link copied as a link has no contents to compare; anything else must be the same kind.
    if (isSymlink(original) || isSymlink(copy))
        return false;
    // Folder by folder through descriptors, so a tree deeper than a path can name still compares.
    // Drives that keep no modes show their own, so modes don't count here.
    try {
        return Platform::sameTree(original, copy, false);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::operation_canceled)
            throw;
        return false; // unreadable: the copy can't be shown complete
    }
}

std::vector<std::string> missingFolders(const std::string& folder)
{
    std::vector<std::string> missing;
    struct stat info {};
    for (std::string at = folder; at.size() > 1 && ::lstat(at.c_str(), &info) != 0 && errno == ENOENT;
         at = parentOf(at))
        missing.push_back(at);
    return missing;
}

void removeEmptyFolders(FileOps& files, const std::vector<std::string>& made)
{
    for (const auto& folder : made) {
        try {
            files.removeFolder(folder);
        } catch (const std::system_error& error) {
            // A folder that was never made leaves the ones above it to take back.
            if (error.code() != std::errc::no_such_file_or_directory)
                return;
        } catch (const std::exception&) {
            return;
        }
    }
}

std::string resolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

void ensureLeadsTo(const std::string& path, const std::string& expected)
{
    if (resolvedPath(path) != expected)
        throw std::system_error(ELOOP, std::generic_category(),
                                "it is reached through a link now, so it was left alone");
}

bool recordable(const Finding& finding)
{
    return Platform::allValidUTF8(
               { finding.id, finding.title, finding.duplicateOf.value_or(""), finding.action.destination.value_or("") })
        && std::all_of(finding.paths.begin(), finding.paths.end(), Platform::isValidUTF8);
}

} // namespace CleanerSteps

namespace {

// Acting on one finding never throws by design; this keeps a surprise from ending the whole run
// and taking the other findings' results with it.
CleanResult actSafely(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                      const CleanOptions& options)
{
    try {
        return Cleaner::act(finding, report, mac, guardian, options);
    } catch (const std::exception& error) {
        // What went before the surprise can't be told: none of it is counted.
        CleanResult result = CleanerSteps::failed(finding, "Something went wrong: " + Cleaner::describe(error));
        result.bytes = 0;
        return result;
    }
}

CleanResult stoppedBefore(const std::string& id)
{
    return DriveMove::refusedByID(id, "Stopped before it started; nothing was touched.");
}

// Done, or failed part way: some items went to the Trash, or a removal for good deleted some of
// it (its bytes, measured, are what went).
bool worthRecording(const CleanResult& result, const Finding& finding, const CleanOptions& options)
{
    if (result.status == CleanResult::Status::done)
        return true;
    if (result.status != CleanResult::Status::failed)
        return false;
    const bool deletesForGood = finding.action.kind == Action::Kind::delete_ && options.permanentCaches;
    return !result.relocated.empty() || (deletesForGood && result.bytes > 0);
}

} // namespace

std::vector<CleanResult> Cleaner::clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                                        const CleanOptions& options)
{
    std::vector<CleanResult> results;
    results.reserve(ids.size());
    // Stopped already: not even the scan is worth its time.
    if (options.stopRequested()) {
        for (const auto& id : ids)
            results.push_back(stoppedBefore(id));
        return results;
    }
    const ScanReport report = Scanner::scan(mac, catalog, options.scan);

    const PathGuard guardian(catalog, mac, PathGuard::userRules(options.scan.extraProtected, mac));
    for (const auto& id : ids) {
        if (options.stopRequested()) {
            results.push_back(stoppedBefore(id));
            continue;
        }
        const Finding* found = nullptr;
        for (const auto& finding : report.findings) {
            if (Platform::sameText(finding.id, id)) {
                found = &finding;
                break;
            }
        }
        if (!found) {
            results.push_back(DriveMove::refusedByID(id, "A fresh scan doesn't find this any more; scan again."));
            continue;
        }

        CleanResult result = actSafely(*found, report, mac, guardian, options);
        if (worthRecording(result, *found, options)) {
            HistoryEntry entry;
            entry.at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
            entry.id = found->id;
            entry.title = found->title;
            entry.action = found->action.kind;
            entry.bytes = result.bytes; // less than the finding's when stopped partway
            entry.relocated = result.relocated;
            // Written before the next finding is touched, so a crash later loses no record.
            History::record(entry, result, mac);
        }
        results.push_back(std::move(result));
    }
    return results;
}

std::string Cleaner::describe(const std::exception& error)
{
    return describeFailure(error);
}

} // namespace Quandril
