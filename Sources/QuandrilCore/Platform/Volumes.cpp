#include "QuandrilCore/Platform/Volumes.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril::Platform {

namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

// The kernel writes a blank, tab, newline and backslash in a path as \040, \011, \012 and \134.
std::string unescapeOctal(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) && isOctal(text[i + 2])
            && isOctal(text[i + 3])) {
            int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            if (value <= 0xFF) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            break;
        std::size_t end = line.find(' ', at);
        if (end == std::string_view::npos)
            end = line.size();
        fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

std::int64_t bytesOf(unsigned long long blocks, unsigned long long blockSize)
{
    unsigned long long product = 0;
    if (__builtin_mul_overflow(blocks, blockSize, &product)
        || product > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(product);
}

std::optional<std::string> resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer))
        return std::nullopt;
    return std::string(buffer);
}

// Device node (resolved) to its file-system label, from udev's by-label folder.
std::map<std::string, std::string> deviceLabels()
{
    std::map<std::string, std::string> labels;
    const std::string folder = "/dev/disk/by-label";
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return labels;
    while (struct dirent* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (auto device = resolved(folder + "/" + name))
            labels.emplace(*device, hexUnescaped(name, "\\x")); // udev writes unsafe characters as \xHH
    }
    ::closedir(listing);
    return labels;
}

// The computer's network name, or nothing when it has none.
std::optional<std::string> hostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
        return std::nullopt;
    return std::string(buffer);
}

} // namespace

std::string mountName(std::string_view path)
{
    const std::string_view name = lastName(path);
    return name.empty() ? "/" : std::string(name);
}

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        auto fields = splitFields(text.substr(at, end - at));
        at = end + 1;
        // id, parent, major:minor, root, mount point, options, optional fields…, "-", type, source, …
        if (fields.size() < 9)
            continue;
        auto separator = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
        if (separator == fields.end() || fields.end() - separator < 3)
            continue;
        MountEntry entry;
        entry.device = std::string(fields[2]);
        entry.root = unescapeOctal(fields[3]);
        entry.mountPoint = unescapeOctal(fields[4]);
        entry.type = unescapeOctal(separator[1]);
        entry.source = unescapeOctal(separator[2]);
        if (entry.mountPoint.empty() || entry.mountPoint.front() != '/')
            continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool isPseudoFileSystem(std::string_view type)
{
    static const std::set<std::string_view> pseudo {
        "autofs",      "binfmt_misc",   "bpf",      "configfs",  "cramfs",          "debugfs",    "devfs",
        "devpts",      "devtmpfs",      "efivarfs", "erofs",     "fuse.gvfsd-fuse", "fuse.lxcfs", "fuse.overlayfs",
        "fuse.portal", "fuse.snapfuse", "fusectl",  "hugetlbfs", "mqueue",          "nfsd",       "nsfs",
        "overlay",     "aufs",          "proc",     "pstore",    "ramfs",           "rpc_pipefs", "securityfs",
        "selinuxfs",   "squashfs",      "sysfs",    "tmpfs",     "tracefs",
    };
    return type.starts_with("cgroup") || pseudo.contains(type);
}

bool isNetworkFileSystem(std::string_view type)
{
    static const std::set<std::string_view> network {
        "9p",          "afs",          "ceph",           "cifs",
        "coda",        "davfs",        "fuse.ceph",      "fuse.curlftpfs",
        "fuse.davfs2", "fuse.gcsfuse", "fuse.glusterfs", "fuse.rclone",
        "fuse.s3fs",   "fuse.sshfs",   "glusterfs",      "lustre",
        "ncpfs",       "smb3",         "smbfs",          "sshfs",
        "vboxsf",      "virtiofs",
    };
    return type.starts_with("nfs") || network.contains(type);
}

bool isSystemMountPoint(std::string_view mountPoint)
{
    // Removable drives are mounted under /run/media on some systems.
    if (atOrBelow(mountPoint, "/run/media"))
        return false;
    static constexpr std::array<std::string_view, 10> system {
        "/boot", "/efi", "/dev", "/proc", "/sys", "/run", "/snap", "/var/lib", "/etc", "/var/snap",
    };
    return std::any_of(system.begin(), system.end(),
                       [&](std::string_view folder) { return atOrBelow(mountPoint, folder); });
}

namespace {

// The entry whose mount holds `path`: the deepest mount point above it, the last of those mounted at
// one place (a later mount there covers the earlier ones).
std::optional<std::size_t> holding(const std::vector<MountEntry>& entries, std::string_view path)
{
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (within(path, entries[i].mountPoint)
            && (!found || entries[i].mountPoint.size() >= entries[*found].mountPoint.size()))
            found = i;
    }
    return found;
}

