// Free-space goals as the user types them: any text parses or is refused, a share lies strictly
// between 0 and 1, a byte goal is not negative, and every drive size gives a target without
// undefined behaviour.

#include <cstdint>
#include <limits>

#include "FuzzCheck.h"
#include "QuandrilCore/Scanning/Planner.h"

using namespace Quandril;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto goal = Goal::parse(Fuzz::text(data, size));
    if (!goal)
        return 0;
    if (goal->kind() == Goal::Kind::share)
        Fuzz::check(goal->fraction() > 0 && goal->fraction() < 1, "a share lies between 0 and 1");
    else
        Fuzz::check(goal->byteCount() >= 0, "a byte goal is not negative");
    for (std::int64_t total : { std::int64_t { 0 }, std::int64_t { 1 }, std::int64_t { 500'000'000'000 },
                                std::numeric_limits<std::int64_t>::max() }) {
        const std::int64_t target = goal->bytes(total);
        Fuzz::check(target >= 0, "a target is not negative");
        if (goal->kind() == Goal::Kind::share)
            Fuzz::check(target <= total, "a share of a drive is no larger than the drive");
    }
    Fuzz::check(!goal->description().empty(), "a goal describes itself");
    Fuzz::check(Goal::parse(Fuzz::text(data, size)) == goal, "parsing is deterministic");
    return 0;
}
