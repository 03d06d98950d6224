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
        // Each wraps to the band's width, a long path too: a line's reason is read whole where
        // it stands, and a long title or detail never widens the bar.
        auto* label = new SymbolLabel(line.symbol, line.text, this, true);
        label->setWrapsAnywhere();
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
