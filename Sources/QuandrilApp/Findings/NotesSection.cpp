#include "QuandrilApp/Findings/NotesSection.h"

#include <QLabel>
#include <QVBoxLayout>

#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Look/Look.h"

namespace Quandril::App {

bool NotesSection::hasContent(const ScanReport& report, const Mac& mac)
{
    return !FreeUpLogic::noteLines(report, mac).isEmpty();
}

NotesSection::NotesSection(const ScanReport& report, const Mac& mac, QWidget* parent)
    : QWidget(parent)
    , lines_(FreeUpLogic::noteLines(report, mac))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(8);
    if (lines_.isEmpty())
        return;
    QLabel* heading = Look::plainLabel(QStringLiteral("Good to know"), this);
    Look::applyHeadingLook(heading);
    column->addWidget(heading);
    for (const QString& line : lines_) {
        QLabel* label = Look::plainLabel(line, this, true);
        Look::setTextStyle(label, TextStyle::callout);
        column->addWidget(label);
    }
}

} // namespace Quandril::App
