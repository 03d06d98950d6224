#pragma once

// Every preference key the app reads or writes, exactly as stored, and the designed default of
// each key that has one. Code names keys only through these constants, and takes defaults only
// from the tables at the end.

#include <array>
#include <string_view>
#include <variant>

#include <QLatin1StringView>
#include <QString>

namespace Quandril::App::Keys {

// Display settings: raw values of GaugeStyle, FreeSpaceSource and SizeUnits.
inline constexpr QLatin1StringView gaugeStyle { "gaugeStyle" };
inline constexpr QLatin1StringView freeSpaceSource { "freeSpaceSource" };
inline constexpr QLatin1StringView sizeUnits { "sizeUnits" };

// Drives: comma-separated paths of the watched drives; the name of the drive to move files to.
inline constexpr QLatin1StringView watchedDrives { "watchedDrives" };
inline constexpr QLatin1StringView defaultMoveToDrive { "defaultMoveToDrive" };

// Never-touch paths the user added: the compact JSON array of {"path", "why"}, as bytes.
inline constexpr QLatin1StringView extraProtected { "extraProtected" };
// Where stored "extraProtected" bytes that could not be read are kept before the key is rewritten.
inline constexpr QLatin1StringView extraProtectedUnreadable { "extraProtected.unreadable" };

// iCloud cleanup switched on (Boolean).
inline constexpr QLatin1StringView icloudEnabled { "icloudEnabled" };

// Notifications (Boolean).
inline constexpr QLatin1StringView notificationsEnabled { "notificationsEnabled" };

// Update check: Boolean, date, text.
inline constexpr QLatin1StringView autoCheckForUpdates { "autoCheckForUpdates" };
inline constexpr QLatin1StringView lastUpdateCheck { "lastUpdateCheck" };
inline constexpr QLatin1StringView availableUpdate { "availableUpdate" };

// Autopilot: Boolean, integer minutes, date, date, signed 64-bit bytes.
inline constexpr QLatin1StringView autopilotEnabled { "autopilotEnabled" };
inline constexpr QLatin1StringView autopilotIntervalMinutes { "autopilotIntervalMinutes" };
inline constexpr QLatin1StringView autopilotLastRunAt { "autopilotLastRunAt" };
inline constexpr QLatin1StringView autopilotWeeklyNoteAt { "autopilotWeeklyNoteAt" };
inline constexpr QLatin1StringView autopilotWeeklyFreeBytes { "autopilotWeeklyFreeBytes" };

// Windows: the settings pane and main section shown last (text), first-run sheet seen (Boolean).
inline constexpr QLatin1StringView settingsPane { "settingsPane" };
inline constexpr QLatin1StringView mainSection { "mainSection" };
inline constexpr QLatin1StringView hasSeenFirstRun { "hasSeenFirstRun" };

// A drive's goal text ("50GB", "20%", or "" for no goal): "goal:" followed by the drive's path.
inline constexpr QLatin1StringView goalPrefix { "goal:" };
inline QString goal(std::string_view drivePath)
{
    return goalPrefix + QString::fromUtf8(drivePath.data(), static_cast<qsizetype>(drivePath.size()));
}

// ---- Defaults ----

// A key with the value it reads as while nothing of its type is stored.
struct Default {
    QLatin1StringView key;
    std::variant<bool, qint64, QLatin1StringView> value;
};

// What readers take while nothing of the type is stored (Preferences::booleanValue and the like).
// These are readers' fallbacks, not registered defaults: a plain read of a key still says nothing
// is there. Keys not listed here (dates, goals, the autopilot's notes, the never-touch list) read
// as absent until written; a goal has its own fallback below.
inline constexpr std::array defaults {
    Default { gaugeStyle, QLatin1StringView("bar") },
    Default { freeSpaceSource, QLatin1StringView("finder") },
    Default { sizeUnits, QLatin1StringView("decimal") },
    Default { watchedDrives, QLatin1StringView("") },
    Default { defaultMoveToDrive, QLatin1StringView("") },
    Default { icloudEnabled, false },
    Default { notificationsEnabled, true },
    Default { autoCheckForUpdates, false },
    Default { availableUpdate, QLatin1StringView("") },
    Default { autopilotEnabled, false },
    Default { autopilotIntervalMinutes, qint64(10) },
    Default { settingsPane, QLatin1StringView("") },
    Default { mainSection, QLatin1StringView("overview") },
    Default { hasSeenFirstRun, false },
};

// The goal of the startup drive while none is stored for it; other drives have no goal until one
// is set. A stored "" is the user's "No goal" and stands.
inline constexpr QLatin1StringView startupDriveGoal { "50GB" };

// The one default the app registers at launch (Preferences::registerDefault): it stands in for
// every read, in memory only, and survives a reset. "autoCheckForUpdates" is deliberately not
// here: until the user turns it on, nothing is stored and nothing stands in.
inline constexpr std::array registeredAtLaunch {
    Default { notificationsEnabled, true },
};

} // namespace Quandril::App::Keys
