#include "QuandrilApp/Findings/FindingRows.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/AppLauncher.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Reveal.h"

namespace Quandril::App {

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

// ---- OpenAppButton ----

OpenAppButton::OpenAppButton(AppLauncher& apps, const QString& app, QWidget* parent)
    : QPushButton(parent)
    , apps_(apps)
    , app_(app)
{
    Look::styleAsLink(this);
    setText(Look::buttonText(QStringLiteral("Open ") + app_));
    connect(this, &QPushButton::clicked, this, &OpenAppButton::open);
}

void OpenAppButton::open()
{
    apps_.tryOpenApp(app_, this, [this](bool started) {
        missing_ = !started;
        setText(
            Look::buttonText(missing_ ? app_ + QStringLiteral(" isn't installed") : QStringLiteral("Open ") + app_));
        setEnabled(!missing_);
    });
}

// ---- FindingRow ----

FindingRow::FindingRow(AppServices& services, Finding finding, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , finding_(std::move(finding))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 4, 0, 4);
    row->setSpacing(10);

    check_ = new QCheckBox(this);
    check_->setAccessibleName(text(finding_.title));
    row->addWidget(check_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(3);
    row->addLayout(column, 1);

    auto* titleLine = new QHBoxLayout;
    const QString symbol = FreeUpLogic::statusSymbol(finding_);
    if (!symbol.isEmpty()) {
        status_ = new SymbolView(symbol, Tone::secondary, 14, this);
        titleLine->addWidget(status_);
    }
    QLabel* title = Look::plainLabel(text(finding_.title), this, true);
    Look::setTextStyle(title, TextStyle::body, QFont::Medium);
    titleLine->addWidget(title, 1);
    titleLine->addWidget(Look::plainLabel(AppFormat::bytes(finding_.bytes, services_.preferences), this), 0,
                         Qt::AlignTop);
    column->addLayout(titleLine);

    QLabel* reason = Look::plainLabel(text(finding_.reason), this, true);
    Look::setTextStyle(reason, TextStyle::callout);
    column->addWidget(reason);
    QLabel* getBack = Look::plainLabel(text(finding_.getBack), this, true);
    Look::setTextStyle(getBack, TextStyle::caption);
    Look::setTone(getBack, Tone::secondary);
    column->addWidget(getBack);

    for (const FreeUpLogic::Mark& mark : FreeUpLogic::marks(finding_)) {
        auto* line = new QHBoxLayout;
        line->setSpacing(5);
        line->addWidget(new SymbolView(mark.symbol, mark.tone, 12, this), 0, Qt::AlignTop);
        QLabel* label = Look::plainLabel(mark.text, this, true);
        Look::setTextStyle(label, TextStyle::caption);
        Look::setTone(label, mark.tone);
        line->addWidget(label, 1);
        column->addLayout(line);
    }

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(14);
    reveal_ = Look::linkButton(QStringLiteral("Show in Finder"), this);
    Look::setTextStyle(reveal_, TextStyle::caption);
    buttons->addWidget(reveal_);
    if (const QString app = FreeUpLogic::openAppName(finding_); !app.isEmpty()) {
        openApp_ = new OpenAppButton(services_.apps, app, this);
        Look::setTextStyle(openApp_, TextStyle::caption);
        buttons->addWidget(openApp_);
    }
    buttons->addStretch(1);
    column->addLayout(buttons);

    connect(check_, &QCheckBox::clicked, this, &FindingRow::toggle);
    connect(reveal_, &QPushButton::clicked, this, [this] {
        // The items themselves, as they are: shown in their folders, never opened.
        for (const std::string& path : finding_.paths)
            services_.reveal.reveal(text(path));
    });
    connect(&services_.model, &Model::selectionChanged, this, &FindingRow::refresh);
    refresh();
}

void FindingRow::refresh()
{
    check_->setChecked(services_.model.selected().count(finding_.id) > 0);
}

void FindingRow::toggle(bool on)
{
    auto selected = services_.model.selected();
    if (on)
        selected.insert(finding_.id);
    else
        selected.erase(finding_.id);
    services_.model.setSelected(std::move(selected));
}

} // namespace Quandril::App
