#include "QuandrilApp/MainWindow/MainSection.h"

namespace Quandril::App {

namespace {

struct SectionText {
    const char* raw;
    const char* title;
    const char* symbol;
};

const SectionText& textOf(MainSection section)
{
    static const SectionText texts[] = {
        { "overview", "Overview", "square.grid.2x2" },
        { "findings", "Findings", "magnifyingglass" },
        { "drives", "Drives", "externaldrive" },
        { "iCloud", "iCloud", "icloud" },
        { "history", "History", "clock.arrow.circlepath" },
        { "advisor", "Mac settings advisor", "slider.horizontal.3" },
    };
    return texts[static_cast<int>(section)];
}

} // namespace

QString rawValue(MainSection section)
{
    return QString::fromLatin1(textOf(section).raw);
}

std::optional<MainSection> mainSectionFromRaw(const QString& raw)
{
    for (const auto section : allMainSections)
        if (raw == QLatin1String(textOf(section).raw))
            return section;
    return std::nullopt;
}

QString title(MainSection section)
{
    return QString::fromLatin1(textOf(section).title);
}

QString symbol(MainSection section)
{
    return QString::fromLatin1(textOf(section).symbol);
}

} // namespace Quandril::App
