#include "QuandrilCore/Finders/Leftovers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "QuandrilCore/FileHelpers.h"
#include "QuandrilCore/Finders/Finders.h"
#include "QuandrilCore/ParallelMap.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"
#include "QuandrilCore/PrivacyFence.h"
#include "QuandrilCore/Report.h"
#include "QuandrilCore/Saturating.h"

namespace Quandril {

namespace {

using Platform::lastComponent;

// A real folder of its own: not behind the fence, present, not a link, not a catalog place.
bool isOwnFolder(const ScanContext& context, const std::string& path)
{
    return !PrivacyFence::shared().blocks(path) && isDirectory(path) && !isSymlink(path) && !context.isClaimed(path);
}

std::optional<std::string> insideCaution(const std::string& path, const Catalog::Markers& markers)
{
    return personalContent(path, markers, personalSampleLimit);
}

// MARK: Personal-content sampling

// The catalog's personal markers as names are compared: lower-cased and composed.
class Markers {
public:
    explicit Markers(const Catalog::Markers& markers)
    {
        // The Unicode library builds its tables on first use, behind a guard of its own that the
        // thread checker cannot see: once, here, behind one it can.
        static const bool unicodeReady = !Platform::nfc(Platform::lowercased("\u00c9")).empty();
        (void)unicodeReady;
        for (const auto& folder : markers.folders)
            folders_.insert(Platform::nfc(folder));
        for (const auto& extension : markers.extensions)
            extensions_.insert(Platform::nfc(extension));
    }

    // Names are compared lower-cased and composed, one folder at a time: the case of a letter never
    // depends on letters past a "/".
    bool isMarkerFolder(std::string_view name) const
    {
        return folders_.count(Platform::nfc(Platform::lowercased(name))) > 0;
    }

