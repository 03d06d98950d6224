#include "QuandrilApp/ICloud/CloudConfirmSheet.h"

#include <functional>

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Sheet.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;

namespace {

// The agreement's words wrap beside the checkbox, and a click on them ticks it, as on a checkbox's
// own label.
class ClickableLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (onClick && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            onClick();
        QLabel::mouseReleaseEvent(event);
    }
};

} // namespace

CloudConfirmSheet::CloudConfirmSheet(Model& model, Logic::ParkTarget drive, std::int64_t chunk, QWidget* parent)
    : QDialog(parent)
    , model_(model)
    , drive_(std::move(drive))
    , chunk_(chunk)
    , title_(Look::plainLabel(QString(), this, true))
    , summary_(Look::plainLabel(QString(), this, true))
    , scroll_(Look::scrollArea(this))
    , explanation_(Look::plainLabel(QString(), this, true))
    , agreementRow_(new QWidget(this))
    , agreement_(new QCheckBox(agreementRow_))
    , cancel_(new QPushButton(QStringLiteral("Cancel"), this))
    , start_(new QPushButton(QStringLiteral("Start"), this))
{
    Sheet::setUp(*this, *cancel_, *start_);
    // Its name for assistive tools, after the button that opened it, as the clean-up's sheet is
    // named "Free up".
    setWindowTitle(QStringLiteral("Download and clean up"));
    setFixedWidth(560);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    Look::setTextStyle(title_, TextStyle::title2);
    column->addWidget(title_);
    column->addWidget(summary_);

    column->addWidget(scroll_);

    Look::setTextStyle(explanation_, TextStyle::callout);
    Look::setTone(explanation_, Tone::secondary);
    explanation_->setText(CloudConfirmModel::explanation(QString::fromStdString(drive_.shown)));
    column->addWidget(explanation_);

    auto* agreementLine = new QHBoxLayout(agreementRow_);
    agreementLine->setContentsMargins(0, 0, 0, 0);
    agreementLine->setSpacing(6);
    auto* words = new ClickableLabel(CloudConfirmModel::agreement, agreementRow_);
    words->setTextFormat(Qt::PlainText);
    words->setWordWrap(true);
    words->onClick = [this] { agreement_->click(); };
    agreement_->setAccessibleName(CloudConfirmModel::agreement);
    agreementLine->addWidget(agreement_, 0, Qt::AlignTop);
    agreementLine->addWidget(words, 1);
    column->addWidget(agreementRow_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(start_);
    column->addLayout(buttons);

    connect(agreement_, &QCheckBox::clicked, this, [this](bool on) {
        agreed_ = on;
        refresh();
    });
    connect(start_, &QPushButton::clicked, this, [this] {
        if (!shown_.canStart(agreed_))
            return;
        model_.cleanCloud(drive_.argument, chunk_, agreed_);
        accept();
    });
    connect(&model_, &Model::changed, this, &CloudConfirmSheet::refresh);
    refresh();
}

QString CloudConfirmSheet::titleText() const
{
    return title_->text();
}

QString CloudConfirmSheet::summaryText() const
{
    return summary_->text();
}

QString CloudConfirmSheet::explanationText() const
{
    return explanation_->text();
}

QStringList CloudConfirmSheet::listed() const
{
    QStringList listed;
    for (std::size_t i = 0; i < shown_.chosen.size(); ++i) {
        const auto* size = rows_->findChild<QLabel*>(QStringLiteral("size%1").arg(i));
        const auto* path = rows_->findChild<ElidingLabel*>(QStringLiteral("path%1").arg(i));
        listed << (size ? size->text() : QString()) + QStringLiteral(" | ") + (path ? path->text() : QString());
    }
    return listed;
}

void CloudConfirmSheet::refresh()
{
    CloudConfirmModel next = CloudConfirmModel::build(model_.cloudScan(), model_.cloudSelected());
    const bool sameItems = rows_ && next.chosen == shown_.chosen;
    shown_ = std::move(next);
    const auto& preferences = model_.preferences();

    title_->setText(shown_.title(preferences));
    summary_->setText(shown_.summary(chunk_, preferences));
    agreementRow_->setVisible(shown_.anyCaution);
    start_->setEnabled(shown_.canStart(agreed_));
    if (!sameItems)
        rebuildList();
    fitHeight();
}

void CloudConfirmSheet::fitHeight()
{
    // As tall as the wrapped paragraphs need at the sheet's width: adjustSize() would measure them
    // at the width each would like, and a larger font would cut them at the top and the bottom.
    layout()->activate();
    resize(width(), layout()->totalHeightForWidth(width()));
}

bool CloudConfirmSheet::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // Rows and the agreement that come with a change of the model show a moment after it.
    if (event->type() == QEvent::LayoutRequest)
        fitHeight();
    return handled;
}

void CloudConfirmSheet::rebuildList()
{
    const auto& preferences = model_.preferences();

    rows_ = new QWidget;
    auto* stack = new QVBoxLayout(rows_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    QList<QWidget*> amounts;
    for (std::size_t i = 0; i < shown_.chosen.size(); ++i) {
        const CloudItem& item = shown_.chosen[i];
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        auto* size = Look::plainLabel(AppFormat::bytes(item.bytes, preferences), rows_);
        size->setObjectName(QStringLiteral("size%1").arg(i));
        amounts << size;
        size->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        auto* path = new ElidingLabel(Logic::shownPath(item.path, model_.cloudRoots(), model_.mac()), Qt::ElideMiddle,
                                      rows_);
        path->setObjectName(QStringLiteral("path%1").arg(i));
        row->addWidget(size, 0, Qt::AlignTop);
        row->addWidget(path, 1, Qt::AlignTop);
        stack->addLayout(row);
    }
    Look::fitColumn(amounts);
    stack->addStretch(1);
    scroll_->setWidget(rows_);
    scroll_->setFixedHeight(qMin(220, rows_->sizeHint().height()));
}

} // namespace Quandril::App
