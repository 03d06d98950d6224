#include "QuandrilApp/Look/DriveGaugeLogic.h"

#include <algorithm>
#include <limits>

namespace Quandril::App::DriveGaugeLogic {

namespace {

constexpr std::int64_t redBelow = 10'000'000'000;

double clampShare(double share)
{
    return share > 0 ? std::min(share, 1.0) : 0.0;
}

} // namespace

double usedShare(std::int64_t free, std::int64_t total)
{
    const double size = double(std::max<std::int64_t>(total, 1));
    return clampShare((double(total) - double(free)) / size);
}

Reading read(const DriveInfo& drive, const std::optional<Goal>& goal, std::int64_t free)
{
    Reading reading;
    reading.free = free;
    reading.used = usedShare(free, drive.totalBytes);
    if (goal) {
        const std::int64_t target = goal->bytes(drive.totalBytes);
        reading.target = target;
        std::int64_t gap = 0;
        if (__builtin_sub_overflow(target, free, &gap))
            gap = free < 0 ? std::numeric_limits<std::int64_t>::max() : 0;
        reading.shortBy = std::max<std::int64_t>(gap, 0);
        const double size = double(std::max<std::int64_t>(drive.totalBytes, 1));
        reading.goalMark = clampShare(1 - double(target) / size);
    }
    if (free < redBelow)
        reading.tone = Tone::red;
    else if (!goal)
        reading.tone = Tone::secondary;
    else if (reading.shortBy > 0)
        reading.tone = Tone::orange;
    else
        reading.tone = Tone::accent;
    return reading;
}

double goalMarkOffset(double mark, double barWidth)
{
    return std::max(0.0, std::min(mark * barWidth - 1, barWidth - 2));
}

QString verdict(const std::optional<Goal>& goal, std::int64_t shortBy,
                const std::function<QString(std::int64_t)>& bytes)
{
    if (!goal)
        return QStringLiteral("No goal set.");
    const QString described = QString::fromStdString(goal->description());
    if (shortBy > 0)
        return QStringLiteral("%1 short of the goal (%2 free).").arg(bytes(shortBy), described);
    return QStringLiteral("Goal met: %1 free.").arg(described);
}

} // namespace Quandril::App::DriveGaugeLogic
