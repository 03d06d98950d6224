#include "QuandrilCore/DiskUsage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_set>

#include <fts.h>
#include <sys/stat.h>

#include "QuandrilCore/PrivacyFence.h"

namespace Quandril {

namespace {

struct FileID {
    dev_t dev;
    ino_t ino;

    friend bool operator==(const FileID&, const FileID&) = default;
};

struct FileIDHash {
    std::size_t operator()(const FileID& id) const noexcept
    {
        std::size_t h = std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.ino));
        return h ^ (std::hash<std::uint64_t>()(static_cast<std::uint64_t>(id.dev)) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};

constexpr std::int64_t maxCount = std::numeric_limits<std::int64_t>::max();

void addSaturating(std::int64_t& sum, std::int64_t amount)
{
    if (__builtin_add_overflow(sum, amount, &sum))
        sum = maxCount;
}

std::int64_t allocatedBytes(const struct stat& status)
{
    std::int64_t bytes = 0;
    if (status.st_blocks < 0 || __builtin_mul_overflow(static_cast<std::int64_t>(status.st_blocks), 512, &bytes))
        return status.st_blocks < 0 ? 0 : maxCount;
    return bytes;
}

// Closes the walk and frees the copied path on every way out.
struct Walk {
    char* path = nullptr;
    FTS* fts = nullptr;

    ~Walk()
    {
        if (fts)
            fts_close(fts);
        std::free(path);
    }
};

} // namespace

Json::Value toJson(const Usage& usage)
{
    Json::Value object = Json::Value::object();
    object["bytes"] = usage.bytes;
    object["unreadable"] = usage.unreadable;
    return object;
}

void decode(const Json::Value& value, Usage& out)
{
    Json::expectObject(value);
    out.bytes = Json::required<std::int64_t>(value, "bytes");
    out.unreadable = Json::required<std::int64_t>(value, "unreadable");
}

Usage diskUsage(const std::string& path, const std::set<std::string>& skipping)
{
    auto& fence = PrivacyFence::shared();
    const std::vector<std::string> roots = fence.active();
    if (fence.blocks(path))
        return {};
    if (std::find(roots.begin(), roots.end(), path) != roots.end())
        return {};

    // Fenced folders are passed over like skipped ones: their own entry counts, nothing inside.
    const std::set<std::string>* skip = &skipping;
    std::set<std::string> withRoots;
    if (!roots.empty()) {
        withRoots = skipping;
        withRoots.insert(roots.begin(), roots.end());
        skip = &withRoots;
    }

    Walk walk;
    walk.path = ::strdup(path.c_str());
    if (!walk.path)
        return {};
    char* const starts[] = { walk.path, nullptr };
    walk.fts = fts_open(starts, FTS_NOCHDIR | FTS_PHYSICAL | FTS_XDEV, nullptr);
    if (!walk.fts)
        return {};

    Usage usage;
    std::unordered_set<FileID, FileIDHash> seen;
    while (FTSENT* entry = fts_read(walk.fts)) {
        switch (entry->fts_info) {
        case FTS_D:
            if (!skip->empty() && skip->count(std::string(entry->fts_path, entry->fts_pathlen)))
                fts_set(walk.fts, entry, FTS_SKIP);
            break;
        case FTS_DNR:
        case FTS_ERR:
        case FTS_NS:
            if (usage.unreadable < maxCount)
                ++usage.unreadable;
            break;
        default: {
            const struct stat* status = entry->fts_statp;
            if (!status)
                break;
            bool counted = S_ISDIR(status->st_mode) || status->st_nlink < 2
                || seen.insert(FileID { status->st_dev, status->st_ino }).second;
            if (counted)
                addSaturating(usage.bytes, allocatedBytes(*status));
            break;
        }
        }
    }
    return usage;
}

std::map<std::string, Usage> diskUsageOf(const std::vector<std::string>& paths, const std::set<std::string>& skipping)
{
    // A repeated path would only be measured again to the same effect.
    std::vector<std::string> unique;
    std::unordered_set<std::string> met;
    unique.reserve(paths.size());
    for (const auto& path : paths) {
        if (met.insert(path).second)
            unique.push_back(path);
    }
    auto usages = parallelMap(unique, [&skipping](const std::string& path) { return diskUsage(path, skipping); });
    std::map<std::string, Usage> result;
    for (std::size_t i = 0; i < unique.size(); ++i)
        result.emplace(unique[i], usages[i]);
    return result;
}

} // namespace Quandril
