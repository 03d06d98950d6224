#include "QuandrilApp/Settings/SettingsPane.h"

namespace Quandril::App {

namespace {

struct PaneText {
    const char* raw;
    const char* title;
    const char* symbol;
    const char* tile;
};

const PaneText& textOf(SettingsPane pane)
{
    static const PaneText texts[] = {
        { "general", "General", "gearshape", "gray" },
        { "goals", "Goals", "scope", "blue" },
        { "autopilot", "Autopilot", "wand.and.stars", "purple" },
        { "notifications", "Notifications", "bell.badge", "red" },
        { "drives", "Drives", "externaldrive", "blue" },
        { "rules", "Never Touch", "shield.lefthalf.filled", "green" },
        { "icloud", "iCloud", "icloud", "cyan" },
        { "privacy", "Privacy", "hand.raised", "green" },
        { "updates", "Updates", "arrow.triangle.2.circlepath", "teal" },
        { "advanced", "Advanced", "terminal", "gray" },
    };
    return texts[static_cast<int>(pane)];
}

} // namespace

QString rawValue(SettingsPane pane)
{
    return QString::fromLatin1(textOf(pane).raw);
}

std::optional<SettingsPane> settingsPaneFromRaw(const QString& raw)
{
    for (const auto pane : allSettingsPanes)
        if (raw == QLatin1String(textOf(pane).raw))
            return pane;
    return std::nullopt;
}

SettingsPane settingsPaneShown(const QString& stored)
{
    return settingsPaneFromRaw(stored).value_or(SettingsPane::general);
}

QString title(SettingsPane pane)
{
    return QString::fromLatin1(textOf(pane).title);
}

QString symbol(SettingsPane pane)
{
    return QString::fromLatin1(textOf(pane).symbol);
}

QString tileColor(SettingsPane pane)
{
    return QString::fromLatin1(textOf(pane).tile);
}

const std::array<std::vector<SettingsPane>, 4>& settingsPaneGroups()
{
    using enum SettingsPane;
    static const std::array<std::vector<SettingsPane>, 4> groups { {
        { general, goals, autopilot, notifications },
        { drives, rules, icloud },
        { privacy, updates },
        { advanced },
    } };
    return groups;
}

} // namespace Quandril::App
