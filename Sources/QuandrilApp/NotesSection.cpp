#include "QuandrilApp/NotesSection.h"

#include <QLabel>
#include <QVBoxLayout>

#include "QuandrilApp/FreeUpLogic.h"
#include "QuandrilApp/CloudLook.h"
#include "QuandrilApp/SectionHelpers.h"

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
    QLabel* heading = CloudLook::plainLabel(QStringLiteral("Good to know"), this);
    listHeadingRow(heading);
    column->addWidget(heading);
    for (const QString& line : lines_) {
        QLabel* label = CloudLook::plainLabel(line, this, true);
        setFontRole(label, FontRole::callout);
        column->addWidget(label);
    }
}

} // namespace Quandril::App
