#include "QuandrilCore/Finders/Finders.h"

namespace Quandril {

FinderResult SteamFinder::find(const ScanContext&) const
{
    return {};
}

} // namespace Quandril
