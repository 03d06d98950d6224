#pragma once

// Carrying out and undoing clean-ups, and the history file that records them.
//
// A clean-up never throws: every request yields a CleanResult whose status says whether it was
// done, would be done (dry run), was refused by a safety rule (nothing touched) or failed, with one
// sentence for the user and the list of what moved. Every change to files goes through a FileOps.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "QuandrilCore/Machine/FileOps.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Scanning/PathGuard.h"
#include "QuandrilCore/Scanning/Scanner.h"
#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// One item a clean-up moved or copied, so it can be put back or found again.
struct Relocation {
    std::string from;           // where it was: the place a put-back restores it to
    std::string to;             // where it, or a copy of it, is now
    std::optional<bool> link;   // true: a symbolic link to `to` was left at `from`
    std::optional<bool> parked; // true: `to` is a parked copy a put-back may move back
    // What the item in the Trash was when History noted it ("file", "folder", "link" or "other",
    // its own size, its modification time to the second), so that Put Back can tell it from
    // whatever another Trash client later put under the same name. Absent on older lines. A
    // folder's own size is no part of it (some file systems change it on a remount). The time is
    // kept in seconds: files may carry dates past the year 2262, which nanoseconds can't hold.
    std::optional<std::string> kind = std::nullopt;
    std::optional<std::int64_t> size = std::nullopt;
    std::optional<std::chrono::sys_seconds> modified = std::nullopt;
    // The Trash's record of it when History noted it: its DeletionDate= text as written (local
    // time without a zone) and when the record file was written ("seconds.nanoseconds"), so that
    // Put Back knows the very record again in any time zone. Absent on older lines.
    std::optional<std::string> deletionDate = std::nullopt;
    std::optional<std::string> recordWritten = std::nullopt;

    friend bool operator==(const Relocation&, const Relocation&) = default;
};

struct CleanResult {
    enum class Status {
        done,
        wouldDo,
        refused,
        failed,
    };

    std::string id;
    std::string title;
    Status status = Status::refused;
    std::string detail;
    std::int64_t bytes = 0;
    std::vector<Relocation> relocated;
    // True when the change was made but its History line couldn't be written (the detail says
    // why): so Put Back can't undo a clean-up, and History still offers Put Back for what a
    // put-back brought back; absent otherwise.
    std::optional<bool> notInHistory = std::nullopt;

    friend bool operator==(const CleanResult&, const CleanResult&) = default;
};

std::string_view rawValue(CleanResult::Status status);
std::optional<CleanResult::Status> cleanStatusFromRaw(std::string_view raw);

// How one clean-up runs; built for each call, never stored, as ScanOptions is.
struct CleanOptions {
    bool dryRun = false;
    bool includeCautioned = false;
    bool permanentCaches = false;
    std::optional<std::string> moveTo {};
    bool linkMove = false;
    ScanOptions scan {};
    // The file operations to go through; the live ones when empty. Tests set their own.
    std::shared_ptr<FileOps> files {};
    // Asked before each finding and between the items of one (from the clean-up's own thread);
    // once it answers true the clean-up goes no further, and what it did so far is recorded.
    // Never asked when empty.
    std::function<bool()> stop {};
    // Told what moved so far (the list the result will hold) before each further item of a finding
    // is touched, so that History names what left its place before the next step: Cleaner::clean
    // sets it. Never told when empty.
    std::function<void(const std::vector<Relocation>&)> moved {};

    FileOps& fileOps() const { return files ? *files : FileOps::live(); }
    bool stopRequested() const { return stop && stop(); }
    void noteMoved(const std::vector<Relocation>& relocated) const
    {
        if (moved)
            moved(relocated);
    }
};

// One line of the history file.
struct HistoryEntry {
    TimePoint at {};
    std::string id;
    std::string title;
    Action::Kind action = Action::Kind::trash;
    std::int64_t bytes = 0;
    std::vector<Relocation> relocated;
    std::optional<bool> undone; // true on the marker line a put-back writes, and when loaded before one
    // On the line a put-back writes when it is stopped part way: what came back (each from where it
    // lay to its old place), while `relocated` keeps only what is still away, so that this line is
    // the one a later Put Back (of any version) brings the rest back from. Absent otherwise.
    std::optional<std::vector<Relocation>> back = std::nullopt;
    // On each line of a clean-up written item by item: the clean-up's own token and the line's number
    // in it ("token.2"), so that its lines read as one entry, and a reader going backwards knows
    // where the entry begins. Absent on a clean-up written as one line, and on entries as loaded.
    std::optional<std::string> run = std::nullopt;

    bool isUndone() const { return undone.value_or(false); }

    friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

// JSON forms (History.cpp); keys are the field names, `link`, `parked`, `kind`, `size`, `modified`,
// `deletionDate`, `recordWritten`, `undone`, `back` and `run` only when present.
Json::Value toJson(CleanResult::Status status);
Json::Value toJson(const Relocation& relocation);
Json::Value toJson(const CleanResult& result);
Json::Value toJson(const HistoryEntry& entry);
void decode(const Json::Value& value, CleanResult::Status& out);
void decode(const Json::Value& value, Relocation& out);
void decode(const Json::Value& value, CleanResult& out);
void decode(const Json::Value& value, HistoryEntry& out);

// The append-only history file (History.cpp), "~/Library/Application Support/Quandril/history.jsonl".
namespace History {

inline constexpr std::string_view displayPath = "~/Library/Application Support/Quandril/history.jsonl";

// The real path of the history file on the machine.
std::string path(const Mac& mac);

// Whether every text of the entry is valid UTF-8, so the line reads back exactly as written.
bool isRecordable(const HistoryEntry& entry);

// The sentence for a change refused because History couldn't record it.
inline constexpr std::string_view unrecordable
    = "Its name or path isn't valid UTF-8 text, so History couldn't record the change; rename it and scan again.";

// One compact JSON line without its line feed, every "/" written as "\/"; absent when the entry
// is not recordable, or its line wouldn't read back.
std::optional<std::string> encodeLine(const HistoryEntry& entry);
// One line (with or without its line feed); absent when it is not a readable entry.
std::optional<HistoryEntry> decodeLine(std::string_view line);

// What became of a line: written whole, or why not, as the end of a sentence for the user ("the
// disk is full").
struct Appended {
    std::string whyNot; // empty when the whole line was written

    explicit operator bool() const { return whyNot.empty(); }
};

// Appends one line. Never truncates or replaces the file; an entry that is not recordable is not
// written. Callers may ignore the answer.
Appended append(const HistoryEntry& entry, const Mac& mac);

// Appends the line of a change that was made. When it can't be written, the result says so and
// why (`notInHistory`, and a sentence added to its detail); its status stays, as the change stands.
void record(const HistoryEntry& entry, CleanResult& result, const Mac& mac);

// Every readable line in file order (oldest first), each entry before a marker line of the same id
// marked undone. The lines of one clean-up written item by item (same id, `at` and run token, no
// marker line of that id between) are one entry, at the place of its first line: relocations in
// file order, bytes summed. A damaged line is skipped; the others still load.
std::vector<HistoryEntry> load(const Mac& mac);

// What load found, and, when the file is there but gives no entries (another user's, one that can't
// be read, or something other than a file), why not, as the end of a sentence for the user.
struct Loaded {
    std::vector<HistoryEntry> entries;
    std::string whyNot;
};
Loaded read(const Mac& mac);
// The same for the text of a history file.
std::vector<HistoryEntry> parse(std::string_view text);

// Whether Put Back has anything to bring back for the entry: it is in force, every path of it is
// plain, and something of it went to a Trash of `mac`'s user or was parked (Cleaner::putBackSet).
// An entry without relocations never does.
bool offersPutBack(const HistoryEntry& entry, const Mac& mac);
// The same for each of many entries, index for index, with the Trash folders and the drives looked
// up once for all of them.
std::vector<bool> offersPutBack(const std::vector<HistoryEntry>& entries, const Mac& mac);

// Whether a line could be added now, asked without adding one: empty when it could; otherwise why
// not, as the end of a sentence for the user (the disk is full, a read-only disk, no permission,
// something other than the user's own file). Never waits on what stands at the name (a named pipe)
// and never follows a link; a file or folder it needs but lacks counts as one append would make.
std::string whyNoLineFits(const Mac& mac);

} // namespace History

namespace Cleaner {

// The one entry point for acting on findings (Cleaner.cpp): scans afresh, acts on each id that the
// fresh scan still reports, records every action that changed something, and returns one result
// per id in request order.
std::vector<CleanResult> clean(const std::vector<std::string>& ids, const Mac& mac, const Catalog& catalog,
                               const CleanOptions& options);

// Put Back (CleanerUndo.cpp): returns the items of the newest entry in force for `id` to where they
// were, then appends a marker line. Never replaces anything it finds in an item's old place. An item
// already back at its old place (the very item the line noted, its Trash name empty), as a put-back
// that was cut short leaves it, is skipped. `stop` is asked before anything changes and between
// items (from Put Back's own thread); once it answers true Put Back goes no further, and a line
// noting what came back and what is still away is appended. So is it when a move across drives is
// stopped part way (ECANCELED, its partial copy gone). Never asked when empty.
CleanResult undo(const std::string& id, const Mac& mac, bool dryRun, FileOps& files = FileOps::live(),
                 const std::function<bool()>& stop = {});

// Moves with administrator rights, never replacing nor moving into anything at `to`: true only when
// afterwards the item is at `to` and nothing is left at `from`. Runs through `files.runAsAdmin`,
// which the live operations refuse on a fake machine.
bool adminMoveNoReplace(const std::string& from, const std::string& to, const Mac& mac,
                        FileOps& files = FileOps::live());

// The folder at the top of a drive that the iCloud cleanup parks items in (ICloud::parkedFolder):
// Put Back brings them back from there, so the cleaner knows its name.
inline constexpr std::string_view iCloudParkedFolder = "Removed from iCloud";

// The relocations of the entry that Put Back moves back: those inside a Trash of `mac`'s user
// (isInTrash) and the parked ones inside a drive's parking folder ("Moved from Mac" or "Removed
// from iCloud" at the top of a drive other than the startup one). Only relocations whose paths are
// plain (see untrustedPath) are among them.
std::vector<Relocation> putBackSet(const HistoryEntry& entry, const Mac& mac);
// The relocation with what now lies at its `to` noted (kind, size but for a folder, modification
// time, and on the live machine the Trash's record of it), when that is inside a Trash of `mac`'s
// user (History notes it on every line it writes); else unchanged.
Relocation withIdentity(Relocation relocation, const Mac& mac);
// Whether the item described by `info` is the one the relocation noted; true when it noted nothing.
// A folder's own size doesn't count.
bool sameIdentity(const Relocation& relocation, const struct stat& info);
// Why the item of `relocation`, one of the put-back set of a line written at `at`, can't come back
// from where it lies, as the sentence for the user: it isn't there, another Trash client's item
// holds its Trash name, it changed since Gorrin put it there, the Trash's record of it can't be read
// or trusted, or the Trash or drive it went to isn't where it was. Nothing when it can come back.
std::optional<std::string> notThere(const Relocation& relocation, TimePoint at, const Mac& mac);
// After the item of `relocation` moved from its Trash name back to its old place: when what
// arrived isn't the item that was checked (`checked`, as it lay in the Trash right before), another
// Trash client swapped its own item in meanwhile; that one goes back to the Trash name, and the
// sentence for the user says what happened. Nothing when the right item came back.
std::optional<std::string> movedAnother(const Relocation& relocation, const struct stat& checked, FileOps& files,
                                        const Mac& mac);
// Why nothing of the line can come back, when something of it went to a Trash that isn't where it
// was (a drive mounted elsewhere now, a Trash that is no longer the user's); nothing otherwise.
std::optional<std::string> trashGone(const HistoryEntry& entry, const Mac& mac);

// A path inside a Trash of `mac`'s user: on a fake machine its ~/.Trash, on the live machine one of
// the user's real Trash folders (Platform::isTrashPath); a folder that merely looks like a Trash
// doesn't count. The path is taken as written: lexically normal, as putBackSet requires.
bool isInTrash(std::string_view path, const Mac& mac);
// The first path of the entry's relocations that Put Back must not act on: one that is not
// absolute or not lexically normal (holding "..", "." or "//", as a line changed by hand may), or
// that lies outside a fake machine. Nothing when every path is plain.
std::optional<std::string> untrustedPath(const HistoryEntry& entry, const Mac& mac);

// The cleaner's own steps, open to tests (CleanerActions.cpp, CleanerMoves.cpp and
// CleanerLinkMoves.cpp). Each returns one result and never throws.

// Safety checks in a fixed order, then the work of the finding's action kind.
CleanResult act(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                const CleanOptions& options);
// What the search for never-touch paths inside a folder met.
struct InsideSearch {
    std::optional<std::string> why;        // the reason of the first never-touch rule met
    std::optional<std::string> unexamined; // else the first folder whose entries couldn't all be examined

