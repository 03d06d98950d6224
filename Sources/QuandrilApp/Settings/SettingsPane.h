#pragma once

// The settings window's panes, in the order of their list. The raw value is what "settingsPane"
// stores; it is read exactly (case-sensitive, no trimming: "iCloud" is no pane).

#include <array>
#include <optional>
#include <vector>

#include <QString>

namespace Quandril::App {

enum class SettingsPane { general, goals, autopilot, notifications, drives, rules, icloud, privacy, updates, advanced };

inline constexpr std::array<SettingsPane, 10> allSettingsPanes {
    SettingsPane::general, SettingsPane::goals,    SettingsPane::autopilot, SettingsPane::notifications,
    SettingsPane::drives,  SettingsPane::rules,    SettingsPane::icloud,    SettingsPane::privacy,
    SettingsPane::updates, SettingsPane::advanced,
};

QString rawValue(SettingsPane pane);
std::optional<SettingsPane> settingsPaneFromRaw(const QString& raw);
// The pane a stored text shows: the pane it names, else General.
SettingsPane settingsPaneShown(const QString& stored);

// The name in the list and above the pane, the symbol of its tile, and the tile's colour name
// ("gray", "blue", "purple", "red", "green", "cyan", "teal").
QString title(SettingsPane pane);
QString symbol(SettingsPane pane);
QString tileColor(SettingsPane pane);

// The list's four groups, top to bottom.
const std::array<std::vector<SettingsPane>, 4>& settingsPaneGroups();

} // namespace Quandril::App
