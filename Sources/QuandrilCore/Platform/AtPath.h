#pragma once

// Reaching items one folder at a time, never through a link, and changing them relative to the
// folder that holds them. A folder above an item that was swapped for a link after the checks makes
// the change fail (ELOOP) instead of landing wherever the link points: every folder on the way is
// opened without following links, and the change names only the last component, relative to the
// descriptor of the folder that was opened.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace Quandril::Platform {

// An open file descriptor, closed when the value goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes now: 0, or -1 with errno (closing is where some file systems report a failed write).
    int close();

private:
    int fd_ = -1;
};

// The folder at `path`, reached one name at a time from "/" (from the working folder when the path
// is relative) with no name on the way a link. Good as the folder of *at calls only.
// Throws std::system_error: ELOOP when a folder on the way is a link, ENOTDIR when a name on the
// way is no folder, or what opening a name failed with.
Descriptor openFolder(std::string_view path);

// An item named by the folder that holds it.
struct Place {
    Descriptor folder;
    std::string name;
};

// The folder holding `path`, reached as openFolder does, and the item's name in it; the item itself
// need not exist. Throws as openFolder does, and EINVAL when the path names no item ("/", "", ".",
// "..", or a path ending in one of them).
Place placeOf(std::string_view path);

// The item itself, a link not followed; nothing when it can't be examined (errno says why).
std::optional<struct stat> statAt(int folder, const std::string& name);

// The link's text. Throws std::system_error, naming `shownAs`.
std::string readLinkAt(int folder, const std::string& name, const std::string& shownAs);

// The entry names of the open folder, "." and ".." left out, in no order. Throws std::system_error,
// naming `shownAs`.
std::vector<std::string> namesIn(int folder, const std::string& shownAs);

// Renames without ever replacing what is at the target: 0, or the errno (EEXIST when something is
// there; EINVAL, ENOSYS or EOPNOTSUPP where the file system can't refuse to replace).
int renameNoReplaceAt(int fromFolder, const std::string& fromName, int toFolder, const std::string& toName);

// Removes the item as removeTree (RemoveTree.h) does: a file or link itself, or a folder with
// everything in it, never following a link nor entering another mount. 0 when it is all gone (or
// was never there), EBUSY when mount points were left, else the errno of the first thing that
// couldn't go.
int removeTreeAt(int folder, const std::string& name);

// Makes the folder at `path` and every missing folder above it, each relative to the one above and
// none through a link; an existing folder is fine. Throws as openFolder does, EEXIST/ENOTDIR when
// something that is no folder stands in the way.
void makeFolders(std::string_view path, mode_t mode = 0777);

// A walk down a tree of folders that needs few descriptors however deep it goes. Entering opens a
// folder inside the current one without following a link; leaving goes back to the folder above,
// checked to be the very folder it came down from (a folder moved meanwhile stops the walk with
// ESTALE rather than leading elsewhere). Folders are opened for reading.
class FolderChain {
public:
    // Starts in the folder `name` inside `folder`. Throws std::system_error (ELOOP for a link,
    // ENOTDIR for anything else that is not a folder).
    FolderChain(int folder, const std::string& name, std::string shownAs);

    int fd() const { return levels_.back().fd.get(); }
    // 0 in the starting folder.
    std::size_t depth() const { return levels_.size() - 1; }
    // The current folder as a path for messages: the starting folder's `shownAs` and the names
    // entered since.
    std::string shown() const;
    std::string shown(const std::string& name) const { return shown() + "/" + name; }
    // The names entered since the start, outermost first.
    const std::vector<std::string>& names() const { return names_; }

    void enter(const std::string& name);
    void leave();

private:
    struct Level {
        Descriptor fd; // closed for levels far above the current one
        dev_t device = 0;
        ino_t inode = 0;
    };

    void push(Descriptor fd, const std::string& shownAs);

    std::vector<Level> levels_;
    std::vector<std::string> names_;
    std::string top_;
    std::size_t open_ = 0;
};

} // namespace Quandril::Platform
