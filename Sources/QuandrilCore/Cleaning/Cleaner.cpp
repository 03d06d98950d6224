// Carrying out a clean-up: a fresh scan, one guard, then each requested finding in turn, every
// change recorded in History before the next one starts.

#include "QuandrilCore/Cleaning/Cleaner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/Cleaning/HistoryRuns.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Move.h"
#include "QuandrilCore/Platform/Token.h"
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

// History's lines of one finding's clean-up, written as it goes: what moved so far before each
// further item is touched, then the rest with the bytes once the finding is done, all with one `at`
// and the clean-up's run token, so that History reads them as one entry. A clean-up that needs one
// line only is written as it always was.
class Journal {
public:
    Journal(const Finding& finding, const Mac& mac)
        : mac_(mac)
    {
        base_.at = std::chrono::time_point_cast<std::chrono::seconds>(Clock::now());
        base_.id = finding.id;
        base_.title = finding.title;
        base_.action = finding.action.kind;
        base_.bytes = 0;
    }

    void note(const std::vector<Relocation>& relocated)
    {
        if (relocated.size() <= noted_)
            return;
        HistoryEntry line = lineOf(relocated, 0);
        CleanResult scratch;
        History::record(line, scratch, mac_);
        if (scratch.notInHistory && !failure_)
            failure_ = scratch.detail;
        noted_ = relocated.size();
    }

    void finish(CleanResult& result, bool worthRecording)
    {
        if (failure_) {
            result.notInHistory = true;
            result.detail += (result.detail.empty() ? "" : " ") + *failure_;
        }
        if (!worthRecording)
            return;
        // The first line is the whole entry when nothing was noted along the way.
        HistoryEntry line = lines_ == 0 ? base_ : lineOf(result.relocated, result.bytes);
        if (lines_ == 0) {
            line.bytes = result.bytes; // less than the finding's when stopped partway
            line.relocated = result.relocated;
        }
        // The sentence of a line that couldn't be written is said once.
        CleanResult scratch;
        History::record(line, failure_ ? scratch : result, mac_);
    }

private:
    // The relocations not noted yet, on the clean-up's next line.
    HistoryEntry lineOf(const std::vector<Relocation>& relocated, std::int64_t bytes)
    {
        if (!token_) {
            const auto bits = Platform::Token::random().bits[0];
            char hex[17];
            std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
            token_ = hex;
        }
        HistoryEntry line = base_;
        line.bytes = bytes;
        line.relocated.assign(relocated.begin() + std::ptrdiff_t(std::min(noted_, relocated.size())), relocated.end());
        line.run = History::Runs::text(*token_, ++lines_);
        return line;
    }

    const Mac& mac_;
    HistoryEntry base_;
    std::optional<std::string> token_;
    std::size_t noted_ = 0;
    std::uint64_t lines_ = 0;
    std::optional<std::string> failure_;
};

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

        // Each item that left its place is in History before the next is touched, and the rest
        // before the next finding is, so a crash or a kill at any point loses no record.
        Journal journal(*found, mac);
        CleanOptions noting = options;
        noting.moved = [&journal, &options](const std::vector<Relocation>& relocated) {
            journal.note(relocated);
            options.noteMoved(relocated);
        };
        CleanResult result = actSafely(*found, report, mac, guardian, noting);
        journal.finish(result, worthRecording(result, *found, options));
        results.push_back(std::move(result));
    }
    return results;
}

std::string Cleaner::describe(const std::exception& error)
{
    return describeFailure(error);
}

} // namespace Quandril
