#include "QuandrilCore/Machine/Mac.h"

#include <climits>
#include <cstdlib>
#include <sys/xattr.h>
#include <system_error>

#include "QuandrilCore/Platform/Files.h"
#include "QuandrilCore/Platform/Home.h"
#include "QuandrilCore/Platform/PathText.h"

namespace Quandril {

namespace {

constexpr std::string_view fixtureFileName = "quandril-fixture.json";
// Linux keeps user attributes in the "user." namespace; the name after it is the file provider's.
constexpr const char* fileProviderAttribute = "user.com.apple.file-provider-domain-id";

// Equal to the folder, or inside it.
std::optional<std::string_view> remainderBelow(std::string_view path, std::string_view folder)
{
    if (!path.starts_with(folder))
        return std::nullopt;
    auto rest = path.substr(folder.size());
    if (rest.empty() || rest.front() == '/')
        return rest;
    return std::nullopt;
}

// Far more than any fixture needs; a larger file is refused rather than read into memory.
constexpr std::size_t maxFixtureBytes = 32 * 1024 * 1024;

std::string readWholeFile(const std::string& path)
{
    int error = 0;
    auto content = Platform::readFile(path, &error, { .maxBytes = maxFixtureBytes });
    if (!content)
        throw std::system_error(error, std::generic_category(), "Couldn't read " + path);
    return std::move(*content);
}

} // namespace

Mac::Mac(std::string rootFolder, std::string homeFolder, std::optional<Fixture> fixtureContent)
    : root(std::move(rootFolder))
    , home(std::move(homeFolder))
    , fixture(std::move(fixtureContent))
{
    // Every path the engine records is made from the home; "//" or "/./" in it would make them
    // paths Put Back refuses to trust.
    if (home.starts_with('/'))
        home = Platform::lexicallyNormal(home);
    // These two are listed whether or not they exist: a folder made later is still a cloud folder.
    cloud.push_back({ Platform::joinPath(home, "Library/Mobile Documents"), "iCloud Drive" });
    cloud.push_back({ Platform::joinPath(home, "Library/CloudStorage"), "a cloud drive" });
    for (const char* name : { "Desktop", "Documents", "Downloads", "Movies", "Music", "Pictures" }) {
        std::string folder = Platform::joinPath(home, name);
        if (auto service = fileProvider(folder))
            cloud.push_back({ folder, *service });
    }
    if (fixture && fixture->cloud) {
        for (const auto& entry : *fixture->cloud) {
            std::string folder = path(entry);
            bool listed = false;
            for (const auto& known : cloud)
                listed = listed || known.path == folder;
            if (!listed)
                cloud.push_back({ folder, "iCloud Drive" });
        }
    }
}

Mac Mac::real()
{
    // macOS is told here to stop this process from downloading cloud placeholder files when it
    // reads them. Linux has no such placeholders a read would fetch, so nothing is switched off.
    return Mac("", Platform::homeFolder(), std::nullopt);
}

Mac Mac::fake(const std::string& at)
{
    std::string root = at;
    char resolved[PATH_MAX];
    if (::realpath(at.c_str(), resolved))
        root = resolved;
    std::string text = readWholeFile(root + "/" + std::string(fixtureFileName));
    auto fixture = Json::decodeAs<Fixture>(Json::parse(text));
    return Mac(root, root + "/Users/me", std::move(fixture));
}

std::string Mac::path(std::string_view display) const
{
    if (display == "~")
        return home;
    if (display.starts_with("~/"))
        return Platform::joinPath(home, display.substr(2));
    return root + std::string(display);
}

std::string Mac::display(std::string_view real) const
{
    if (!home.empty()) {
        if (real == home)
            return "~";
        if (auto rest = remainderBelow(real, home))
            return "~" + std::string(*rest);
    }
    // A sibling such as /tmp/fx2 is not inside the fake root /tmp/fx and keeps its full text.
    if (!root.empty()) {
        if (auto rest = remainderBelow(real, root))
            return rest->empty() ? "/" : std::string(*rest);
    }
    return std::string(real);
}

std::optional<std::string> fileProvider(const std::string& path)
{
    ssize_t size = ::lgetxattr(path.c_str(), fileProviderAttribute, nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::string value(static_cast<std::size_t>(size), '\0');
    if (::lgetxattr(path.c_str(), fileProviderAttribute, value.data(), value.size()) != size)
        return std::nullopt;
    // Invalid UTF-8 never turns into ASCII when repaired, so the prefix can be tested on the bytes.
    if (value.starts_with("com.apple.CloudDocs"))
        return "iCloud Drive";
    return "a cloud drive";
}

Json::Value toJson(const CloudFolder& folder)
{
    Json::Value out = Json::Value::object();
    out["path"] = folder.path;
    out["name"] = folder.name;
    return out;
}

Json::Value toJson(const SimRuntime& runtime)
{
    Json::Value out = Json::Value::object();
    out["id"] = runtime.id;
    out["name"] = runtime.name;
    out["bytes"] = runtime.bytes;
    return out;
}

Json::Value toJson(const Fixture::Drive& drive)
{
    Json::Value out = Json::Value::object();
    out["name"] = drive.name;
    out["path"] = drive.path;
    out["total"] = drive.total;
    out["free"] = drive.free;
    return out;
}

Json::Value toJson(const Fixture& fixture)
{
    Json::Value out = Json::Value::object();
    out["drives"] = Json::arrayOf(fixture.drives);
    Json::putOptional(out, "running", fixture.running);
    if (fixture.lastUsed) {
        Json::Value lastUsed = Json::Value::object();
        for (const auto& [app, date] : *fixture.lastUsed)
            lastUsed[app] = date;
        out["lastUsed"] = std::move(lastUsed);
    }
    Json::putOptional(out, "tools", fixture.tools);
    if (fixture.simRuntimes)
        out["simRuntimes"] = Json::arrayOf(*fixture.simRuntimes);
    Json::putOptional(out, "scale", fixture.scale);
    Json::putOptional(out, "cloud", fixture.cloud);
    return out;
}

void decode(const Json::Value& value, CloudFolder& out)
{
    out.path = Json::required<std::string>(value, "path");
    out.name = Json::required<std::string>(value, "name");
}

void decode(const Json::Value& value, SimRuntime& out)
{
    out.id = Json::required<std::string>(value, "id");
    out.name = Json::required<std::string>(value, "name");
    out.bytes = Json::required<std::int64_t>(value, "bytes");
}

void decode(const Json::Value& value, Fixture::Drive& out)
{
    out.name = Json::required<std::string>(value, "name");
    out.path = Json::required<std::string>(value, "path");
    out.total = Json::required<std::int64_t>(value, "total");
    out.free = Json::required<std::int64_t>(value, "free");
}

void decode(const Json::Value& value, Fixture& out)
{
    out.drives = Json::required<std::vector<Fixture::Drive>>(value, "drives");
    out.running = Json::optional<std::vector<std::string>>(value, "running");
    out.lastUsed = Json::optional<std::map<std::string, std::string>>(value, "lastUsed");
    out.tools = Json::optional<std::vector<std::string>>(value, "tools");
    out.simRuntimes = Json::optional<std::vector<SimRuntime>>(value, "simRuntimes");
    out.scale = Json::optional<double>(value, "scale");
    out.cloud = Json::optional<std::vector<std::string>>(value, "cloud");
}

} // namespace Quandril
