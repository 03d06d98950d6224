#pragma once

// The display settings (how the menu-bar gauge looks, which free-space count applies, which byte
// units to print) and the one byte formatter of the app.
//
// Each choice is stored as the text of its raw value, which is the case name ("bar", "strict",
// "binary"). Reading is exact and case-sensitive, and happens at every use, never cached: a stored
// text that is not a raw value of the type reads as the type's first case, its default.

#include <array>
#include <cstdint>
#include <optional>

#include <QString>

#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class Preferences;

enum class GaugeStyle { bar, percent, icon };
enum class FreeSpaceSource { finder, strict };
enum class SizeUnits { decimal, binary };

// Every case in display order (the order pickers list them in).
inline constexpr std::array<GaugeStyle, 3> allGaugeStyles { GaugeStyle::bar, GaugeStyle::percent, GaugeStyle::icon };
inline constexpr std::array<FreeSpaceSource, 2> allFreeSpaceSources { FreeSpaceSource::finder,
                                                                      FreeSpaceSource::strict };
inline constexpr std::array<SizeUnits, 2> allSizeUnits { SizeUnits::decimal, SizeUnits::binary };

// The raw value, which is also the identity in pickers.
QString rawValue(GaugeStyle style);
QString rawValue(FreeSpaceSource source);
QString rawValue(SizeUnits units);

// Exact, case-sensitive matches only.
std::optional<GaugeStyle> gaugeStyleFromRaw(const QString& raw);
std::optional<FreeSpaceSource> freeSpaceSourceFromRaw(const QString& raw);
std::optional<SizeUnits> sizeUnitsFromRaw(const QString& raw);

namespace AppFormat {

// The choices now in effect, read from "gaugeStyle", "freeSpaceSource" and "sizeUnits". Nothing
// stored, a stored value that is no text, or a text that is no raw value gives the first case.
GaugeStyle gaugeStyle(const Preferences& preferences);
FreeSpaceSource freeSpaceSource(const Preferences& preferences);
SizeUnits sizeUnits(const Preferences& preferences);

// A drive's free space by the chosen count: the Finder's (`freeBytes`) or the strict one.
std::int64_t freeBytes(const DriveInfo& drive, FreeSpaceSource source);
std::int64_t freeBytes(const DriveInfo& drive, const Preferences& preferences);

// The text of a byte count. Decimal units are the engine's own text (Report::bytes). Binary units:
// under 1 GiB the count in whole MiB (halves away from zero), else GiB with one decimal, a
// trailing ".0" dropped. Never depends on the locale; never fails.
QString bytes(std::int64_t count, SizeUnits units);
// The same in the units now in effect. Every byte amount the app shows goes through here.
QString bytes(std::int64_t count, const Preferences& preferences);

} // namespace AppFormat

} // namespace Quandril::App
