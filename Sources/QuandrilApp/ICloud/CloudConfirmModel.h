#pragma once

// What the iCloud confirmation sheet shows, derived afresh from the model's last iCloud scan and
// the current selection each time the sheet is drawn: the chosen items, largest first, how much
// leaves iCloud, how much must be downloaded first, and whether any chosen item has a caution.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QString>

#include "QuandrilCore/ICloud/ICloud.h"

namespace Quandril::App {

class Preferences;

struct CloudConfirmModel {
    // Each selected id's first item of the scan (the set's order), then sorted by size, largest
    // first, equal sizes in the order collected. Ids the scan doesn't hold are left out.
    std::vector<CloudItem> chosen;
    std::int64_t total = 0;      // held at the 64-bit limit
    std::int64_t toDownload = 0; // of the items not on this Mac; held likewise
    bool anyCaution = false;

    static CloudConfirmModel build(const std::optional<CloudScan>& scan, const std::set<std::string>& selected);

    // "Take <total> out of iCloud?"
    QString title(const Preferences& preferences) const;
    // "<n> file<s>. <download> has to be downloaded first, <chunk> at a time, so your Mac never runs low."
    QString summary(std::int64_t chunk, const Preferences& preferences) const;
    // What happens to each file, naming the drive twice and the parking folder.
    static QString explanation(const QString& drive);
    // "Start" waits for the agreement only when a chosen item has a caution.
    bool canStart(bool agreed) const { return !anyCaution || agreed; }

    static inline const QString agreement = QStringLiteral(
        "I understand some of these won't be in iCloud any more: the copy on my drive is the one I keep");
};

} // namespace Quandril::App
