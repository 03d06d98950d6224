#include "QuandrilCore/Finders/Finders.h"

namespace Quandril {

FinderResult StaleMountsFinder::find(const ScanContext&) const
{
    return {};
}

FinderResult PersonalFinder::find(const ScanContext&) const
{
    return {};
}

} // namespace Quandril
