#include "QuandrilApp/Platform/AccessProbe.h"

#include <cerrno>

#include <unistd.h>

namespace Quandril::App {

namespace {

constexpr const char* privacyDatabase = "/Library/Application Support/com.apple.TCC/TCC.db";

class LiveAccessProbe final : public AccessProbe {
public:
    bool hasFullDiskAccess() const override
    {
        if (::access(privacyDatabase, R_OK) == 0)
            return true;
        // Where there is no such database there is nothing to be kept from.
        return errno == ENOENT || errno == ENOTDIR;
    }
};

} // namespace

std::shared_ptr<const AccessProbe> AccessProbe::live()
{
    static const auto probe = std::make_shared<const LiveAccessProbe>();
    return probe;
}

} // namespace Quandril::App
