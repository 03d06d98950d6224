#pragma once

// The one door through which the cleaner and Put Back change files. Every change to the user's data
// goes through one of these operations, so tests can make any single one fail, fall short or
// corrupt what it made, and check that nothing is lost whatever step breaks.
//
// Failures throw std::system_error (EEXIST when something already stands where an item would go).
// Nothing here ever replaces or merges into an existing item, and nothing acts through a link: the
// live operations reach each item one folder at a time without following links and change it
// relative to the folder that holds it, so a folder on the way that became a link fails the
// operation (ELOOP) instead of sending it somewhere else.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace Quandril {

struct Mac;

class FileOps {
public:
    virtual ~FileOps() = default;

    // Moves the item (a link itself, never its target) into the machine's Trash, as Mac::trash does,
    // and returns the exact path it got there.
    virtual std::string trash(const Mac& mac, const std::string& path) = 0;

    // Removes the item for good: a folder with everything in it, a link itself (never its target).
    // Another drive mounted inside it (or at it) stays, with everything under it, and so does a
    // subvolume: MountsLeft says where, once all else has gone. The stop in force on this thread
    // (Platform/Stop.h) is heeded between entries: ECANCELED, with what wasn't reached left.
    // Returns the bytes this removal gave back to the drive: what another process removed first, a
    // file whose other names stay and blocks another file shares are none of them. A removal that
    // ends short of all of it after taking something throws PartlyRemoved (MountsLeft is one).
    virtual std::int64_t remove(const std::string& path) = 0;

    // Moves the item to the path `to`. Never replaces an item at `to` and never moves into a folder
    // standing there. Across file systems the item is copied, the copy verified, then the original
    // removed.
    virtual void moveNoReplace(const std::string& from, const std::string& to) = 0;

    // Makes the folder and any missing folders above it; an existing folder is not an error.
    virtual void createFolder(const std::string& path) = 0;

    // A symbolic link at `at` holding `target` exactly as given; never replaces what is at `at`.
    virtual void createLink(const std::string& at, const std::string& target) = 0;

    // Copies the item to the path `to`, folders recursively, links as links, modes and times kept.
    // Fails with EEXIST when anything is at `to`; a copy that fails part-way stays where it got to.
    virtual void copy(const std::string& from, const std::string& to) = 0;

    // The command lines, joined with " && ", run once with administrator rights, as
    // Mac::runAsAdmin does: false when they can't run, the password is refused or they fail.
    virtual bool runAsAdmin(const Mac& mac, const std::vector<std::vector<std::string>>& commands) = 0;

    // Removes the symbolic link at `path` itself; fails (EINVAL) when the item there is not a link,
    // so a folder or file that took the link's place is never deleted.
    virtual void removeLink(const std::string& path);

    // Removes the empty folder at `path`; fails (ENOTEMPTY) when anything is in it, and (ENOTDIR)
    // when the item there is no folder.
    virtual void removeFolder(const std::string& path);

    // The real operations. Callers that don't pass their own use this one.
    static FileOps& live();
    static std::shared_ptr<FileOps> liveShared();
};

// The real operations; tests derive from it to change one step and leave the rest real.
class LiveFileOps : public FileOps {
public:
    std::string trash(const Mac& mac, const std::string& path) override;
    std::int64_t remove(const std::string& path) override;
    void moveNoReplace(const std::string& from, const std::string& to) override;
    void createFolder(const std::string& path) override;
    void createLink(const std::string& at, const std::string& target) override;
    void copy(const std::string& from, const std::string& to) override;
    bool runAsAdmin(const Mac& mac, const std::vector<std::vector<std::string>>& commands) override;
};

// A removal that ended (failed, or was stopped) after giving some bytes back: those went all the same.
class PartlyRemoved : public std::system_error {
public:
    PartlyRemoved(int error, const std::string& what, std::int64_t freed)
        : std::system_error(error, std::generic_category(), what)
        , freed_(freed)
    {
    }

    std::int64_t freed() const { return freed_; }

private:
    std::int64_t freed_;
};

// A removal that stopped at mount points: it never crosses into another file system, so each mount
// point (the real paths, the item's own included) stays with everything under it; and at the
// subvolumes of its own file system (btrfs), which stay whole as well.
class MountsLeft : public PartlyRemoved {
public:
    MountsLeft(const std::string& path, std::vector<std::string> mountPoints, std::vector<std::string> subvolumes = {},
               std::int64_t freed = 0);

    const std::vector<std::string>& mountPoints() const { return mountPoints_; }
    const std::vector<std::string>& subvolumes() const { return subvolumes_; }

private:
    std::vector<std::string> mountPoints_;
    std::vector<std::string> subvolumes_;
};

// The user-facing description of a failed file operation, for sentences such as
// "Couldn't put back ~/x: " + describeFailure(error).
std::string describeFailure(const std::exception& error);

} // namespace Quandril
