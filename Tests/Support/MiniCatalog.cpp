#include "Support/MiniCatalog.h"

#include <cstdint>

namespace Quandril::Testing {

Catalog miniCatalog()
{
    return Catalog {};
}

Json::Value miniCatalogJson()
{
    return toJson(miniCatalog());
}

std::string miniCatalogText()
{
    return Json::dump(miniCatalogJson(), true);
}

Catalog::Place place(std::string id, std::string pattern)
{
    Catalog::Place out;
    out.id = std::move(id);
    out.title = "Place " + out.id;
    out.paths = { std::move(pattern) };
    out.tier = Tier::rebuilds;
    out.action = Action(Action::Kind::delete_);
    out.reason = "Rebuilds itself.";
    out.getBack = "Nothing to do.";
    return out;
}

void onlyPlacesSpeak(Catalog& catalog)
{
    constexpr std::int64_t never = std::int64_t(1) << 62;
    catalog.thresholds = { .leftover = never,
                           .unknownLeftover = never,
                           .appCaches = never,
                           .appCacheEach = never,
                           .splitInstall = never,
                           .workshop = never,
                           .installerBytes = never,
                           .unusedAppBytes = never,
                           .personalFolder = never,
                           .staleMount = never,
                           .place = 0 };
}

Catalog::Owner owner(std::string app, std::vector<std::string> names, std::vector<std::string> bundleIDs)
{
    Catalog::Owner out;
    out.app = std::move(app);
    out.names = std::move(names);
    if (!bundleIDs.empty())
        out.bundleIDs = std::move(bundleIDs);
    return out;
}

} // namespace Quandril::Testing
