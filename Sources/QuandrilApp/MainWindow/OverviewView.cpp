#include "QuandrilApp/MainWindow/OverviewView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/FlowLayout.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App {

namespace OverviewLogic {

Texts texts(std::optional<std::int64_t> shortBy, const std::optional<ScanReport>& report, bool scanning,
            std::int64_t trashBytes, const Bytes& bytes)
{
    Texts out;
    if (shortBy) {
        out.headlineSlot = GorrinSlot::presenting;
        out.headline = QStringLiteral("You're ") + bytes(*shortBy)
            + QStringLiteral(" short of your goal. Here are the safest ways to close that gap.");
    } else {
        out.headlineSlot = GorrinSlot::idle;
        out.headline = QStringLiteral("I looked. Nothing needs freeing right now — you're ahead of your goal.");
    }
    if (!report) {
        if (scanning) {
            out.reportLine = Texts::ReportLine::scanning;
            out.report = QStringLiteral("Let me see what's actually using your space. This takes about a minute.");
        }
    } else if (report->findings.empty()) {
        out.reportLine = Texts::ReportLine::summary;
        out.report = QStringLiteral("I looked. Nothing needs freeing right now — you're ahead of your goal.");
    } else {
        std::int64_t total = 0;
        for (const Finding& finding : report->findings)
            total = Saturating::add(total, finding.bytes);
        out.reportLine = Texts::ReportLine::summary;
        out.report = QString::number(qulonglong(report->findings.size())) + QStringLiteral(" findings, ") + bytes(total)
            + QStringLiteral(" worth looking at.");
    }
    out.trash = trashLine(trashBytes, bytes);
    return out;
}

QString trashLine(std::int64_t trashBytes, const Bytes& bytes)
{
    if (trashBytes <= 0)
        return {};
    return QStringLiteral("The Trash holds ") + bytes(trashBytes) + QStringLiteral("; emptying it frees that.");
}

} // namespace OverviewLogic

OverviewView::OverviewView(AppServices& services, std::function<void(MainSection)> select, QWidget* parent)
    : QWidget(parent)
    , services_(services)
    , select_(std::move(select))
{
    column_ = Look::scrollingColumn(this);
    column_->setSpacing(20);
    QWidget* body = column_->parentWidget();

    gaugeColumn_ = new QVBoxLayout;
    gaugeColumn_->setSpacing(12);
    column_->addLayout(gaugeColumn_);

    // A large font or a narrow window moves a button to a line below rather than widening the view.
    auto* buttonRow = new FlowLayout(nullptr, 12);
    buttonRow->setLastAtRightEdge(false);
    const struct {
        const char* title;
        const char* symbol;
        MainSection section;
    } choices[] = {
        { "See findings", "magnifyingglass", MainSection::findings },
        { "Drives and goals", "externaldrive", MainSection::drives },
        { "Mac settings advisor", "slider.horizontal.3", MainSection::advisor },
    };
    for (const auto& choice : choices) {
        const QString symbol = QString::fromLatin1(choice.symbol);
        auto* button = new QPushButton(Look::symbolIcon(symbol, palette().color(QPalette::ButtonText)),
                                       QString::fromLatin1(choice.title), body);
        button->setProperty("symbol", symbol);
        connect(button, &QPushButton::clicked, this, [this, section = choice.section] {
            if (select_)
                select_(section);
        });
        buttonRow->addWidget(button);
        buttons_.push_back(button);
    }
    column_->addLayout(buttonRow);

    scanningLine_ = new GorrinLine(GorrinSlot::scanning,
                                   QStringLiteral(
                                       "Let me see what's actually using your space. This takes about a minute."),
                                   Qt::AlignVCenter, body);
    column_->addWidget(scanningLine_);
    summary_ = Look::plainLabel(QString(), body, true);
    Look::setTone(summary_, Tone::secondary);
    column_->addWidget(summary_);

    trashLine_ = new QWidget(body);
    auto* trashRow = new QHBoxLayout(trashLine_);
    trashRow->setContentsMargins(0, 0, 0, 0);
    trashRow->setSpacing(6);
    trashRow->addWidget(new SymbolView(QStringLiteral("trash"), Tone::secondary, 14, trashLine_));
    trashText_ = Look::plainLabel(QString(), trashLine_, true);
    Look::setTone(trashText_, Tone::secondary);
    trashRow->addWidget(trashText_, 1);
    column_->addWidget(trashLine_);
    column_->addStretch(1);

    // Also after a goal or a display setting changed.
    connect(&services_.model, &Model::changed, this, &OverviewView::refresh);
    refresh();
}

void OverviewView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        services_.model.refreshStatus();
}

void OverviewView::refresh()
{
    const Model& model = services_.model;
    texts_ = OverviewLogic::texts(model.startupShort(), model.report(), model.scanning(), model.status().trashBytes,
                                  [this](std::int64_t n) { return AppFormat::bytes(n, services_.preferences); });

    if (!headline_ || headline_->image()->slot() != texts_.headlineSlot) {
        auto* line = new GorrinLine(texts_.headlineSlot, texts_.headline, Qt::AlignTop);
        Look::setTextStyle(line, TextStyle::title3);
        if (headline_) {
            delete column_->replaceWidget(headline_, line);
            headline_->hide();
            headline_->deleteLater();
        } else {
            column_->insertWidget(0, line);
        }
        headline_ = line;
    }
    headline_->label()->setText(texts_.headline);

    const auto& drives = model.status().drives;
    if (!refreshGauges(gauges_, drives)) {
        for (DriveGauge* gauge : gauges_) {
            gaugeColumn_->removeWidget(gauge);
            gauge->hide();
            gauge->deleteLater();
        }
        gauges_.clear();
        for (const DriveInfo& drive : drives) {
            auto* gauge = new DriveGauge(services_.model, drive);
            gaugeColumn_->addWidget(gauge);
            gauges_.push_back(gauge);
        }
    }

    using Line = OverviewLogic::Texts::ReportLine;
    scanningLine_->setVisible(texts_.reportLine == Line::scanning);
    summary_->setVisible(texts_.reportLine == Line::summary);
    summary_->setText(texts_.report);
    trashLine_->setVisible(!texts_.trash.isEmpty());
    trashText_->setText(texts_.trash);
}

} // namespace Quandril::App
