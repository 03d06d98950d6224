#include "QuandrilApp/Look/ResultLines.h"

#include <QVBoxLayout>

#include "QuandrilApp/Look/Look.h"

namespace Quandril::App {

ResultLines::ResultLines(const std::vector<ResultLine>& lines, QWidget* parent)
    : QWidget(parent)
{
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    for (const ResultLine& line : lines) {
        // One line each, shortened with "…" (the whole line in its tool tip): a long title or
        // detail never widens the bar or loses a word unmarked.
        auto* label = new SymbolLabel(line.symbol, line.text, this);
        label->setElideMode(Qt::ElideRight);
        Look::setTextStyle(label, TextStyle::callout);
        Look::setTone(label, line.tone);
        stack->addWidget(label);
    }
    // Where the lines get more room than they need, they keep to the top.
    stack->addStretch(1);
}

QStringList ResultLines::texts() const
{
    QStringList out;
    for (const auto* line : findChildren<SymbolLabel*>(QString(), Qt::FindDirectChildrenOnly))
        out << line->symbol() + ' ' + line->property("tone").toString() + QStringLiteral(" | ") + line->text();
    return out;
}

} // namespace Quandril::App
