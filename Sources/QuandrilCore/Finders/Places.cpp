#include "QuandrilCore/Finders/Finders.h"

namespace Quandril {

FinderResult PlacesFinder::find(const ScanContext&) const
{
    return {};
}

} // namespace Quandril
