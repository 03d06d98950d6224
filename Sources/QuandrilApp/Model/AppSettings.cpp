#include "QuandrilApp/Model/AppSettings.h"

#include <charconv>
#include <cmath>
#include <string>

#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilCore/Scanning/Report.h"

namespace Quandril::App {

namespace {

template <typename Enum, std::size_t N>
std::optional<Enum> fromRaw(const QString& raw, const std::array<Enum, N>& cases)
{
    for (Enum value : cases) {
        if (rawValue(value) == raw)
            return value;
    }
    return std::nullopt;
}

template <typename Enum, std::size_t N>
Enum stored(const Preferences& preferences, QLatin1StringView key, const std::array<Enum, N>& cases)
{
    return fromRaw(preferences.stringValue(key), cases).value_or(cases.front());
}

} // namespace

QString rawValue(GaugeStyle style)
{
    switch (style) {
    case GaugeStyle::bar:
        return QStringLiteral("bar");
    case GaugeStyle::percent:
        return QStringLiteral("percent");
    case GaugeStyle::icon:
        return QStringLiteral("icon");
    }
    return {};
}

QString rawValue(FreeSpaceSource source)
{
    return source == FreeSpaceSource::strict ? QStringLiteral("strict") : QStringLiteral("finder");
}

QString rawValue(SizeUnits units)
{
    return units == SizeUnits::binary ? QStringLiteral("binary") : QStringLiteral("decimal");
}

std::optional<GaugeStyle> gaugeStyleFromRaw(const QString& raw)
{
    return fromRaw(raw, allGaugeStyles);
}

std::optional<FreeSpaceSource> freeSpaceSourceFromRaw(const QString& raw)
{
    return fromRaw(raw, allFreeSpaceSources);
}

std::optional<SizeUnits> sizeUnitsFromRaw(const QString& raw)
{
    return fromRaw(raw, allSizeUnits);
}

namespace AppFormat {

GaugeStyle gaugeStyle(const Preferences& preferences)
{
    return stored(preferences, Keys::gaugeStyle, allGaugeStyles);
}

FreeSpaceSource freeSpaceSource(const Preferences& preferences)
{
    return stored(preferences, Keys::freeSpaceSource, allFreeSpaceSources);
}

SizeUnits sizeUnits(const Preferences& preferences)
{
    return stored(preferences, Keys::sizeUnits, allSizeUnits);
}

std::int64_t freeBytes(const DriveInfo& drive, FreeSpaceSource source)
{
    return source == FreeSpaceSource::strict ? drive.strictFreeBytes : drive.freeBytes;
}

std::int64_t freeBytes(const DriveInfo& drive, const Preferences& preferences)
{
    return freeBytes(drive, freeSpaceSource(preferences));
}

QString bytes(std::int64_t count, SizeUnits units)
{
    if (units == SizeUnits::decimal)
        return QString::fromStdString(Report::bytes(count));

    const double d = static_cast<double>(count);
    const double gib = std::ldexp(d, -30);
    char text[64];
    if (gib >= 1.0) {
        // One decimal rounded from the stored double, a tie to the even digit, "." in every locale.
        auto [end, error] = std::to_chars(text, text + sizeof text, gib, std::chars_format::fixed, 1);
        std::string number(text, error == std::errc() ? end : text);
        if (number.size() > 2 && number.compare(number.size() - 2, 2, ".0") == 0)
            number.resize(number.size() - 2);
        return QString::fromStdString(number) + QStringLiteral(" GiB");
    }
    // Below 1 GiB (zero and every negative count too): whole MiB, halves away from zero. At most
    // 2^43 in magnitude, so the conversion cannot overflow.
    const long long mib = std::llround(std::ldexp(d, -20));
    auto [end, error] = std::to_chars(text, text + sizeof text, mib);
    return QString::fromLatin1(text, error == std::errc() ? end - text : 0) + QStringLiteral(" MiB");
}

QString bytes(std::int64_t count, const Preferences& preferences)
{
    return bytes(count, sizeUnits(preferences));
}

} // namespace AppFormat

} // namespace Quandril::App
