#include "QuandrilApp/Look/ScanButton.h"

#include <QHBoxLayout>

#include "QuandrilApp/Look/Look.h"

namespace Quandril::App {

ScanButton::ScanButton(QWidget* parent)
    : QPushButton(parent)
    , spinner_(new Spinner(14, this))
{
    setAutoDefault(false);
    setScanning(false);
    // As wide with the spinner as with the title.
    setMinimumWidth(sizeHint().width());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* inside = new QHBoxLayout(this);
    inside->setContentsMargins(0, 0, 0, 0);
    inside->addWidget(spinner_, 0, Qt::AlignCenter);
}

void ScanButton::setScanning(bool scanning)
{
    setText(scanning ? QString() : QStringLiteral("Scan again"));
    Look::setButtonSymbol(this, scanning ? QString() : QStringLiteral("arrow.clockwise"));
    spinner_->setVisible(scanning);
    setEnabled(!scanning);
}

QString ScanButton::failedLine(const QString& scan, const std::string& reason)
{
    QString why = QString::fromStdString(reason).trimmed();
    if (why.isEmpty())
        why = QStringLiteral("Something unexpected stopped it.");
    else if (!why.endsWith(QLatin1Char('.')) && !why.endsWith(QLatin1Char('!')) && !why.endsWith(QLatin1Char('?')))
        why += QLatin1Char('.');
    return scan + QStringLiteral(" didn't finish. ") + why + QStringLiteral(" Press \"Scan again\" to try once more.");
}

} // namespace Quandril::App
