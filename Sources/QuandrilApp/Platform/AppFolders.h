#pragma once

// Where the app keeps its own files: the user's config folder, derived from the same home folder
// the engine scans, so the app and the engine never disagree about whose files these are.

#include <QString>

namespace Quandril::App::AppFolders {

// $XDG_CONFIG_HOME when it is an absolute path other than "/" with no ".." among its names (as root,
// only where the nearest folder that exists on it is root's own), else ".config" in the engine's home
// folder. Empty when there is no home to hold it (the home is "/" or no absolute path): nothing is
// then kept.
QString configHome();

// Makes `folder` and the folder holding it (0700) when they are missing; the one above those must
// already be a folder, so a missing home is never made; a path with a ".." name is refused. True
// when `folder` is a folder afterwards.
bool makeFolder(const QString& folder);

} // namespace Quandril::App::AppFolders
