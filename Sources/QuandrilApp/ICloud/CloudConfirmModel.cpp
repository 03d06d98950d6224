#include "QuandrilApp/ICloud/CloudConfirmModel.h"

#include <algorithm>
#include <unordered_map>

#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App {

CloudConfirmModel CloudConfirmModel::build(const std::optional<CloudScan>& scan, const std::set<std::string>& selected)
{
    CloudConfirmModel model;
    if (!scan)
        return model;
    const std::vector<CloudItem> items = scan->items();
    std::unordered_map<std::string, const CloudItem*> first;
    for (const CloudItem& item : items)
        first.emplace(item.id, &item);
    for (const auto& id : selected) {
        const auto found = first.find(id);
        if (found != first.end())
            model.chosen.push_back(*found->second);
    }
    std::stable_sort(model.chosen.begin(), model.chosen.end(),
                     [](const CloudItem& a, const CloudItem& b) { return a.bytes > b.bytes; });
    for (const CloudItem& item : model.chosen) {
        model.total = Saturating::add(model.total, item.bytes);
        if (!item.onMac)
            model.toDownload = Saturating::add(model.toDownload, item.bytes);
        model.anyCaution = model.anyCaution || item.caution.has_value();
    }
    return model;
}

QString CloudConfirmModel::title(const Preferences& preferences) const
{
    return QStringLiteral("Take ") + AppFormat::bytes(total, preferences) + QStringLiteral(" out of iCloud?");
}

QString CloudConfirmModel::summary(std::int64_t chunk, const Preferences& preferences) const
{
    const auto count = chosen.size();
    return QString::number(count) + (count == 1 ? QStringLiteral(" file. ") : QStringLiteral(" files. "))
        + AppFormat::bytes(toDownload, preferences) + QStringLiteral(" has to be downloaded first, ")
        + AppFormat::bytes(chunk, preferences) + QStringLiteral(" at a time, so your Mac never runs low.");
}

QString CloudConfirmModel::explanation(const QString& drive)
{
    const auto& name = ICloud::parkedFolder;
    const QString folder = '"' + QString::fromUtf8(name.data(), qsizetype(name.size())) + '"';
    return QStringLiteral("Each file is checked byte for byte (against the copy that stays, for a copy), copied to ")
        + drive
        + QStringLiteral(" and checked again, and only then removed from iCloud, which removes it from all "
                         "your devices. It waits on ")
        + drive + QStringLiteral(" in ") + folder
        + QStringLiteral(" until you delete that folder; History can put it back.");
}

} // namespace Quandril::App
