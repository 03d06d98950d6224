// Property lists as an Info.plist holds them: any bytes give the wanted text values or nothing,
// never a crash, an abort or a hang.

#include "FuzzCheck.h"
#include "QuandrilCore/Platform/Plist.h"

using namespace Quandril;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto strings = Platform::plistStrings(Fuzz::text(data, size), { "CFBundleIdentifier", "QuandrilTeamID" });
    if (strings)
        for (const auto& [key, value] : *strings)
            Fuzz::check(key == "CFBundleIdentifier" || key == "QuandrilTeamID", "only wanted keys are given");
    return 0;
}
