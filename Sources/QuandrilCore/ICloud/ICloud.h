#pragma once

// The iCloud cleanup: finds copies of one file and big files in iCloud Drive without downloading
// anything, and moves chosen files off iCloud onto a drive in chunks, each file downloaded,
// checked byte for byte, parked in "Removed from iCloud" on the drive and only then removed from
// iCloud. Every parked file is recorded in History, from where Put Back can bring it back.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "QuandrilCore/Cleaning/Cleaner.h"
#include "QuandrilCore/Machine/FileOps.h"
#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Values/Json.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril {

// One iCloud file the user may choose to take out of iCloud.
struct CloudItem {
    std::string id; // "icloud-" + 12 hex digits from the path, so a selection survives a new scan
    std::string path;
    std::int64_t bytes = 0;
    bool onMac = false;                 // false for a placeholder whose data lives only in iCloud
    std::optional<std::string> keep;    // the copy that stays; absent for a big single file
    std::optional<bool> keepOnMac;      // whether that copy's data is on this Mac
    std::optional<std::string> caution; // what the user agrees to before it goes

    friend bool operator==(const CloudItem&, const CloudItem&) = default;
};

// Copies of one file, one of which stays.
struct CopyGroup {
    std::string name; // of the copy that stays
    std::int64_t bytes = 0;
    std::string keep;
    std::string keepPlace;        // "iCloud", "this Mac" or a drive's name
    std::vector<CloudItem> items; // only iCloud copies, never the one that stays
    bool sameName = false;        // false: only the size matched, the byte-for-byte check decides

    const std::string& id() const { return keep; }

    friend bool operator==(const CopyGroup&, const CopyGroup&) = default;
};

struct CloudScan {
    std::vector<std::string> roots;
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    std::int64_t onMacBytes = 0;
    std::vector<CopyGroup> groups;  // largest saving first
    std::vector<CloudItem> biggest; // big files in no group, largest first, at most 50
    std::int64_t packages = 0;

    // Every group's items in group order, then the big files.
    std::vector<CloudItem> items() const;

    friend bool operator==(const CloudScan&, const CloudScan&) = default;
};

// How one cleanup runs; built for each call, never stored, as ScanOptions is.
struct CloudOptions {
    std::string drive {}; // name or path of the drive to park on
    std::int64_t chunkBytes = 0;
    std::int64_t marginBytes = 0; // kept free on the startup drive after a chunk is downloaded
    bool agreed = false;
    bool dryRun = false;
    // The file operations every change goes through; the live ones when empty. Tests set their own.
    std::shared_ptr<FileOps> files {};

    FileOps& fileOps() const { return files ? *files : FileOps::live(); }
};

Json::Value toJson(const CloudItem& item);
Json::Value toJson(const CopyGroup& group);
Json::Value toJson(const CloudScan& scan);
void decode(const Json::Value& value, CloudItem& out);
void decode(const Json::Value& value, CopyGroup& out);
void decode(const Json::Value& value, CloudScan& out);

namespace ICloud {

// The folder at the top of a parking drive; the scan never walks a folder of this name.
inline constexpr std::string_view parkedFolder = Cleaner::iCloudParkedFolder;

using Progress = std::function<void(const std::string& line)>;
using Stop = std::function<bool()>;

// ---- Scanning (ICloudScan.cpp) ----

// One file a walk found.
struct Entry {
    std::string path;
    std::int64_t bytes = 0;
    bool onMac = false;
    TimePoint modified {}; // whole seconds

    friend bool operator==(const Entry&, const Entry&) = default;
};

// Counters carried through the walks of the iCloud roots.
struct Tally {
    std::int64_t files = 0;
    std::int64_t bytes = 0;
    std::int64_t onMacBytes = 0;
    std::int64_t packages = 0;
};

// Folders with these extensions (lower-cased) count as one item: tallied, never listed.
const std::set<std::string, std::less<>>& packageExtensions();

// The iCloud folders to walk, real paths: iCloud Drive itself, then the Mac's own folders it syncs.
std::vector<std::string> roots(const Mac& mac);
// "iCloud Drive/…" or "Desktop/…" for a path below a root; anything else as Mac::display shows it.
std::string display(const std::string& path, const Mac& mac);
// The same against roots read before (a scan's), touching no disk.
std::string display(const std::string& path, const std::vector<std::string>& roots, const Mac& mac);

// Looks through iCloud Drive, six of the Mac's folders and the drives (Mac::drives() when absent)
// without reading any file's contents. Never fails: what can't be read doesn't count.
CloudScan scan(const Mac& mac, const std::optional<std::vector<DriveInfo>>& drives, std::int64_t minBytes,
               std::int64_t bigBytes, std::int64_t sizeOnlyBytes);

// The scan's building blocks, open to tests.
// One tree, links not followed, hidden names and "Removed from iCloud" pruned, packages passed
// through as one item. Files of at least `minBytes` outside packages become entries; every file
// counts in the tally.
std::vector<Entry> walk(const std::string& root, const Mac& mac, std::int64_t minBytes, Tally& tally);
// "Report copy 2.PDF" -> "report.pdf": lower-cased, copy words and copy numbers removed.
std::string normalizedName(std::string_view name);
// "icloud-" + the first 6 bytes of the SHA-256 of the path, in lower-case hex.
std::string itemID(std::string_view path);

// ---- Removing files from iCloud (ICloudClean.cpp) ----

// Moves the chosen files of `scan` off iCloud onto the drive `options.drive`, chunk by chunk. One
// result per requested id: the refusals found before any work first, then the chunks' results in
// chunk order. Never throws; `progress` and `stop` are called on the calling thread.
std::vector<CleanResult> clean(const std::vector<std::string>& ids, const CloudScan& scan, const Mac& mac,
                               const CloudOptions& options, const Progress& progress, const Stop& stop);

// ---- Downloading, verifying and parking (ICloudPark.cpp) ----

// Asks for every path to be downloaded and waits while the bytes on the Mac keep changing; the
// paths that arrived. A fake machine has everything at once.
std::set<std::string> download(const std::vector<std::string>& paths, const Mac& mac, const Progress& progress);
// Whether the file's downloaded data is current.
bool isCurrent(const std::string& path, const Mac& mac);
// Gives a downloaded file back to iCloud; nothing on a fake machine.
void evict(const std::string& path, const Mac& mac);
// The first free place for the file below the drive's "Removed from iCloud" folder.
std::string parkedPath(const std::string& path, const DriveInfo& drive, const Mac& mac);
// What parking each file of one cleanup shares: the drive, the machine, how it runs, and the hash
// of each copy that stays, read once and "" when it could not be read.
struct ParkRun {
    const DriveInfo& drive;
    const Mac& mac;
    const CloudOptions& options;
    const Progress& progress;
    std::map<std::string, std::string> keeperHashes;
};
// Checks, copies, verifies and removes one file; called by `clean` for each file of a chunk.
// `arrived` holds the paths whose download arrived.
CleanResult park(const CloudItem& item, const std::set<std::string>& arrived, ParkRun& run);

// Whether History can record parking the item on the drive: every text it would write is valid UTF-8.
bool recordable(const CloudItem& item, const DriveInfo& drive);

} // namespace ICloud

} // namespace Quandril
