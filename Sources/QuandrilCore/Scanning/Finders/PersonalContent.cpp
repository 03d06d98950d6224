// A quick look inside a folder for files that look like the user's own work: a walk by names
// relative to each open folder, under a limit of entries, so a finding can warn before anything
// personal goes.

#include "QuandrilCore/Scanning/Finders/Leftovers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "QuandrilCore/Machine/PrivacyFence.h"
#include "QuandrilCore/Platform/ParallelMap.h"
#include "QuandrilCore/Platform/PathText.h"
#include "QuandrilCore/Platform/Unicode.h"

namespace Quandril {

namespace {

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
        if (std::all_of(extension.begin(), extension.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
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
        : markers_(markers)
        , limit_(limit)
        , fenced_(fenced)
        , shared_(shared)
        , leaveSubfolders_(leaveSubfolders)
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
        frames_.push_back(
            Frame { fd, status.st_dev, status.st_ino, std::move(names), 0, relative_.size(), underMarker });
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
            if (parent.fd >= 0
                && (::fstat(parent.fd, &status) != 0 || status.st_dev != parent.dev || status.st_ino != parent.ino))
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

} // namespace

std::optional<std::string> personalContent(const std::string& in, const Catalog::Markers& markers, std::int64_t limit)
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

} // namespace Quandril
