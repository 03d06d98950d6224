#pragma once

// Mounted volumes, from the kernel's mount table and statvfs.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Quandril::Platform {

// One line of /proc/self/mountinfo, its octal escapes (\040 and the like) undone.
struct MountEntry {
    std::string device; // "major:minor"
    std::string root;   // the folder of the file system that is mounted
    std::string mountPoint;
    std::string type;   // "ext4", "fuse.sshfs", ...
    std::string source; // "/dev/sda1", "server:/export", ...

    friend bool operator==(const MountEntry&, const MountEntry&) = default;
};

// Every well-formed line, in the table's order; malformed lines are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// File systems that hold no user data (kernel views, memory, read-only images, container layers).
bool isPseudoFileSystem(std::string_view type);
// File systems reached over a network.
bool isNetworkFileSystem(std::string_view type);
// Mount points the system keeps for itself (boot partitions, kernel views, container bind mounts).
bool isSystemMountPoint(std::string_view mountPoint);

// One volume with the seven values a volume listing reports; absent means not reported.
struct Volume {
    std::string path;
    std::optional<std::string> name;
    std::optional<bool> isRoot;
    std::optional<std::int64_t> total;
    std::optional<std::int64_t> importantFree;
    std::optional<std::int64_t> free;
    std::optional<bool> browsable;
    std::optional<bool> local;
};

// The volume values a mount entry tells without asking the file system (no capacities). A mount of
// a device already listed as browsable is hidden, so a bind mount or a second subvolume of the same
// file system does not show up as another drive.
std::vector<Volume> describeMounts(const std::vector<MountEntry>& entries);

// A volume's name from its mount point: the last name, or "/" for the top folder.
std::string mountName(std::string_view path);

// The live volumes with their capacities, in the mount table's order. Mount points that are not
// folders or cannot be examined are left out.
std::vector<Volume> mountedVolumes();

// The mount points strictly inside the folder at `folder` (a link there is no folder), in the mount
// table's order, each named below `folder` as given: what a move of the folder would carry along.
std::vector<std::string> mountPointsInside(const std::string& folder);

} // namespace Quandril::Platform
