#pragma once

// What Put Back (CleanerUndo.cpp) needs beyond one move back: the folders Put Back itself made at
// old places, which a trashed folder may replace (see mergePlan), and the merge that does it.

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::PutBackSteps {

// What stands at the path, links not followed; nothing when nothing does or it can't be seen.
std::optional<struct stat> itemAt(const std::string& path);

// The old places of every item that Put Back returned for entries no longer in force.
std::set<std::string> returnedItems(const std::vector<HistoryEntry>& history, const Mac& mac);

struct MergePlan {
    std::vector<std::string> returned; // items other put-backs returned into the folder
    std::vector<std::string> folders;  // the folder and every folder inside it, outer ones first
};

// A folder at a folder's old place that holds at least one item another put-back returned, and
// nothing but such items in folders holding nothing else (or nothing at all), was made by Put Back
// for those items, as when an older clean-up's inner item came back while this newer clean-up's
// folder was in the Trash. Such a folder takes nothing from anyone when the trashed folder replaces
// it: the returned items go into the trashed folder at their own places, the emptied folders go,
// and the trashed folder comes back whole. A folder holding no returned item at all is no folder
// Put Back made but something new, such as a cache folder its app made again, and it stays; so
// does anything else in the way, and a clash inside.
std::optional<MergePlan> mergePlan(const Relocation& item, const std::set<std::string>& returned);

// Finds the folders Put Back made in old places. History is read for it only when a folder stands
// in an old place.
struct Merges {
    const std::vector<HistoryEntry>& history;
    const Mac& mac;
    std::optional<std::set<std::string>> returned;

    std::optional<MergePlan> operator()(const Relocation& item);
};

// Moves the items of the plan into the trashed folder, removes the emptied folders and moves the
// trashed folder back. When a step fails, the items go back to where they were before the error
// is passed on, and the error says where any that couldn't are.
void mergeBack(FileOps& files, const Mac& mac, const Relocation& item, const MergePlan& plan);

} // namespace Quandril::PutBackSteps
