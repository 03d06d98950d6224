#pragma once

// What a drive gauge shows for one drive, worked out without a window: how full the bar is,
// where the goal mark sits, the fill's colour and the verdict under the bar.

#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Values/Model.h"

#include "QuandrilApp/Platform/Symbols.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace Quandril::App::DriveGaugeLogic {

struct Reading {
    // Free bytes as the user chose to count them.
    std::int64_t free = 0;
    // The goal's bytes on this drive; absent without a goal.
    std::optional<std::int64_t> target;
    // How far free lies below the target; 0 when met or without a goal.
    std::int64_t shortBy = 0;
    // The used share, held within 0...1 even when free exceeds the size or the size is 0.
    double used = 0;
    // Where free space equal to the goal would end the fill, as a share of the bar (0...1).
    std::optional<double> goalMark;
    // The fill's colour role, first match wins: red under 10 GB free, secondary without a goal,
    // orange short of the goal, accent when met.
    Tone tone = Tone::secondary;

    friend bool operator==(const Reading&, const Reading&) = default;
};

// `free` is the drive's free count from the chosen source (freeBytes or strictFreeBytes), so
// the text, the colour, the shortfall and the bar all follow one count.
Reading read(const DriveInfo& drive, const std::optional<Goal>& goal, std::int64_t free);

// The used share 1 - free / max(total, 1), held within 0...1.
double usedShare(std::int64_t free, std::int64_t total);

// The left edge of the 2-point goal mark, centred on `mark` and kept inside a bar of `barWidth`.
double goalMarkOffset(double mark, double barWidth);

// "No goal set.", "<short> short of the goal (<goal> free)." or "Goal met: <goal> free.";
// `bytes` formats the shortfall as the app formats amounts.
QString verdict(const std::optional<Goal>& goal, std::int64_t shortBy,
                const std::function<QString(std::int64_t)>& bytes);

} // namespace Quandril::App::DriveGaugeLogic
