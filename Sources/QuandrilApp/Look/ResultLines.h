#pragma once

// The lines of a results bar (a clean-up's, a put-back's or an iCloud cleanup's), one per result,
// each with its symbol and colour role, wrapped whole over as many lines as it needs.

#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

// One line of a results bar: "<title>: <detail>" with its symbol and colour role.
struct ResultLine {
    QString text;
    QString symbol;
    Tone tone = Tone::primary;

    bool operator==(const ResultLine&) const = default;
};

class ResultLines : public QWidget {
    Q_OBJECT
public:
    explicit ResultLines(const std::vector<ResultLine>& lines, QWidget* parent = nullptr);

    // One "<symbol> <tone> | <text>" per line, in order.
    QStringList texts() const;
};

} // namespace Quandril::App
