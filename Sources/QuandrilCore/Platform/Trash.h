#pragma once

// The desktop Trash as freedesktop.org describes it, so that desktop file managers can restore what
// the engine trashes: the item goes into a Trash's "files" folder, and a NAME.trashinfo file in its
// "info" folder records where it came from and when.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace Quandril::Platform {

// The user's own Trash: $XDG_DATA_HOME/Trash, or home + "/.local/share/Trash" when XDG_DATA_HOME is
// unset, empty or not absolute; where it really is, with the links on its way resolved (the user may
// keep the data folders on another disk) and no "/" doubled.
std::string homeTrashFolder(const std::string& home);
// Where the trashed items of the user's own Trash lie: homeTrashFolder(home) + "/files".
std::string homeTrashFiles(const std::string& home);

// True for a path strictly inside the "files" folder of one of this user's Trash folders: the
// home Trash of `home` (homeTrashFiles, or the default one under ~/.local/share when XDG_DATA_HOME
// points elsewhere now), or "$topdir/.Trash-UID/files/..." and "$topdir/.Trash/UID/files/..." with
// this user's UID, where $topdir is the top of a mount (when it can't be examined, the text decides).
// A folder that merely looks like a Trash, such as a copy of one on a drive, doesn't count.
bool isTrashPath(std::string_view path, const std::string& home);

// isTrashPath for many paths at once, as History asks it for every line: the home Trash's folders
// are resolved on the first question, and each drive Trash's top is examined once.
class TrashPaths {
public:
    explicit TrashPaths(std::string home);
    bool holds(std::string_view path) const;

private:
    std::string home_;
    mutable std::optional<std::pair<std::string, std::string>> files_;
    mutable std::map<std::string, bool, std::less<>> tops_;
};

// True for a path shaped like an item of one of this user's drive Trashes, whether or not the drive
// is mounted there now: what went to a drive's Trash went to a Trash, even once the drive is gone.
bool looksLikeDriveTrashItem(std::string_view path);

// The text of a .trashinfo file's Path= value: bytes other than letters, digits, "-", "_", ".",
// "~" and "/" percent-encoded.
std::string trashInfoPath(std::string_view absolutePath);

// A moment as the Trash's DeletionDate= writes it, in local time without a zone: the local clock's
// reading counted as if it were UTC, so that it compares with a record's deletedLocal.
std::chrono::system_clock::time_point onLocalClock(std::chrono::system_clock::time_point moment);

// What the Trash's record of an item says.
struct TrashRecord {
    std::string origin; // the place it came from, absolute and lexically normal
    // DeletionDate= on the local clock (see onLocalClock); nothing when it gives none that reads.
    std::optional<std::chrono::system_clock::time_point> deletedLocal;
    // DeletionDate= exactly as written (empty when it gives none), and when the record file was last
    // written ("seconds.nanoseconds"): together they tell this record from one written anew under the
    // same name, in whatever time zone it is read.
    std::string deletionText;
    std::string written;
};

// The record of an item, or why there's none to go by.
struct TrashRecordReading {
    std::optional<TrashRecord> record;
    std::string trouble;    // else why not, for the inside of brackets: "there is none", "it is a link", ...
    bool untrusted = false; // the trouble is that another user owns it or may change it
};

// The Trash's record of the item `trashed` (lying directly in a Trash's "files" folder), the
// Trash's "info/NAME.trashinfo", with the place made absolute (a drive's Trash records it relative
// to the drive's top). Another program sharing the Trash may have put something else under that
// name, so this is what makes the item ours. Only a regular file of a record's size, owned by this
// user and writable by no one else, counts; it is read without following links or waiting.
TrashRecordReading readTrashRecord(const std::string& trashed);

// After the item `trashed`, lying directly in a Trash's "files" folder, went back to `origin`:
// removes its record when that record names `origin` as the place the item came from, so the file
// manager lists no broken entry and the name is free again. True when a record was removed; a
// record naming another place, or none at all, is left alone.
bool removeTrashRecord(const std::string& trashed, const std::string& origin);

// The top of the drive whose Trash ("$topdir/.Trash-UID" or "$topdir/.Trash/UID", this user's UID)
// holds the path in its "files" folder, judged by the text alone; nothing for any other path.
std::optional<std::string> driveTrashTop(std::string_view path);

// Whether a drive is mounted at `folder` now: it is a folder on another device than its parent's, or "/".
bool isMountTop(const std::string& folder);

using TrashMover = std::function<void(const std::string& from, const std::string& to)>;

// Moves the item at `path` (a link itself, never its target) into the Trash of its file system: the
// user's own Trash when it lies on the same device, else the Trash at the top of the item's mount:
// $topdir/.Trash/UID when an administrator made a shared $topdir/.Trash, otherwise $topdir/.Trash-UID,
// recording the place relative to $topdir there. The record is written first and reserves the name; what copies into
// that Trash that were killed left (a partial copy and its record) goes first (reclaimTrashPartials). Returns the exact
// path the item got. A folder with another drive mounted inside it is refused (EBUSY). A copy across
// mounts heeds the stop in force (Stop.h): ECANCELED, the item whole where it was, no copy or record left. Throws
// std::system_error when it cannot; the item then stays where it was and no .trashinfo file is left behind. `move` must
// never replace an existing item (tests pass their own).
std::string moveToTrash(const std::string& path, const std::string& home, const TrashMover& move = {});

// Throws std::system_error (EBUSY) when a drive is mounted inside `item` (`shown` names it): in the
// Trash that drive would go along, and emptying the Trash would delete its files.
void refuseWhenMountedInside(const std::string& item, const std::string& shown);

} // namespace Quandril::Platform