    friend bool operator==(const InsideSearch&, const InsideSearch&) = default;
};
// Searches the folder at `path` (CleanerInside.cpp). A part it can't open, list or look at is named
// in `unexamined` and the search goes on, so a rule met anywhere still gives its reason. Nothing is
// met when the path is no folder or the privacy fence blocks it. At most `limit` entries are looked
// at; past them the folder counts as holding none.
inline constexpr std::size_t insideLimit = 200000;
InsideSearch protectedInside(const std::string& path, const PathGuard& guardian, std::size_t limit = insideLimit);

// Copy to a drive's "Moved from Mac" folder (or the action's destination), verify, trash the original.
CleanResult moveToDrive(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                        const CleanOptions& options);
// Copy each item to the drive's "Sound Libraries" folder, verify, trash it, leave a link in its place.
CleanResult moveWithLinks(const Finding& finding, const ScanReport& report, const Mac& mac, const PathGuard& guardian,
                          const CleanOptions& options);
// Compare with the copy a drive already holds, byte for byte, then trash the Mac's copy.
CleanResult removeCopy(const Finding& finding, const std::string& keeping, const Mac& mac, const PathGuard& guardian,
                       const CleanOptions& options);

// The drive that moves go to: the first non-startup drive of the report named `moveTo` by name or path.
std::optional<DriveInfo> targetDrive(const ScanReport& report, const std::optional<std::string>& moveTo);
// Room for `bytes` plus a tenth, strictly less than the drive's free bytes.
bool hasRoom(std::int64_t bytes, const DriveInfo& drive);

// The item's new path in the Trash, asking for the administrator password on the live machine when
// the plain move fails; nothing when neither works.
std::optional<std::string> trashOrAsk(const std::string& path, const Mac& mac, FileOps& files = FileOps::live());
// Whether a link at `at` pointing to `to` exists now, asking as above when the plain link fails.
bool linkOrAsk(const std::string& at, const std::string& to, const Mac& mac, FileOps& files = FileOps::live());

// The user-facing description of a file-system failure: the same as describeFailure.
std::string describe(const std::exception& error);

} // namespace Cleaner

} // namespace Quandril
