// The per-file work of the iCloud cleanup: downloading, checking, parking on a drive, and only then
// removing the file from iCloud. Whenever a step fails, the iCloud file stays where it is.

#include "QuandrilCore/ICloud/ICloud.h"

#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "QuandrilCore/Cleaning/CleanerSteps.h"
#include "QuandrilCore/Cleaning/DriveMove.h"
#include "QuandrilCore/ICloud/ICloudSteps.h"
#include "QuandrilCore/Machine/Compare.h"
#include "QuandrilCore/Machine/FileHelpers.h"
#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PartialCopy.h"
#include "QuandrilCore/Platform/Process.h"
#include "QuandrilCore/Platform/Sync.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril {

using namespace ICloudSteps;
using Status = CleanResult::Status;

namespace {

constexpr auto pollEvery = std::chrono::seconds(1);
constexpr auto givenUpAfter = std::chrono::seconds(180);
constexpr const char* cloudTool = "/usr/bin/brctl";

// No file provider here takes download or evict requests, so each falls to the command-line tool,
// which runs only where it exists.
void askTool(const Mac& mac, const char* request, const std::string& path)
{
    if (Platform::isExecutableFile(cloudTool))
        mac.run({ cloudTool, request, path });
}

std::int64_t allocatedBytes(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return 0;
    return Saturating::multiply(status.st_blocks, 512);
}

// What identifies the file's state: the same item, the same size and the same modification time.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t seconds = 0;
    long nanoseconds = 0;

    friend bool operator==(const Identity&, const Identity&) = default;
};

std::optional<Identity> identity(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return Identity { status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec, status.st_mtim.tv_nsec };
}

} // namespace

std::set<std::string> ICloud::download(const std::vector<std::string>& paths, const Mac& mac, const Progress& progress)
{
    if (paths.empty())
        return {};
    if (mac.isFake())
        return { paths.begin(), paths.end() };

    for (const auto& path : paths)
        askTool(mac, "download", path);
    const std::set<std::string> wanted(paths.begin(), paths.end());
    std::int64_t total = 0;
    for (const auto& path : paths) {
        if (auto bytes = size(path))
            total = Saturating::add(total, *bytes);
    }

    std::set<std::string> arrived;
    auto lastChange = std::chrono::steady_clock::now();
    std::int64_t lastAmount = -1;
    for (;;) {
        std::this_thread::sleep_for(pollEvery);
        std::int64_t have = 0;
        for (const auto& path : paths) {
            if (!arrived.count(path) && isCurrent(path, mac))
                arrived.insert(path);
            have = Saturating::add(have, arrived.count(path) ? size(path).value_or(0) : allocatedBytes(path));
        }
        if (progress)
            progress("Downloading: " + Report::bytes(have) + " of " + Report::bytes(total));
        const auto now = std::chrono::steady_clock::now();
        if (have != lastAmount) {
            lastChange = now;
            lastAmount = have;
        } else if (now - lastChange > givenUpAfter) {
            break;
        }
        // A path asked for twice arrives once.
        if (arrived.size() >= wanted.size())
            break;
    }
    return arrived;
}

bool ICloud::isCurrent(const std::string& /*path*/, const Mac& /*mac*/)
{
    // Without a file provider, what is on disk is all there is: every file is current.
    return true;
}

void ICloud::evict(const std::string& path, const Mac& mac)
{
    if (mac.isFake())
        return;
    askTool(mac, "evict", path);
}

std::string ICloud::parkedPath(const std::string& path, const DriveInfo& drive, const Mac& mac)
{
    const auto allRoots = roots(mac);
    std::string place;
    if (const std::string* root = rootOf(path, allRoots))
        place = "/" + rootLabel(*root) + path.substr(root->size());
    else
        place = "/" + std::string(lastComponent(path));
    const std::string first = drive.path + "/" + std::string(parkedFolder) + place;

    // A dangling link takes a name too.
    const auto taken = [](const std::string& candidate) { return exists(candidate) || isSymlink(candidate); };
    if (!taken(first))
        return first;
    const std::string folder = parentOf(first);
    const auto [stem, extension] = splitExtension(lastComponent(first));
    for (std::uint64_t number = 2;; ++number) {
        std::string candidate = folder + "/" + std::string(stem) + " " + std::to_string(number);
        if (!extension.empty())
            candidate += "." + std::string(extension);
        if (!taken(candidate))
            return candidate;
    }
}

namespace {

// The parking of one file, step by step; each step answers with the item's result when the
// parking ends there, and gives a download it made back to iCloud first.
struct Parking {
    const CloudItem& item;
    const bool downloaded; // its download arrived for this cleanup
    ICloud::ParkRun& run;

