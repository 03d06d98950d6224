#pragma once

// The main window's sections, in sidebar order. The raw value is what "mainSection" stores; it is
// read exactly (case-sensitive: "iCloud" with a capital C).

#include <array>
#include <optional>

#include <QString>

namespace Quandril::App {

enum class MainSection { overview, findings, drives, iCloud, history, advisor };

inline constexpr std::array<MainSection, 6> allMainSections {
    MainSection::overview, MainSection::findings, MainSection::drives,
    MainSection::iCloud,   MainSection::history,  MainSection::advisor,
};

QString rawValue(MainSection section);
std::optional<MainSection> mainSectionFromRaw(const QString& raw);
// The sidebar title and the symbol name of its icon.
QString title(MainSection section);
QString symbol(MainSection section);

} // namespace Quandril::App