    // A name that only begins with a dot has no extension.
    bool hasMarkerExtension(std::string_view name) const
    {
        std::size_t dot = name.rfind('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
            return false;
        std::string_view extension = name.substr(dot + 1);
        if (std::all_of(extension.begin(), extension.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return extensions_.count(Platform::lowercased(extension)) > 0;
        // Letters beyond ASCII: the whole name, as a letter's case may depend on its neighbours.
        const std::string lower = Platform::nfc(Platform::lowercased(name));
        dot = lower.rfind('.');
        return dot != std::string::npos && dot != 0 && dot + 1 != lower.size()
            && extensions_.count(lower.substr(dot + 1)) > 0;
    }

private:
    std::set<std::string> folders_;
    std::set<std::string> extensions_;
};

// A folder below the sampled one, left for another walk.
struct Part {
    std::string relative;
    bool underMarker;
};

// True when `a` comes before `b` in a walk of sorted names: name by name, a folder before what it holds.
bool walksBefore(std::string_view a, std::string_view b)
{
    for (;;) {
        const std::size_t endA = std::min(a.find('/'), a.size());
        const std::size_t endB = std::min(b.find('/'), b.size());
        const int order = a.substr(0, endA).compare(b.substr(0, endB));
        if (order != 0)
            return order < 0;
        if (endA == a.size() || endB == b.size())
            return endA == a.size() && endB != b.size();
        a.remove_prefix(endA + 1);
        b.remove_prefix(endB + 1);
    }
}

// One walk by names relative to each open folder, in the order of sorted names, so that a rescan
// names the same file. Every entry met counts against the limit, folders too; names beyond what is
// left of it are never looked at, so a huge folder is not read to its end.
//
// Walks that share a count (parts of one folder walked at once) stop as soon as all of them together
// met more entries than the limit: which ones would have been looked at then depends on the order,
// and only a walk of the whole folder in order can tell.
class PersonalSampler {
public:
    PersonalSampler(const Markers& markers, const std::vector<std::string>& fenced, std::int64_t limit,
        std::atomic<std::int64_t>* shared = nullptr, bool leaveSubfolders = false)
        : markers_(markers), limit_(limit), fenced_(fenced), shared_(shared), leaveSubfolders_(leaveSubfolders)
    {
    }

    PersonalSampler(const PersonalSampler&) = delete;
    PersonalSampler& operator=(const PersonalSampler&) = delete;

    ~PersonalSampler()
    {
        for (auto& frame : frames_)
            closeFolder(frame.fd);
    }

    // False when the folder (`folder`, or its part `start.relative`) cannot be opened.
    bool walk(const std::string& folder, const Part& start = { {}, false })
    {
        const std::string path = start.relative.empty() ? folder : folder + "/" + start.relative;
        int fd = ::open(path.c_str(), folderFlags | (start.relative.empty() ? 0 : O_NOFOLLOW));
        struct stat status {};
        if (fd < 0 || ::fstat(fd, &status) != 0) {
            // A part too long to name is still reached by the walk in order, one folder at a time.
            orderNeeded_ = fd < 0 && errno == ENAMETOOLONG;
            closeFolder(fd);
            return false;
        }
        folder_ = folder;
        relative_ = start.relative;
        enter(fd, status, start.underMarker);
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.next == frame.names.size() || frame.fd < 0) {
                leave();
                continue;
            }
            const std::string& name = frame.names[frame.next++];
            if (!countOne())
                break;
            relative_.resize(frame.relativeLength);
            if (!relative_.empty())
                relative_ += '/';
            relative_ += name;
            struct stat info {};
            if (::fstatat(frame.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISREG(info.st_mode)) {
                if ((frame.underMarker || markers_.hasMarkerExtension(name)) && personal_++ == 0)
                    first_ = relative_;
            } else if (S_ISDIR(info.st_mode) && !isFenced()) {
                if (leaveSubfolders_) {
                    left_.push_back(Part { relative_, frame.underMarker || markers_.isMarkerFolder(name) });
                    continue;
                }
                int inner = ::openat(frame.fd, name.c_str(), folderFlags | O_NOFOLLOW);
                if (inner < 0)
                    continue;
                // Deep folders give their descriptor up on the way down and get it back through "..".
                const bool underMarker = frame.underMarker || markers_.isMarkerFolder(name);
                if (frames_.size() > keptLevels)
                    closeFolder(frame.fd);
                enter(inner, info, underMarker);
            }
        }
        return true;
    }

    std::int64_t personal() const { return personal_; }
    const std::string& first() const { return first_; }
    // More entries than the limit met, or a part that could not be named: only the walk in order can tell.
    bool orderNeeded() const { return overLimit_ || orderNeeded_; }
    std::vector<Part>& subfoldersLeft() { return left_; }

private:
    static constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    static constexpr std::size_t keptLevels = 32;

    struct Frame {
        int fd;
        dev_t dev;
        ino_t ino;
        std::vector<std::string> names;
        std::size_t next;
        std::size_t relativeLength; // this folder's own path is relative_[0, relativeLength)
        bool underMarker;           // this folder or one above it inside the walk is a marker folder
    };

    static void closeFolder(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    bool countOne()
    {
        const std::int64_t seen = shared_ ? shared_->fetch_add(1, std::memory_order_relaxed) + 1 : ++seen_;
        overLimit_ = seen > limit_;
        return !overLimit_;
    }

    void enter(int fd, const struct stat& status, bool underMarker)
    {
        std::vector<std::string> names;
        const std::int64_t room = limit_ - (shared_ ? shared_->load(std::memory_order_relaxed) : seen_);
        if (DIR* dir = ::fdopendir(::dup(fd))) {
            while (static_cast<std::int64_t>(names.size()) <= room) {
                const dirent* entry = ::readdir(dir);
                if (!entry)
                    break;
                std::string_view name = entry->d_name;
                if (name != "." && name != "..")
                    names.emplace_back(name);
            }
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        frames_.push_back(Frame { fd, status.st_dev, status.st_ino, std::move(names), 0, relative_.size(), underMarker });
    }

    void leave()
    {
        int fd = frames_.back().fd;
        frames_.pop_back();
        if (!frames_.empty() && frames_.back().fd < 0 && fd >= 0) {
            Frame& parent = frames_.back();
            parent.fd = ::openat(fd, "..", folderFlags | O_NOFOLLOW);
            struct stat status {};
            // A parent moved meanwhile is not the one being walked: its other entries are passed over.
            if (parent.fd >= 0 && (::fstat(parent.fd, &status) != 0 || status.st_dev != parent.dev || status.st_ino != parent.ino))
                closeFolder(parent.fd);
        }
        closeFolder(fd);
    }

    bool isFenced() const { return !fenced_.empty() && Platform::atOrBelowAny(folder_ + "/" + relative_, fenced_); }

    const Markers& markers_;
    std::int64_t limit_;
    const std::vector<std::string>& fenced_;
    std::atomic<std::int64_t>* shared_;
    bool leaveSubfolders_;
    bool overLimit_ = false;
    bool orderNeeded_ = false;
    std::vector<Part> left_;
    std::string folder_;
    std::string relative_;
    std::vector<Frame> frames_;
    std::int64_t seen_ = 0;
    std::int64_t personal_ = 0;
    std::string first_;
};

// MARK: Leftover groups

struct Candidate {
    std::string path;
    std::string key;
    std::optional<std::string> name;
    bool sure = false;
};

struct LeftoverRoot {
    std::string_view display;
    OwnerResolver::Kind kind;
};

constexpr LeftoverRoot leftoverRoots[] = {
    { "~/Library/Containers", OwnerResolver::Kind::container },
    { "~/Library/Group Containers", OwnerResolver::Kind::groupContainer },
    { "~/Library/Application Support", OwnerResolver::Kind::supportFolder },
};

std::optional<Candidate> leftoverCandidate(const ScanContext& context, const std::string& path,
    OwnerResolver::Kind kind)
{
    using Case = OwnerResolver::Verdict::Case;
    std::string name = lastComponent(path);
    OwnerResolver::Verdict verdict = context.owners().resolve(name, kind);
    switch (verdict.kind) {
    case Case::installed:
    case Case::system:
        return std::nullopt;
    case Case::unknown:
        // Keyed by its own path, so an unknown folder never joins another.
        return Candidate { path, path, name, false };
    case Case::uninstalled:
        break;
    }
    std::string base = Platform::lowercased(name).starts_with("group.") ? name.substr(6) : name;
    if (verdict.name)
        return Candidate { path, Platform::lowercased(*verdict.name), *verdict.name, true };
    std::string shown = looksLikeBundleID(base) ? displayName(base) : base;
    return Candidate { path, Platform::lowercased(base), shown, true };
}

// MARK: Split installs

// An identifier from an app's Info.plist names one folder beside others; anything that would lead
// elsewhere ("..", a "/") is not followed.
bool isSingleName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

struct SplitCandidate {
    const InstalledApp* app;
    DriveInfo drive;
    std::string path;
};

} // namespace

std::optional<std::string> personalContent(const std::string& in, const Catalog::Markers& markers,
    std::int64_t limit)
{
    if (PrivacyFence::shared().isFenced(in))
        return std::nullopt;
    const std::vector<std::string> fenced = PrivacyFence::shared().active();
    const Markers markerSet(markers);
    std::int64_t personal = 0;
    std::string first;
    const auto add = [&](std::int64_t count, const std::string& firstOne) {
        if (count > 0 && (personal == 0 || walksBefore(firstOne, first)))
            first = firstOne;
        personal += count;
    };

    // A folder holding no more entries than the limit is looked at whole, in any order: its first
    // few levels here, the folders below them at once. Only a larger one needs the walk in order.
    std::atomic<std::int64_t> seen { 0 };
    bool orderNeeded = false;
    std::vector<Part> parts = { Part { {}, false } };
    for (int level = 0; level < 3 && !orderNeeded && !parts.empty() && parts.size() < 64; ++level) {
        std::vector<Part> below;
        for (const Part& part : parts) {
            PersonalSampler sampler(markerSet, fenced, limit, &seen, true);
            if (!sampler.walk(in, part) && level == 0)
                return std::nullopt;
            orderNeeded = orderNeeded || sampler.orderNeeded();
            add(sampler.personal(), sampler.first());
            for (auto& inner : sampler.subfoldersLeft())
                below.push_back(std::move(inner));
        }
        parts = std::move(below);
    }
    struct Found {
        std::int64_t personal;
        std::string first;
        bool orderNeeded;
    };
    if (!orderNeeded) {
        const auto found = parallelMap(parts, [&](const Part& part) {
            PersonalSampler sampler(markerSet, fenced, limit, &seen);
            sampler.walk(in, part);
            return Found { sampler.personal(), sampler.first(), sampler.orderNeeded() };
        });
        for (const auto& part : found) {
            orderNeeded = orderNeeded || part.orderNeeded;
            add(part.personal, part.first);
        }
    }
    if (orderNeeded) {
        PersonalSampler sampler(markerSet, fenced, limit);
        if (!sampler.walk(in))
            return std::nullopt;
        personal = sampler.personal();
        first = sampler.first();
    }
    if (personal == 0)
        return std::nullopt;
    if (personal == 1)
        return "1 file that looks like your own, " + first;
    return std::to_string(personal) + " files that look like your own, such as " + first;
}

FinderResult SplitInstallsFinder::find(const ScanContext& context) const
{
    if (context.apps.apps.empty())
        return {};
    // Listed once for all apps.
    const std::string support = context.mac.path("~/Library/Application Support");
    const std::vector<std::string> listing = children(support);

    std::set<std::string> considered;
    std::vector<SplitCandidate> candidates;
    for (const InstalledApp& app : context.apps.apps) {
        if (app.onStartupDisk)
            continue;
        auto drive = context.drive(app.path);
        if (!drive || drive->isStartup)
            continue;

        const std::string appKey = normalized(app.name);
        const std::optional<std::string> lowerID
            = app.bundleID ? std::optional(Platform::lowercased(*app.bundleID)) : std::nullopt;
        std::set<std::string> keys { appKey };
        if (app.bundleID) {
            keys.insert(normalized(*app.bundleID));
            std::string shown = normalized(displayName(*app.bundleID));
            if (!genericBundleWords().count(shown))
                keys.insert(shown);
        }
        for (const auto& owner : context.catalog.owners) {
            bool matches = !appKey.empty() && normalized(owner.app) == appKey;
            if (!matches && lowerID && owner.bundleIDs)
                matches = std::any_of(owner.bundleIDs->begin(), owner.bundleIDs->end(),
                    [&](const std::string& id) { return Platform::lowercased(id) == *lowerID; });
            if (matches)
                for (const auto& name : owner.names)
                    keys.insert(normalized(name));
        }
        // A name of symbols alone says nothing about whose folder it is.
        keys.erase(std::string {});

        std::vector<std::string> folders;
        for (const auto& entry : listing)
            if (keys.count(normalized(lastComponent(entry))))
                folders.push_back(entry);
        if (app.bundleID && isSingleName(*app.bundleID)) {
            for (std::string_view parent : { "~/Library/Containers/", "~/Library/Caches/" }) {
                std::string folder = context.mac.path(std::string(parent) + *app.bundleID);
                if (!PrivacyFence::shared().blocks(folder) && isDirectory(folder))
                    folders.push_back(std::move(folder));
            }
        }

        for (auto& folder : folders) {
            if (isSymlink(folder) || context.isClaimed(folder))
                continue;
            // The first app that names a folder decides it, whatever the checks below say.
            if (!considered.insert(folder).second)
                continue;
            if (folder.starts_with(support + "/")) {
                auto verdict = context.owners().resolve(lastComponent(folder), OwnerResolver::Kind::supportFolder);
                if (verdict.kind == OwnerResolver::Verdict::Case::installed && verdict.name
                    && normalized(*verdict.name) != appKey)
                    continue;
            }
            candidates.push_back({ &app, *drive, std::move(folder) });
        }
    }

    std::vector<std::string> paths;
    for (const auto& candidate : candidates)
        paths.push_back(candidate.path);
    const auto sizes = context.usageOf(paths);
    const std::int64_t threshold = context.threshold(context.catalog.thresholds.splitInstall);

    FinderResult result;
    for (const auto& candidate : candidates) {
        const std::int64_t bytes = sizes.at(candidate.path).bytes;
        if (bytes < threshold)
            continue;
        const InstalledApp& app = *candidate.app;
        const std::string& name = app.name;
        const std::string& driveName = candidate.drive.name;

        std::optional<std::string> caution;
        if (auto inside = insideCaution(candidate.path, context.catalog.personalMarkers))
            caution = "Inside: " + *inside + ".";
        std::optional<std::string> blockedBy;
        if (app.bundleID)
            if (auto open = context.openApp({ *app.bundleID }))
                blockedBy = *open + " is open. Quit it first.";

        result.findings.emplace_back("split-" + normalized(name) + "-" + normalized(lastComponent(candidate.path)),
            "split-installs", name + " data on your Mac",
            name + " is installed on " + driveName + ", but " + Report::bytes(bytes) + " of its data is on your Mac.",
            "Look inside first: it may hold settings or downloads " + name
                + " needs. Some apps let you point this folder at " + driveName + " instead.",
            Tier::reinstallable, bytes, std::vector<std::string> { candidate.path }, name, Action::review(),
            std::move(caution), std::move(blockedBy), false, std::nullopt);
    }
    return result;
}

FinderResult LeftoversFinder::find(const ScanContext& context) const
{
    std::vector<Candidate> candidates;
    for (const auto& root : leftoverRoots) {
        for (const auto& child : children(context.mac.path(root.display))) {
            if (!isOwnFolder(context, child))
                continue;
            if (auto candidate = leftoverCandidate(context, child, root.kind))
                candidates.push_back(std::move(*candidate));
        }
    }

    std::vector<std::string> paths;
    for (const auto& candidate : candidates)
        paths.push_back(candidate.path);
    const auto sizes = context.usageOf(paths);

    // Keys compared as characters, so one name spelled with composed or decomposed accents is one
    // key; the map's order is then that of the Unicode scalars.
    std::map<std::string, std::vector<const Candidate*>> groups;
    for (const auto& candidate : candidates)
        groups[Platform::nfc(candidate.key)].push_back(&candidate);

    struct Group {
        const std::string* key;
        const Candidate* first;
        std::int64_t bytes;
        std::vector<std::string> folders;
    };
    const auto& thresholds = context.catalog.thresholds;
    std::vector<Group> kept;
    for (const auto& [key, group] : groups) {
        Group entry { &key, group.front(), 0, {} };
        for (const Candidate* candidate : group) {
            entry.bytes = Saturating::add(entry.bytes, sizes.at(candidate->path).bytes);
            entry.folders.push_back(candidate->path);
        }
        if (entry.bytes >= context.threshold(entry.first->sure ? thresholds.leftover : thresholds.unknownLeftover))
            kept.push_back(std::move(entry));
    }

    // The groups looked into at once; within a group the first folder with personal files speaks.
    const auto cautions = parallelMap(kept, [&](const Group& group) -> std::optional<std::string> {
        for (const auto& folder : group.folders) {
            if (auto inside = insideCaution(folder, context.catalog.personalMarkers))
                return "Inside: " + *inside + ". Check before removing.";
        }
        return std::nullopt;
    });

    FinderResult result;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        Group& group = kept[i];
        const std::string& key = *group.key;
        const Candidate& first = *group.first;
        const std::string name = first.name.value_or(key);
        std::optional<std::string> caution = cautions[i];
        if (first.sure) {
            result.findings.emplace_back("leftover-" + normalized(key), "leftovers", name + " leftovers",
                name + " is no longer installed, but its data stayed behind.",
                "It stays in the Trash until you empty it. Reinstalled, " + name + " would start fresh without it.",
                Tier::reinstallable, group.bytes, std::move(group.folders), name, Action::trash(), std::move(caution),
                std::nullopt, false, std::nullopt);
        } else {
            result.findings.emplace_back("unknown-" + normalized(context.mac.display(first.path)), "leftovers",
                name + " (owner unknown)",
                "This folder doesn't match any installed app; it may be left over from something you removed.",
                "Look inside before deciding; if it goes, it goes to the Trash first.", Tier::reinstallable,
                group.bytes, std::move(group.folders), std::nullopt, Action::review(), std::move(caution),
                std::nullopt, true, std::nullopt);
        }
    }
    return result;
}

FinderResult AppCachesFinder::find(const ScanContext& context) const
{
    std::vector<std::string> kept;
    for (const auto& child : children(context.mac.path("~/Library/Caches"))) {
        if (!PrivacyFence::shared().blocks(child) && isDirectory(child) && !isSymlink(child)
            && !context.isClaimed(child) && !context.owners().isSystem(lastComponent(child)))
            kept.push_back(child);
    }
    const auto sizes = context.usageOf(kept);

    std::set<std::string> running;
    for (const auto& id : context.running)
        running.insert(Platform::lowercased(id) + ".");

    const std::int64_t each = context.threshold(context.catalog.thresholds.appCacheEach);
    std::vector<std::string> paths;
    std::vector<std::string> openApps;
    std::int64_t total = 0;
    for (const auto& folder : kept) {
        const std::int64_t bytes = sizes.at(folder).bytes;
        if (bytes < each)
            continue;
        const std::string name = lastComponent(folder);
        auto app = looksLikeBundleID(name) ? context.apps.appForBundleID(name) : context.apps.appNamed(name);
        std::vector<std::string> ids { name };
        if (app && app->bundleID)
            ids.push_back(*app->bundleID);
        // Helpers and agents keep caches named after the app's identifier with a suffix.
        const std::string lower = Platform::lowercased(name);
        bool open = context.openApp(ids).has_value()
            || std::any_of(running.begin(), running.end(), [&](const std::string& id) { return lower.starts_with(id); });
        if (open) {
            openApps.push_back(app ? app->name : name);
        } else {
            paths.push_back(folder);
            total = Saturating::add(total, bytes);
        }
    }

    FinderResult result;
    if (!openApps.empty()) {
        std::stable_sort(openApps.begin(), openApps.end(),
            [](const std::string& a, const std::string& b) { return Platform::compareNFC(a, b) < 0; });
        std::string note = "Left the caches of open apps alone: ";
        for (std::size_t i = 0; i < openApps.size(); ++i)
            note += (i ? ", " : "") + openApps[i];
        result.notes.push_back(note + ".");
    }
    // With a threshold of 0 or less an empty total would pass; a finding without folders is nothing
    // to offer.
    if (paths.empty() || total < context.threshold(context.catalog.thresholds.appCaches))
        return result;

    const std::string title = paths.size() == 1 ? std::string("Cache of an app that isn't open")
                                                : "Caches of " + std::to_string(paths.size()) + " apps that aren't open";
    result.findings.emplace_back("app-caches", "app-caches", title,
        "Files apps keep so they start faster; each app makes them again when it needs them.",
        "Rebuilds itself: the apps recreate what they need.", Tier::rebuilds, total, std::move(paths), std::nullopt,
        Action::delete_(), std::nullopt, std::nullopt, false, std::nullopt);
    return result;
}

} // namespace Quandril
