#include "QuandrilApp/Findings/ConfirmSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QtConcurrent>

#include "QuandrilApp/Findings/FindingRows.h"
#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Look/ComboAccess.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ScreenFit.h"
#include "QuandrilApp/Look/Sheet.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace Logic = ConfirmLogic;

namespace {

constexpr int sheetWidth = 520;
constexpr int listCap = 320;

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

ConfirmSheet::ConfirmSheet(AppServices& services, QWidget* parent)
    : QDialog(parent)
    , services_(services)
    , title_(Look::plainLabel(QString(), this, true))
    , scroll_(Look::scrollArea(this))
    , pickerRow_(new QWidget(this))
    , picker_(new QComboBox(pickerRow_))
    , cautions_(new QWidget(this))
    , cautionLines_(new QVBoxLayout)
    , agreement_(new QCheckBox(Logic::agreement, cautions_))
    , note_(Look::plainLabel(Logic::trashNote, this, true))
    , cancel_(new QPushButton(QStringLiteral("Cancel"), this))
    , freeUp_(new QPushButton(QStringLiteral("Free up"), this))
{
    Sheet::setUp(*this, *cancel_, *freeUp_);
    setWindowTitle(QStringLiteral("Free up"));
    setFixedWidth(sheetWidth);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);

    Look::setTextStyle(title_, TextStyle::title2);
    column->addWidget(title_);

    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_);

    auto* pickerLine = new QHBoxLayout(pickerRow_);
    pickerLine->setContentsMargins(0, 0, 0, 0);
    auto* pickerLabel = Look::plainLabel(Logic::pickerLabel, pickerRow_);
    pickerLabel->setBuddy(picker_);
    pickerLine->addWidget(pickerLabel);
    Look::nameByLabel(*picker_, Logic::pickerLabel);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerLine->addWidget(picker_);
    pickerLine->addStretch(1);
    column->addWidget(pickerRow_);

    auto* cautionColumn = new QVBoxLayout(cautions_);
    cautionColumn->setContentsMargins(0, 0, 0, 0);
    cautionColumn->setSpacing(4);
    cautionLines_->setSpacing(4);
    cautionColumn->addLayout(cautionLines_);
    cautionColumn->addWidget(agreement_);
    column->addWidget(cautions_);

    Look::setTextStyle(note_, TextStyle::caption);
    Look::setTone(note_, Tone::secondary);
    column->addWidget(note_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    buttons->addWidget(freeUp_);
    column->addLayout(buttons);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        drivePath_ = picker_->itemData(index).toString().toStdString();
        refresh();
    });
    connect(agreement_, &QCheckBox::clicked, this, [this](bool on) { agreed_ = on; });
    connect(freeUp_, &QPushButton::clicked, this, &ConfirmSheet::freeUp);
    // The model's change of step covers the units and the free-space count too.
    connect(&services_.model, &Model::changed, this, &ConfirmSheet::refresh);
    connect(&services_.model, &Model::historyChanged, this, &ConfirmSheet::refresh);
    askHistory();
    refresh();
}

void ConfirmSheet::askHistory()
{
    // Asked of the disk each time the sheet opens (a disk fills, a mount goes read-only), on the
    // pool: the history file may lie on a mount that hangs. The answer for a closed sheet is dropped
    // with its watcher.
    auto* asked = new QFutureWatcher<std::string>(this);
    connect(asked, &QFutureWatcherBase::finished, this, [this, asked] {
        historyLineWhyNot_ = asked->result();
        asked->deleteLater();
        refresh();
    });
    asked->setFuture(
        QtConcurrent::run(&TaskPool::shared(), [engine = services_.model.engine(), mac = services_.model.mac()] {
            try {
                return engine->whyNoHistoryLine(mac);
            } catch (...) {
                return std::string(); // not known: the clean-up's results will say
            }
        }));
}

QString ConfirmSheet::titleText() const
{
    return title_->text();
}

void ConfirmSheet::refresh()
{
    const Model& model = services_.model;
    split_ = Logic::split(model.report(), model.selected());
    const auto format = [this](std::int64_t n) { return AppFormat::bytes(n, services_.preferences); };
    title_->setText(Logic::title(split_, format));

    QStringList listed;
    for (const Finding& finding : split_.chosen)
        listed << text(finding.id) + '|' + format(finding.bytes) + '|' + text(finding.title)
                + (Logic::actsItself(finding) ? Logic::what(finding) : Logic::howToDo(finding))
                + text(finding.action.app.value_or(""));
    if (!rows_ || listed != listed_) {
        listed_ = std::move(listed);
        rebuildList();
    }
    refreshPicker();
    refreshCautions();
    // A file the engine won't use at all says so first; else whether it can take a line now.
    note_->setText(Logic::historyNote(model.historyWhyNot().empty() ? historyLineWhyNot_ : model.historyWhyNot()));
    freeUp_->setEnabled(Logic::canFreeUp(split_, drivePath_));
    fitHeight();
}

