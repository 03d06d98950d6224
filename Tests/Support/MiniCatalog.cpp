#include "Support/MiniCatalog.h"

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
