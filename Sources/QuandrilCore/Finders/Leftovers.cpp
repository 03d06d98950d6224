#include "QuandrilCore/Finders/Finders.h"

namespace Quandril {

FinderResult SplitInstallsFinder::find(const ScanContext&) const
{
    return {};
}

FinderResult LeftoversFinder::find(const ScanContext&) const
{
    return {};
}

FinderResult AppCachesFinder::find(const ScanContext&) const
{
    return {};
}

} // namespace Quandril