bool covered(const std::vector<MountEntry>& entries, std::size_t index)
{
    return std::any_of(entries.begin() + static_cast<std::ptrdiff_t>(index) + 1, entries.end(),
                       [&](const MountEntry& later) { return later.mountPoint == entries[index].mountPoint; });
}

} // namespace

std::vector<Volume> describeMounts(const std::vector<MountEntry>& entries, std::string_view home)
{
    const std::optional<std::size_t> top = holding(entries, "/");
    std::optional<std::size_t> startup = holding(entries, home);
    // A home on a network is never measured, so the startup volume stays the local "/".
    if (!startup || isNetworkFileSystem(entries[*startup].type))
        startup = top;
    const auto shownAtAll = [&](std::size_t i) {
        if (covered(entries, i))
            return false;
        return i == top || i == startup
            || (!isPseudoFileSystem(entries[i].type) && !isSystemMountPoint(entries[i].mountPoint));
    };
    // The one mount each file system is shown at: "/", else the home's, else the first.
    std::map<std::string, std::size_t> shownAt;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!shownAtAll(i))
            continue;
        auto [at, added] = shownAt.emplace(entries[i].device, i);
        if (!added && at->second != top && (i == top || i == startup))
            at->second = i;
    }

    std::vector<Volume> volumes;
    volumes.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const MountEntry& entry = entries[i];
        const auto shown = shownAt.find(entry.device);
        Volume volume;
        volume.path = entry.mountPoint;
        const bool browsable = shown != shownAt.end() && shown->second == i;
        volume.isRoot = browsable && shownAt.at(entries[*startup].device) == i;
        if (entry.mountPoint != "/")
            volume.name = mountName(entry.mountPoint);
        volume.browsable = browsable;
        volume.local = !isNetworkFileSystem(entry.type);
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::vector<Volume> volumesOf(std::string_view mountInfo, std::string_view home, const CapacityProbe& capacity)
{
    auto entries = parseMountInfo(mountInfo);
    auto volumes = describeMounts(entries, home);
    std::optional<std::map<std::string, std::string>> labels;

    std::vector<Volume> listed;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        Volume& volume = volumes[i];
        // A hidden or remote volume is never examined: a stalled network mount would block here.
        if (volume.browsable == false || volume.local == false) {
            listed.push_back(std::move(volume));
            continue;
        }
        const auto measured = capacity(volume.path);
        if (!measured)
            continue;
        volume.total = measured->total;
        volume.free = measured->free;
        // Linux has no separate figure for room kept back for important data.
        volume.importantFree = volume.free;

        bool labelled = false;
        const std::string& source = entries[i].source;
        if (source.starts_with("/dev/")) {
            if (!labels)
                labels = deviceLabels();
            auto device = resolved(source);
            auto found = device ? labels->find(*device) : labels->end();
            if (found != labels->end()) {
                volume.name = found->second;
                labelled = true;
            }
        }
        // An unlabelled startup volume goes by the computer's name rather than by its mount point.
        if (!labelled && volume.isRoot.value_or(false))
            if (auto name = hostName())
                volume.name = std::move(name);
        listed.push_back(std::move(volume));
    }
    return listed;
}

std::vector<Volume> mountedVolumes(std::string_view home)
{
    auto table = readFile("/proc/self/mountinfo");
    if (!table)
        return {};
    return volumesOf(*table, home, [](const std::string& path) -> std::optional<Capacity> {
        struct stat status {};
        struct statvfs capacity {};
        if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || ::statvfs(path.c_str(), &capacity) != 0)
            return std::nullopt;
        return Capacity { bytesOf(capacity.f_blocks, capacity.f_frsize),
                          bytesOf(capacity.f_bavail, capacity.f_frsize) };
    });
}

std::vector<std::string> mountPointsInside(const std::string& folder)
{
    struct stat info {};
    char resolved[PATH_MAX];
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || !::realpath(folder.c_str(), resolved))
        return {};
    const auto table = readFile("/proc/self/mountinfo");
    if (!table)
        return {};
    const std::string_view real = resolved;
    std::vector<std::string> inside;
    for (const auto& entry : parseMountInfo(*table)) {
        if (Platform::inside(entry.mountPoint, real))
            inside.push_back(
                joinPath(folder, std::string_view(entry.mountPoint).substr(real == "/" ? 1 : real.size() + 1)));
    }
    return inside;
}

bool mountedReadOnly(const std::string& path)
{
    // The item's entry belongs to its folder: a drive mounted at the item itself is not where it lies.
    for (std::string folder = parentOf(path);; folder = parentOf(folder)) {
        struct stat info {};
        struct statvfs system {};
        if (::lstat(folder.c_str(), &info) == 0)
            return S_ISDIR(info.st_mode) && ::statvfs(folder.c_str(), &system) == 0 && (system.f_flag & ST_RDONLY);
        if (folder == "/" || folder == "." || folder.empty())
            return false;
    }
}

} // namespace Quandril::Platform
