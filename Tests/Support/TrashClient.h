#pragma once

// The desktop's other Trash clients (trash-cli's trash-put, trash-list and trash-restore, GLib's
// gio), run as child processes on the test's environment, and a scratch drive for them: a file
// system of its own under /dev/shm.

#include <optional>
#include <string>
#include <vector>

namespace Quandril::Testing {

// Whether the tool is installed (in /usr/bin, where Debian's packages put them).
bool haveTool(const std::string& name);

// Runs the tool with `input` on its standard input; its standard output, or nothing when it could
// not run or ended with a non-zero status.
std::optional<std::string> runTool(const std::vector<std::string>& command, const std::string& input = {});

// A folder under /dev/shm, on a tmpfs of its own when this process may mount one (the folder is
// then the top of its drive), else a plain folder on /dev/shm's. Gone, and unmounted, at the end.
class ScratchDrive {
public:
    ScratchDrive();
    ~ScratchDrive();
    ScratchDrive(const ScratchDrive&) = delete;
    ScratchDrive& operator=(const ScratchDrive&) = delete;

    const std::string& path() const { return path_; }
    // The drive's top: path() with a mount of its own, else /dev/shm.
    std::string top() const { return mounted_ ? path_ : std::string("/dev/shm"); }
    bool ownMount() const { return mounted_; }
    // The same drive mounted at a second place too (a bind mount); empty when it can't be.
    std::string mountedElsewhere();
    // Unmounts a drive of its own, leaving its empty mount point behind.
    void unplug();

private:
    std::string path_, elsewhere_;
    bool mounted_ = false;
};

} // namespace Quandril::Testing
