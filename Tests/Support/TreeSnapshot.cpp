#include "Support/TreeSnapshot.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

#include "QuandrilCore/Machine/Compare.h"

namespace Quandril::Testing {

namespace {

using Entry = TreeSnapshot::Entry;

std::int64_t nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::optional<Entry> entryAt(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return std::nullopt;
    Entry entry;
    entry.mode = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode)) {
        entry.kind = Entry::Kind::folder;
    } else if (S_ISLNK(info.st_mode)) {
        entry.kind = Entry::Kind::link;
        entry.mode = 0; // a link's own bits mean nothing here
        entry.mtimeNs = nanoseconds(info.st_mtim);
        std::error_code error;
        entry.target = std::filesystem::read_symlink(path, error).string();
    } else if (S_ISREG(info.st_mode)) {
        entry.kind = Entry::Kind::file;
        entry.size = info.st_size;
        entry.mtimeNs = nanoseconds(info.st_mtim);
        entry.sha256 = sha256(path).value_or("unreadable");
    } else {
        return std::nullopt;
    }
    return entry;
}

void walk(const std::string& root, const std::string& relative, std::map<std::string, Entry>& out)
{
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = item.path().filename().string();
        const std::string rel = relative.empty() ? name : relative + "/" + name;
        const auto entry = entryAt(root + "/" + rel);
        if (!entry)
            continue;
        out.emplace(rel, *entry);
        if (entry->kind == Entry::Kind::folder)
            walk(root, rel, out);
    }
}

std::string describe(const Entry& entry)
{
    switch (entry.kind) {
    case Entry::Kind::folder:
        return "folder mode " + std::to_string(entry.mode);
    case Entry::Kind::link:
        return "link to " + entry.target + " mtime " + std::to_string(entry.mtimeNs);
    case Entry::Kind::file:
        break;
    }
    return "file " + entry.sha256.substr(0, 12) + " size " + std::to_string(entry.size) + " mode "
        + std::to_string(entry.mode) + " mtime " + std::to_string(entry.mtimeNs);
}

} // namespace

TreeSnapshot TreeSnapshot::take(const std::string& root)
{
    TreeSnapshot snapshot;
    snapshot.root_ = root;
    walk(root, "", snapshot.entries_);
    return snapshot;
}

std::vector<std::string> TreeSnapshot::lost(const std::string& root, const std::set<std::string>& deleted) const
{
    const auto now = take(root);
    std::set<std::string> contents;
    for (const auto& [path, entry] : now.entries_)
        if (entry.kind == Entry::Kind::file)
            contents.insert(entry.sha256);
    std::vector<std::string> gone;
    for (const auto& [path, entry] : entries_)
        if (entry.kind == Entry::Kind::file && !deleted.count(path) && !contents.count(entry.sha256))
            gone.push_back(path);
    return gone;
}

std::vector<std::string> TreeSnapshot::differences() const
{
    const auto now = take(root_);
    std::vector<std::string> lines;
    for (const auto& [path, entry] : entries_) {
        const auto it = now.entries_.find(path);
        if (it == now.entries_.end()) {
            lines.push_back(path + ": missing (was " + describe(entry) + ")");
            continue;
        }
        const Entry& after = it->second;
        const bool same = entry.kind == Entry::Kind::folder
            ? after.kind == Entry::Kind::folder && after.mode == entry.mode
            : after == entry;
        if (!same)
            lines.push_back(path + ": was " + describe(entry) + ", now " + describe(after));
    }
    for (const auto& [path, entry] : now.entries_)
        if (!entries_.count(path))
            lines.push_back(path + ": new (" + describe(entry) + ")");
    return lines;
}

} // namespace Quandril::Testing