    const std::string& path() const { return item.path; }
    std::string name() const { return std::string(lastComponent(item.path)); }

    void say(const std::string& line) const
    {
        if (run.progress)
            run.progress(line);
    }

    CleanResult givenBack(Status status, std::string detail) const
    {
        if (downloaded)
            ICloud::evict(path(), run.mac);
        return outcome(item, status, std::move(detail));
    }

    // 1. History can record it, it is still the scanned file in iCloud Drive, and its data is here.
    std::optional<CleanResult> checksBefore() const
    {
        if (!ICloud::recordable(item, run.drive))
            return outcome(item, Status::refused, std::string(unrecordable));
        if (isSymlink(path()) || !rootOf(path(), ICloud::roots(run.mac)))
            return outcome(item, Status::refused, "It isn't in iCloud Drive any more; scan again.");
        const auto bytes = size(path());
        if (!bytes || *bytes != item.bytes)
            return outcome(item, Status::refused, "It changed or moved since the scan; scan again.");
        if ((!item.onMac && !downloaded) || !ICloud::isCurrent(path(), run.mac))
            return givenBack(Status::failed,
                             "It didn't finish downloading, so nothing was changed; it's still in iCloud.");
        return std::nullopt;
    }

    // The hash of the copy that stays, read once per cleanup: downloaded for the comparison when the
    // Mac has room for it beside the margin, and given back after.
    std::string keeperHash(const std::string& keep) const
    {
        if (!exists(keep))
            return {}; // fenced or gone: nothing to compare with
        if (item.keepOnMac.value_or(true) || run.mac.isFake())
            return sha256(keep).value_or("");
        const std::int64_t room = Saturating::subtract(startupFree(run.mac), run.options.marginBytes);
        if (room < std::max<std::int64_t>(size(keep).value_or(0), 0))
            return {};
        say("Downloading the copy that stays, to compare");
        if (!ICloud::download({ keep }, run.mac, run.progress).count(keep))
            return {};
        std::string hash = sha256(keep).value_or("");
        ICloud::evict(keep, run.mac);
        return hash;
    }

    // 2. A copy of a file that stays elsewhere leaves iCloud only when the two are the same byte for
    // byte.
    std::optional<CleanResult> compareWithKeeper(const std::string& hash) const
    {
        if (!item.keep)
            return std::nullopt;
        const std::string& keep = *item.keep;
        if (!run.keeperHashes.count(keep))
            run.keeperHashes[keep] = keeperHash(keep);
        const std::string& kept = run.keeperHashes[keep];
        if (kept.empty())
            return givenBack(Status::failed,
                             "The copy that stays (" + ICloud::display(keep, run.mac)
                                 + ") couldn't be read to compare, so nothing was changed.");
        if (kept != hash)
            return givenBack(Status::refused,
                             "It isn't identical to " + ICloud::display(keep, run.mac)
                                 + " byte for byte, so it stays in iCloud.");
        return std::nullopt;
    }

    // 3. The copy on the drive, checked against the hash before it takes its place. A failed copy goes
    // again; the result names one only when it can't all go.
    std::optional<CleanResult> copyAndVerify(const std::string& dest, const std::string& hash) const
    {
        const DriveInfo& drive = run.drive;
        say("Copying " + name() + " to " + drive.name);
        // A drive unmounted since it was chosen leaves a bare folder on the startup drive.
        if (!DriveMove::stillOn(drive, dest, run.mac))
            return givenBack(Status::refused,
                             DriveMove::notMounted(drive) + ", so nothing was changed; it's still in iCloud.");
        FileOps& files = run.options.fileOps();
        const auto made = CleanerSteps::missingFolders(parentOf(dest));
        try {
            files.createFolder(parentOf(dest));
        } catch (const std::exception& error) {
            return givenBack(Status::failed,
                             "Couldn't make the folder on " + drive.name + ": " + describeFailure(error));
        }

        // Partial copies that runs killed while copying into this folder left go first.
        Platform::reclaimPartials(parentOf(dest), true);
        // The copy is made under a hidden name of its own, held while it is made and checked, and gets
        // the file's name only then: one cut short never stands under that name.
        std::optional<Platform::HeldPartial> held;
        if (auto failure = CleanerSteps::attempt([&] { held.emplace(dest); }))
            return givenBack(Status::failed, "Couldn't copy it to " + drive.name + ": " + failure->description);
        const std::string partial = parentOf(dest) + "/" + held->name();
        const auto mismatch = [&] {
            // Our own copy goes again; only one that can't all go is named.
            std::string left;
            if (Platform::nameTaken(partial) && !held->discard().gone())
                left = "; the partial copy is at " + run.mac.display(partial);
            return givenBack(Status::failed,
                             "The copy on " + drive.name + " doesn't match, so " + name() + " stays in iCloud" + left
                                 + ".");
        };
        const auto notCopied = [&](const std::exception& error) {
            return givenBack(Status::failed, "Couldn't copy it to " + drive.name + ": " + describeFailure(error));
        };
        try {
            files.copy(path(), partial);
        } catch (const std::system_error& error) {
            // Whatever stands in the way, or nothing at all, is no partial copy of ours.
            if (error.code() == std::errc::file_exists || !Platform::nameTaken(partial)) {
                held->disown();
                return notCopied(error);
            }
            return mismatch();
        } catch (const std::exception& error) {
            if (!Platform::nameTaken(partial))
                return notCopied(error);
            return mismatch();
        }
        if (sha256(partial) != hash)
            return mismatch();
        try {
            files.moveNoReplace(partial, dest);
        } catch (const std::exception& error) {
            if (Platform::nameTaken(partial))
                held->discard();
            return notCopied(error);
        }
        // The file leaves iCloud next: its copy's new name must be on the drive's disk first.
        try {
            Platform::syncNames(Platform::openFolder(parentOf(dest)).get(), run.mac.display(dest));
        } catch (const std::exception& error) {
            return notCopied(error);
        }
        return unmountedMeanwhile(dest, made);
    }

