#include "Support/SteamFixtures.h"

namespace Quandril::Testing {

std::string steamPath(std::string_view rest)
{
    return std::string(steamFolder) + std::string(rest);
}

std::string vdfEscaped(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::string manifest(const std::string& appID, const std::string& name, const std::string& installDir)
{
    return "\"AppState\"\n{\n\t\"appid\"\t\t\"" + appID + "\"\n\t\"name\"\t\t\"" + name + "\"\n\t\"installdir\"\t\t\""
        + installDir + "\"\n}\n";
}

std::string libraryList(const std::vector<ListedLibrary>& libraries)
{
    std::string text = "\"libraryfolders\"\n{\n";
    for (std::size_t index = 0; index < libraries.size(); ++index) {
        text += "\t\"" + std::to_string(index) + "\"\n\t{\n\t\t\"path\"\t\t\"" + vdfEscaped(libraries[index].path)
            + "\"\n\t\t\"apps\"\n\t\t{\n";
        for (const std::string& app : libraries[index].apps)
            text += "\t\t\t\"" + vdfEscaped(app) + "\"\t\t\"1000\"\n";
        text += "\t\t}\n\t}\n";
    }
    return text + "}\n";
}

void writeLibraryList(FakeMachine& machine, const std::vector<ListedLibrary>& libraries)
{
    machine.text(steamPath("/steamapps/libraryfolders.vdf"), libraryList(libraries));
}

void installGame(FakeMachine& machine, std::string_view library, const std::string& appID, const std::string& name,
                 const std::string& installDir, std::int64_t bytes)
{
    const std::string steamapps = std::string(library) + "/steamapps/";
    machine.text(steamapps + "appmanifest_" + appID + ".acf",
                 manifest(appID, vdfEscaped(name), vdfEscaped(installDir)));
    if (bytes >= 0)
        machine.file(steamapps + "common/" + installDir + "/game.bin", bytes);
}

} // namespace Quandril::Testing
