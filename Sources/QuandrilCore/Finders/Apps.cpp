#include "QuandrilCore/Finders/Finders.h"

namespace Quandril {

FinderResult SimulatorsFinder::find(const ScanContext&) const
{
    return {};
}

FinderResult InstallersFinder::find(const ScanContext&) const
{
    return {};
}

FinderResult UnusedAppsFinder::find(const ScanContext&) const
{
    return {};
}

} // namespace Quandril
