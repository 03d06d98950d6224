#pragma once

// The smallest catalog that loads: all eleven keys, every list empty, every threshold 0. Tests
// start from it and add only the rules they are about.

#include <string>
#include <vector>

#include "QuandrilCore/Rules/Catalog.h"
#include "QuandrilCore/Values/Json.h"

namespace Quandril::Testing {

// As a value.
Catalog miniCatalog();
// As the JSON object a catalog file holds.
Json::Value miniCatalogJson();
// As the text of a catalog file.
std::string miniCatalogText();

// Leaves only the catalog's places speaking: every other finder's threshold is out of reach, and
// a place of any size is a finding.
void onlyPlacesSpeak(Catalog& catalog);

// A place with the required fields set: tier "rebuilds", action delete, one path pattern.
Catalog::Place place(std::string id, std::string pattern);

// An owner: the app's name, the folder names it leaves behind, and its bundle ids (absent when
// none are given).
Catalog::Owner owner(std::string app, std::vector<std::string> names, std::vector<std::string> bundleIDs = {});

} // namespace Quandril::Testing
