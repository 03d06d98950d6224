// The fake machine's fixture: any text decodes or fails with a DecodeError; a decoded fixture
// encodes to JSON that decodes to the same fixture; its dates read or are absent and its scale
// gives a size that is never negative, all without undefined behaviour.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "FuzzCheck.h"
#include "QuandrilCore/Machine/Mac.h"

using namespace Quandril;

namespace {

// A root holding one small file, made once per run, for the scaled size.
std::string root;
std::string measured;

void removeRoot()
{
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char folder[] = "/tmp/quandril-fixture-fuzz-XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    root = folder;
    std::atexit(removeRoot);
    measured = root + "/data";
    std::ofstream(measured) << std::string(10'000, 'x');
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Fixture fixture;
    try {
        fixture = Json::decodeAs<Fixture>(Json::parse(Fuzz::text(data, size)));
    } catch (const Json::DecodeError&) {
        return 0;
    }
    const Json::Value encoded = toJson(fixture);
    Fuzz::check(Json::dump(toJson(Json::decodeAs<Fixture>(encoded))) == Json::dump(encoded),
                "a decoded fixture round-trips");

    const Mac mac(root, root + "/Users/me", fixture);
    if (fixture.lastUsed)
        for (const auto& [app, date] : *fixture.lastUsed)
            (void)mac.lastUsed(mac.path(app));
    Fuzz::check(mac.usage(measured).bytes >= 0, "a scaled size is never negative");
    (void)mac.drives();
    return 0;
}
