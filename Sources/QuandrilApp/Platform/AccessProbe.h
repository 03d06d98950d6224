#pragma once

// Whether the app may read the folders that the system guards for privacy (Full Disk Access).
// Asked afresh wherever the answer matters, never cached: the user may grant access at any time.
// Safe from any thread.

#include <memory>

namespace Quandril::App {

class AccessProbe {
public:
    virtual ~AccessProbe() = default;

    virtual bool hasFullDiskAccess() const = 0;

    // The live answer: access counts as granted unless the system's privacy database exists and
    // cannot be read. On Linux no such database exists, so access is granted.
    static std::shared_ptr<const AccessProbe> live();
};

} // namespace Quandril::App
