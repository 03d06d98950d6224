#pragma once

// Plain touches of the file system that several parts of the engine make alike: a whole file, a
// folder's entry names, a link's text, whether a name is taken, whether two paths reach one item, a
// walk over a tree, and writing all of a buffer. None of these asks the privacy fence; a caller that
// must respect it checks before and while it reads.

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fts.h>
#include <sys/stat.h>

namespace Quandril::Platform {

// How a whole-file read treats what it finds at the path.
struct ReadLimits {
    // A longer file is refused with EFBIG rather than read into memory.
    std::size_t maxBytes = std::numeric_limits<std::size_t>::max();
    // Whether a symbolic link at the path is followed; when not, it is refused with ELOOP.
    bool followLink = true;
};

// The whole regular file at `path`; absent when it cannot be opened or read to the end, with the
// error number in `error` when one is asked for. Opening never waits: a named pipe, a socket or a
// device in the file's place is refused with EINVAL (a folder with EISDIR) instead of being read.
// `examined`, when given, receives what the opened file was, for a check of whose it is.
std::optional<std::string> readFile(const std::string& path, int* error = nullptr, ReadLimits limits = {},
                                    struct stat* examined = nullptr);

// A folder's entry names without "." and "..", in the order the file system lists them; absent
// when the folder cannot be opened or read to the end, with the error number in `error`.
std::optional<std::vector<std::string>> readEntryNames(const std::string& folder, int* error = nullptr);

// The text of the link `name` in the open folder (AT_FDCWD for a path); absent when it can't be
// read, with errno saying why (EINVAL when the item is no link). However long the text, all of it.
std::optional<std::string> linkText(int folder, const std::string& name);
std::optional<std::string> linkText(const std::string& path);

// Something stands at the path, a dangling link included: it still takes the name. The privacy
// fence is not asked; see CleanerSteps::occupied for the answer that respects it.
bool nameTaken(const std::string& path);

// Writes all of `data` to the open file, a write that an interruption cut short resumed: 0, or the
// error that stopped it. A write that takes nothing is ENOSPC, so a file that won't grow never
// keeps the loop going.
int writeAll(int fd, std::string_view data);

// Why the item isn't the effective user's: "belongs to another user" when that user doesn't own
// it; empty when it is ours. What the user owns is the user's whatever its mode, as the desktop's
// Trash clients take a Trash: a umask of 002, or a drive whose modes mean nothing (0777 on NTFS and
// exFAT), makes the user's own Trash and History group- or world-writable. Root is no exception.
std::string_view whyNotOurs(const struct stat& info);

// The same, and "may be written by others" when its group or others may write it; empty when it is
// only ours to write. A home that others may fill is trusted by no one, root included.
std::string_view whyNotOnlyOurs(const struct stat& info);

// Both paths, links followed, reach one file or folder.
bool sameItem(const std::string& a, const std::string& b);

// A walk with fts over the tree at one path, closed when the value goes.
class TreeWalk {
public:
    // `options` as fts_open takes them (FTS_PHYSICAL, FTS_NOCHDIR, …).
    TreeWalk(const std::string& top, int options);
    ~TreeWalk();
    TreeWalk(const TreeWalk&) = delete;
    TreeWalk& operator=(const TreeWalk&) = delete;

    // False when the walk could not start.
    explicit operator bool() const { return fts_ != nullptr; }
    // The next entry; null at the end, with errno 0, or when the walk stopped early.
    FTSENT* next() { return ::fts_read(fts_); }
    // Leaves a folder's contents out; for an entry next() just gave.
    void skip(FTSENT* entry) { ::fts_set(fts_, entry, FTS_SKIP); }

private:
    std::string top_;
    FTS* fts_ = nullptr;
};

} // namespace Quandril::Platform
