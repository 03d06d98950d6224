#pragma once

// Mounted volumes, from the kernel's mount table and statvfs.

#include <cstdint>
#include <functional>
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
    // The startup volume: the one that holds the home folder, which need not be "/".
    std::optional<bool> isRoot;
    std::optional<std::int64_t> total;
    std::optional<std::int64_t> importantFree;
    std::optional<std::int64_t> free;
    std::optional<bool> browsable;
    std::optional<bool> local;
};

// The volume values a mount entry tells without asking the file system (no capacities). Mounts of
// one file system (one device: a bind mount, btrfs subvolumes such as "/" and "/home") are one
// volume, shown once: at "/" when it is one of them, else where `home` lies, else at its first mount
// that is shown at all. The startup volume is the one that holds `home`, or "/" when the home lies on
// a network; "/" and the startup volume are always shown, also as an overlay or a live system's image.
std::vector<Volume> describeMounts(const std::vector<MountEntry>& entries, std::string_view home = "/");

// A volume's name from its mount point: the last name, or "/" for the top folder.
std::string mountName(std::string_view path);

// What statvfs tells of a mount point: total = f_blocks*f_frsize, free = f_bavail*f_frsize.
struct Capacity {
    std::int64_t total = 0;
    std::int64_t free = 0;
};
// A mount point's capacity; absent when it is no folder or can't be examined.
using CapacityProbe = std::function<std::optional<Capacity>(const std::string& mountPoint)>;

// The volumes of a mount table (the text of /proc/self/mountinfo) with their capacities, in the
// table's order, `home` deciding the startup volume as describeMounts says. Mount points the probe
// can't examine are left out; hidden and remote ones are never probed.
std::vector<Volume> volumesOf(std::string_view mountInfo, std::string_view home, const CapacityProbe& capacity);

// The live volumes: this process's mount table, each mount point examined with stat and statvfs.
std::vector<Volume> mountedVolumes(std::string_view home);

// The mount points strictly inside the folder at `folder` (a link there is no folder), in the mount
// table's order, each named below `folder` as given: what a move of the folder would carry along.
std::vector<std::string> mountPointsInside(const std::string& folder);

// Whether the file system an item at `path` lies in, or would lie in once made, is mounted read-only
// (statvfs's ST_RDONLY): that of the nearest existing folder above it. False when none can be examined.
bool mountedReadOnly(const std::string& path);

} // namespace Quandril::Platform