    // A drive unmounted while the copy was made: a copy in the bare folder its mount point left on
    // the startup drive is ours and goes; a copy that went with the drive stays there. Either way the
    // file stays in iCloud.
    std::optional<CleanResult> unmountedMeanwhile(const std::string& dest, const std::vector<std::string>& made) const
    {
        const DriveInfo& drive = run.drive;
        if (DriveMove::stillOn(drive, dest, run.mac))
            return std::nullopt;
        if (!Platform::nameTaken(dest))
            return givenBack(Status::failed,
                             "Copied and checked, but " + DriveMove::notMounted(drive) + ", so it stays in iCloud.");
        FileOps& files = run.options.fileOps();
        if (auto failure = CleanerSteps::attempt([&] { files.remove(dest); }))
            return givenBack(Status::failed,
                             DriveMove::notMounted(drive) + ", so nothing was changed; it's still in iCloud. The copy "
                                 + "made meanwhile stays at " + run.mac.display(dest) + ": " + failure->description);
        CleanerSteps::removeEmptyFolders(files, made);
        return givenBack(Status::failed,
                         DriveMove::notMounted(drive) + ", so nothing was changed; it's still in iCloud.");
    }

    // 4. The file leaves iCloud, unless it changed since it was read: the hash speaks for the file as
    // it was then, so a changed file is not the one that was checked and copied, and it stays.
    CleanResult removeFromICloud(const std::string& dest, const std::optional<Identity>& before) const
    {
        const DriveInfo& drive = run.drive;
        if (identity(path()) != before)
            return outcome(item, Status::failed,
                           "It changed while it was being parked, so it stays in iCloud as it is now; the copy of how "
                           "it was before is at "
                               + run.mac.display(dest) + ".");
        Relocation relocation { path(), dest, std::nullopt, true };
        try {
            run.options.fileOps().remove(path());
        } catch (const std::exception& error) {
            return outcome(item, Status::failed,
                           "Parked on " + drive.name
                               + " and checked, but it couldn't be removed from iCloud: " + describeFailure(error),
                           { relocation });
        }
        return outcome(item, Status::done,
                       std::string("Checked byte for byte") + (item.keep ? " against the copy that stays" : "")
                           + ", parked on " + drive.name + " and removed from iCloud.",
                       { relocation });
    }
};

} // namespace

CleanResult ICloud::park(const CloudItem& item, const std::set<std::string>& arrived, ParkRun& run)
{
    const Parking parking { item, arrived.count(item.path) != 0, run };
    if (auto refusal = parking.checksBefore())
        return std::move(*refusal);

    parking.say("Checking " + parking.name());
    // Taken before the hash, so any change from here on shows before the file is removed.
    const auto before = identity(item.path);
    const auto hash = before ? sha256(item.path) : std::nullopt;
    if (!hash)
        return parking.givenBack(Status::failed, "It couldn't be read, so nothing was changed.");
    if (auto refusal = parking.compareWithKeeper(*hash))
        return std::move(*refusal);

    const std::string dest = parkedPath(item.path, run.drive, run.mac);
    if (auto failure = parking.copyAndVerify(dest, *hash))
        return std::move(*failure);
    return parking.removeFromICloud(dest, before);
}

} // namespace Quandril
