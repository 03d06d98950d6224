// Steam's key/value files: any bytes read without a crash, a hang or undefined behaviour, and the
// same bytes always give the same tree.

#include "FuzzCheck.h"
#include "QuandrilCore/Rules/VDF.h"

using namespace Quandril;

namespace {

// Looks up every key of every block the way callers do, down the whole tree.
std::size_t walk(const VDF& value)
{
    std::size_t count = 1;
    if (const auto* block = value.block())
        for (const auto& [key, inner] : *block) {
            Fuzz::check(value.find(key) == &inner, "a block finds each of its own keys");
            count += walk(inner);
        }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto first = VDF::parseText(Fuzz::text(data, size));
    if (!first)
        return 0;
    Fuzz::check(first->isBlock(), "the top level is a block");
    walk(*first);
    Fuzz::check(VDF::parseText(Fuzz::text(data, size)) == first, "reading is deterministic");
    return 0;
}
