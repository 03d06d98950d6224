#pragma once

// Small pieces the cleaner's roads share: results that always carry the finding's id, title and
// bytes, path pieces, and one place where a file operation's failure becomes a sentence.

#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::CleanerSteps {

inline CleanResult outcome(const Finding& finding, CleanResult::Status status, std::string detail,
                           std::vector<Relocation> relocated = {})
{
    CleanResult result;
    result.id = finding.id;
    result.title = finding.title;
    result.status = status;
    result.detail = std::move(detail);
    result.bytes = finding.bytes;
    result.relocated = std::move(relocated);
    return result;
}

inline CleanResult refused(const Finding& finding, std::string detail)
{
    return outcome(finding, CleanResult::Status::refused, std::move(detail));
}

inline CleanResult wouldDo(const Finding& finding, std::string detail)
{
    return outcome(finding, CleanResult::Status::wouldDo, std::move(detail));
}

inline CleanResult failed(const Finding& finding, std::string detail, std::vector<Relocation> relocated = {})
{
    return outcome(finding, CleanResult::Status::failed, std::move(detail), std::move(relocated));
}

inline CleanResult done(const Finding& finding, std::string detail, std::vector<Relocation> relocated = {})
{
    return outcome(finding, CleanResult::Status::done, std::move(detail), std::move(relocated));
}

using Platform::lastComponent;
using Platform::parentOf;

// Something stands at the path, a dangling link included, and the privacy fence lets us see it.
// A fenced place counts as free; the no-replace operations still refuse to replace it.
bool occupied(const std::string& path);

// How one file operation ended: nothing when it worked, else the error in words and whether the
// failure was something standing in the way.
struct Failure {
    std::string description;
    bool inTheWay = false;
};

template <typename Operation>
std::optional<Failure> attempt(Operation&& operation)
{
    try {
        std::forward<Operation>(operation)();
        return std::nullopt;
    } catch (const std::system_error& error) {
        return Failure { Cleaner::describe(error), error.code() == std::errc::file_exists };
    } catch (const std::exception& error) {
        return Failure { Cleaner::describe(error), false };
    }
}

// Whether `copy` is a complete, byte-for-byte copy of `original`: same kind of item, every file
// read on both sides, none missing, extra or different. Heeds the stop in force (ECANCELED).
bool verifiedCopy(const std::string& original, const std::string& copy);

// The folders that making `folder` would add, innermost first: it and those on the way to it that
// don't exist yet.
std::vector<std::string> missingFolders(const std::string& folder);

// Takes back what making a folder added, once the work it was made for has failed: each folder of
// `made` (innermost first) that is still empty goes, until one holds something or can't go.
void removeEmptyFolders(FileOps& files, const std::vector<std::string>& made);

// The path with every link on the way resolved; the path itself when it can't be resolved.
std::string resolvedPath(const std::string& path);

// Throws std::system_error (ELOOP) when the path no longer leads to `expected` (a folder on the
// way, or the item, became a link since the checks). Called right before each change, so a swap
// made while earlier work ran (a long copy or comparison) is never followed.
void ensureLeadsTo(const std::string& path, const std::string& expected);
// The same for a path the checks found free of links.
inline void ensureDirect(const std::string& path)
{
    ensureLeadsTo(path, path);
}

// The text History needs to write a finding's record, all of it valid UTF-8.
bool recordable(const Finding& finding);

using History::unrecordable;

// What follows a finding's caution when the user hasn't agreed to it.
inline constexpr const char* cautionWaits = " It waits until you've agreed to it, knowing that.";

} // namespace Quandril::CleanerSteps