void ConfirmSheet::fitHeight()
{
    // As tall as the wrapped lines need at the sheet's width (adjustSize would measure them at the
    // width the sheet would like, and hold the sheet to two thirds of a screen); where the screen
    // of the window it opens over is lower than that, the list gives up height, down to a few lines.
    scroll_->setFixedHeight(listHeight_);
    layout()->activate();
    int needed = layout()->totalHeightForWidth(width());
    const QWidget& over = parentWidget() ? *parentWidget()->window() : *this;
    const QRect area = ScreenFit::availableArea(over);
    const QMargins frame = ScreenFit::frameOf(over);
    const int room = area.height() - frame.top() - frame.bottom();
    if (area.isValid() && needed > room) {
        const int least = qMin(listHeight_, 3 * fontMetrics().lineSpacing());
        scroll_->setFixedHeight(qMax(least, listHeight_ - (needed - room)));
        layout()->activate();
        needed = layout()->totalHeightForWidth(width());
    }
    resize(width(), needed);
}

bool ConfirmSheet::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // Rows and cautions that come with a change of the model show a moment after it: the height
    // follows each change of the layout.
    if (event->type() == QEvent::LayoutRequest)
        fitHeight();
    return handled;
}

void ConfirmSheet::rebuildList()
{
    const auto format = [this](std::int64_t n) { return AppFormat::bytes(n, services_.preferences); };
    rows_ = new QWidget;
    auto* stack = new QVBoxLayout(rows_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);

    QList<QWidget*> amounts;
    const auto addRow = [&](const Finding& finding, bool mine) {
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        auto* size = Look::plainLabel(format(finding.bytes), rows_);
        amounts << size;
        size->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        row->addWidget(size, 0, Qt::AlignTop);

        auto* words = new QVBoxLayout;
        words->setSpacing(2);
        words->addWidget(Look::plainLabel(text(finding.title), rows_, true));
        auto* sentence = Look::plainLabel(mine ? Logic::what(finding) : Logic::howToDo(finding), rows_, true);
        Look::setTextStyle(sentence, TextStyle::caption);
        Look::setTone(sentence, Tone::secondary);
        if (!mine)
            sentence->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        words->addWidget(sentence);
        if (!mine && finding.action.kind == Action::Kind::handOff && finding.action.app) {
            auto* open = new OpenAppButton(services_.apps, text(*finding.action.app), rows_);
            open->setAutoDefault(false);
            Look::setTextStyle(open, TextStyle::caption);
            words->addWidget(open, 0, Qt::AlignLeft);
        }
        row->addLayout(words, 1);
        stack->addLayout(row);
    };

    for (const Finding& finding : split_.canDo)
        addRow(finding, true);
    if (!split_.forYou.empty()) {
        auto* heading = Look::plainLabel(Logic::forYouHeading(split_, format), rows_, true);
        Look::setTextStyle(heading, TextStyle::headline);
        heading->setContentsMargins(0, 8, 0, 0);
        stack->addWidget(heading);
        for (const Finding& finding : split_.forYou)
            addRow(finding, false);
    }
    Look::fitColumn(amounts);
    stack->addStretch(1);
    scroll_->setWidget(rows_); // the old rows go with the old widget
    rows_->setAutoFillBackground(false);

    const QMargins margins = layout()->contentsMargins();
    const int width = sheetWidth - margins.left() - margins.right();
    const int needed = rows_->hasHeightForWidth() ? rows_->heightForWidth(width) : rows_->sizeHint().height();
    listHeight_ = qMin(listCap, needed);
}

void ConfirmSheet::refreshPicker()
{
    const Model& model = services_.model;
    const auto externals = model.externals();
    if (split_.needsDrive && !pickerInView_) {
        // Preset once each time the picker comes into view; a drive picked later stays picked.
        drivePath_ = Logic::presetDrive(externals, services_.preferences.string(Keys::defaultMoveToDrive));
    }
    pickerInView_ = split_.needsDrive;
    pickerRow_->setVisible(split_.needsDrive);
    if (!split_.needsDrive)
        return;

    const QSignalBlocker quiet(picker_);
    picker_->clear();
    for (const auto& entry : CloudResultsLogic::parkEntries(externals, services_.preferences))
        picker_->addItem(entry.label, text(entry.path));
    picker_->setCurrentIndex(picker_->findData(text(drivePath_)));
}

void ConfirmSheet::refreshCautions()
{
    cautions_->setVisible(!split_.cautioned.empty());
    while (QLayoutItem* item = cautionLines_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const Finding& finding : split_.cautioned) {
        auto* line = new SymbolLabel(QStringLiteral("exclamationmark.triangle"),
                                     text(finding.title) + QStringLiteral(": ") + text(finding.caution.value_or("")),
                                     cautions_, true);
        Look::setTextStyle(line, TextStyle::callout);
        Look::setTone(line, Tone::orange);
        cautionLines_->addWidget(line);
    }
}

void ConfirmSheet::freeUp()
{
    if (!Logic::canFreeUp(split_, drivePath_))
        return;
    const auto asked = Logic::request(split_, agreed_, services_.model.externals(), drivePath_);
    services_.model.clean(asked.ids, asked.includeCautioned, asked.moveTo);
    accept();
}

} // namespace Quandril::App
