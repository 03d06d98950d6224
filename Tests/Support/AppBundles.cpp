#include "AppBundles.h"

#include <map>

#include "QuandrilCore/Platform/Plist.h"

namespace Quandril::Testing {

std::string writeAppBundle(const std::string& path, const AppSpec& spec)
{
    std::string executable = path.substr(path.rfind('/') + 1);
    if (executable.ends_with(".app"))
        executable.resize(executable.size() - 4);
    writeFile(path + "/Contents/MacOS/" + executable, "#!/bin/sh\n");

    std::map<std::string, std::string> info { { "CFBundleName", executable } };
    if (spec.bundleID)
        info["CFBundleIdentifier"] = *spec.bundleID;
    if (spec.teamID)
        info["QuandrilTeamID"] = *spec.teamID;
    const std::string plist = path + "/Contents/Info.plist";
    switch (spec.infoPlist) {
    case InfoPlist::binary:
        writeFile(plist, Platform::plistData(info, Platform::PlistFormat::binary));
        break;
    case InfoPlist::xml:
        writeFile(plist, Platform::plistData(info, Platform::PlistFormat::xml));
        break;
    case InfoPlist::broken:
        writeFile(plist, "bplist00\x01\x02 not really");
        break;
    case InfoPlist::none:
        break;
    }
    if (spec.appStoreReceipt)
        writeFile(path + "/Contents/_MASReceipt/receipt", "receipt");
    return path;
}

std::string addApp(FakeMachine& machine, std::string_view display, const AppSpec& spec)
{
    return writeAppBundle(machine.at(display), spec);
}

} // namespace Quandril::Testing
