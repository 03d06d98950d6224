#pragma once

// What a folder tree held at one moment, to check afterwards that nothing was lost: every regular
// file's SHA-256, mode, size and modification time, every link's target and every folder's mode.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace Quandril::Testing {

class TreeSnapshot {
public:
    struct Entry {
        enum class Kind { file, folder, link } kind = Kind::file;
        unsigned mode = 0;        // permission bits
        std::int64_t size = 0;    // files only
        std::int64_t mtimeNs = 0; // files and links
        std::string sha256;       // files only
        std::string target;       // links only

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // Records everything under `root` (links not followed); the root itself is not an entry.
    static TreeSnapshot take(const std::string& root);

    const std::string& root() const { return root_; }
    // Entries by path relative to the root ("a/b.txt").
    const std::map<std::string, Entry>& entries() const { return entries_; }

    // The relative paths of the recorded files whose content no longer exists in any regular file
    // under `root` (anywhere: the Trash, a drive folder inside the fake root, a new name), leaving out
    // the relative paths in `deleted`. Empty when nothing was lost.
    std::vector<std::string> lost(const std::string& root, const std::set<std::string>& deleted = {}) const;
    std::vector<std::string> lost(const std::set<std::string>& deleted = {}) const { return lost(root_, deleted); }

    // One line for every entry that is not at its path under the root exactly as recorded (missing,
    // another kind, content, mode, size, time or link target), and for every new entry. Folders are
    // compared by mode only, since moving items in and out changes their times.
    std::vector<std::string> differences() const;

private:
    std::string root_;
    std::map<std::string, Entry> entries_;
};

} // namespace Quandril::Testing
