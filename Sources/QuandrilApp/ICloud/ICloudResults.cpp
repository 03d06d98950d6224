#include "QuandrilApp/ICloud/ICloudResults.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "QuandrilApp/ICloud/CloudConfirmSheet.h"
#include "QuandrilApp/ICloud/CloudResultsBar.h"
#include "QuandrilApp/ICloud/ICloudRows.h"
#include "QuandrilApp/Look/ComboAccess.h"
#include "QuandrilApp/Look/FlowLayout.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ScanButton.h"
#include "QuandrilApp/Look/SelectAllHeader.h"
#include "QuandrilApp/Look/Sheet.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Symbols.h"

namespace Quandril::App {

namespace Logic = CloudResultsLogic;
using Logic::Footer;

namespace {

enum MiddlePage { readingPage, listPage };

// One section of the inset list: rows on a rounded box of the base colour.
class ListCard : public GroupBox {
public:
    explicit ListCard(QWidget* parent)
        : GroupBox(parent)
        , rows_(new QVBoxLayout(this))
    {
        rows_->setContentsMargins(12, 2, 12, 8);
        rows_->setSpacing(6);
    }

    // A row, with a hairline above it unless it follows a heading or is the first.
    void add(QWidget* row)
    {
        if (rows_->count() > 0 && !lastWasHeading_) {
            auto* line = new QWidget(this);
            line->setFixedHeight(1);
            line->setAutoFillBackground(true);
            QPalette palette = line->palette();
            palette.setColor(QPalette::Window, Symbols::toneColor(Tone::quaternary, this->palette()));
            line->setPalette(palette);
            rows_->addWidget(line);
        }
        rows_->addWidget(row);
        lastWasHeading_ = row->property("heading").toBool();
    }

private:
    QVBoxLayout* rows_;
    bool lastWasHeading_ = false;
};

QHBoxLayout* footerRow(QWidget* page)
{
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(12, 12, 12, 12);
    return row;
}

// A picker with its label in front, as wide as the two ask at the font in use: the picker as wide
// as its longest item, so a larger font or a longer drive name widens them, and the flow moves
// what no longer fits to the next line rather than cutting it.
QComboBox* picker(const QString& label, FlowLayout* flow, QWidget* parent)
{
    auto* box = new QWidget(parent);
    box->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    auto* text = Look::plainLabel(label, box);
    auto* combo = new QComboBox(box);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setMinimumContentsLength(8);
    combo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    text->setBuddy(combo);
    Look::nameByLabel(*combo, label);
    line->addWidget(text);
    line->addWidget(combo, 1);
    flow->addWidget(box);
    return combo;
}

} // namespace

ICloudResults::ICloudResults(Model& model, std::string drive, std::int64_t chunk, bool confirming, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , drive_(std::move(drive))
    , chunk_(chunk)
    , confirming_(confirming)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(Look::divider(this));
    column->addWidget(makeMiddle(), 1);
    bar_ = new CloudResultsBar(model_, this);
    column->addWidget(bar_);
    column->addWidget(Look::divider(this));
    column->addWidget(makeFooter());

    // Return is the default action: "Download and clean up…" when it can start.
    Sheet::returnKeys(this, [this] {
        if (footerCase_ == Footer::choose && start_->isEnabled())
            start_->click();
    });

    connect(&model_, &Model::cloudScanChanged, this, &ICloudResults::rebuildList);
    connect(&model_, &Model::changed, this, &ICloudResults::refresh);
    // The amounts in the list; the header and footer follow `changed`.
    connect(&model_, &Model::displayChanged, this, &ICloudResults::rebuildList);
    rebuildList();
    refresh();
}

QWidget* ICloudResults::makeHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    // Not aligned as a whole: an aligned layout gets the height of one line, and the totals take
    // more where the window is narrow.
    row->setContentsMargins(16, 16, 16, 16);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto* title = new SymbolLabel(QStringLiteral("icloud"), QStringLiteral("iCloud"), header);
    Look::setTextStyle(title, TextStyle::headline);
    titles->addWidget(title);
    totals_ = Look::plainLabel(QString(), header, true); // wraps where the window is narrow
    Look::setTone(totals_, Tone::secondary);
    titles->addWidget(totals_);
    titles->addStretch(1);
    // The totals take the room the buttons leave, wrapping only where that is too little.
    row->addLayout(titles, 1);

    scan_ = new ScanButton(header);
    row->addWidget(scan_, 0, Qt::AlignTop);

    turnOff_ = new QPushButton(QStringLiteral("Turn off"), header);
    turnOff_->setAutoDefault(false);
    row->addWidget(turnOff_, 0, Qt::AlignTop);

    connect(scan_, &QPushButton::clicked, this, [this] { model_.scanCloud(); });
    connect(turnOff_, &QPushButton::clicked, this, [this] { model_.setCloudEnabled(false); });
    return header;
}

QWidget* ICloudResults::makeMiddle()
{
    middle_ = new QStackedWidget(this);

    auto* reading = new QWidget(middle_);
    auto* readingColumn = new QVBoxLayout(reading);
    readingColumn->addStretch(1);
    auto* readingLine = new QHBoxLayout;
    readingLine->addStretch(1);
    readingSpinner_ = new Spinner(16, reading);
    readingLine->addWidget(readingSpinner_);
    readingText_ = Look::plainLabel(Logic::readingLine, reading, true);
    readingText_->setObjectName(QStringLiteral("reading"));
    readingText_->setMaximumWidth(460);
    readingLine->addWidget(readingText_);
    readingLine->addStretch(1);
    readingColumn->addLayout(readingLine);
    readingColumn->addStretch(1);
    middle_->insertWidget(readingPage, reading);

    list_ = Look::scrollArea(middle_);
    middle_->insertWidget(listPage, list_);
    return middle_;
}

QWidget* ICloudResults::makeFooter()
{
    // One page per case, in the order of Footer; only the case shown takes room, so the footer is
    // as tall as it, not as the tallest case.
    footer_ = new QWidget(this);
    auto* pages = new QVBoxLayout(footer_);
    pages->setContentsMargins(0, 0, 0, 0);
    pages->setSpacing(0);

    auto* working = new QWidget(footer_);
    auto* workingRow = footerRow(working);
    workingRow->addWidget(new Spinner(14, working));
    progress_ = new ElidingLabel(QString(), Qt::ElideRight, working);
    workingRow->addWidget(progress_, 1);
    stop_ = new QPushButton(QStringLiteral("Stop after this file"), working);
    stop_->setAutoDefault(false);
    workingRow->addWidget(stop_);
    pages->addWidget(working);

    auto* plugIn = new QWidget(footer_);
    auto* plugInRow = footerRow(plugIn);
    auto* plugInText = Look::plainLabel(Logic::plugInLine, plugIn, true); // wraps where the window is narrow
    Look::setTone(plugInText, Tone::secondary);
    plugInRow->addWidget(plugInText, 1);
    pages->addWidget(plugIn);

    // The two pickers and the actions share one line while they fit, and take more when they
    // don't (each picker a line of its own in a narrow window at a large font); the actions keep to
    // the trailing edge.
    auto* choose = new QWidget(footer_);
    auto* chooseFlow = new FlowLayout(choose);
    chooseFlow->setContentsMargins(12, 12, 12, 12);
    park_ = picker(QStringLiteral("Park on"), chooseFlow, choose);
    chunkPicker_ = picker(QStringLiteral("A chunk at a time"), chooseFlow, choose);
    for (const auto size : Logic::chunkSizes)
        chunkPicker_->addItem(AppFormat::bytes(size, model_.preferences()), QVariant::fromValue<qint64>(size));
    // The actions, too, take two lines where one can't hold them, "Download and clean up…" on the right.
    auto* actions = new QWidget(choose);
    auto* actionsRow = new FlowLayout(actions);
    chosen_ = Look::plainLabel(QString(), actions);
    actionsRow->addWidget(chosen_);
    selectNone_ = new QPushButton(QStringLiteral("Select none"), actions);
    selectNone_->setAutoDefault(false);
    actionsRow->addWidget(selectNone_);
    start_ = new QPushButton(QStringLiteral("Download and clean up…"), actions);
    start_->setAutoDefault(false);
    start_->setDefault(true);
    actionsRow->addWidget(start_);
    chooseFlow->addWidget(actions);
    pages->addWidget(choose);

    connect(stop_, &QPushButton::clicked, this, [this] { model_.cloudStop().set(true); });
    connect(park_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < int(parkEntries_.size()))
            drive_ = parkEntries_[std::size_t(index)].path;
        refresh();
    });
    connect(chunkPicker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < int(Logic::chunkSizes.size()))
            chunk_ = Logic::chunkSizes[std::size_t(index)];
        refresh();
    });
    connect(selectNone_, &QPushButton::clicked, this, [this] { model_.setCloudSelected({}); });
    connect(start_, &QPushButton::clicked, this, &ICloudResults::openSheet);
    return footer_;
}

void ICloudResults::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        appear();
}

void ICloudResults::appear()
{
    if (!model_.cloudScan())
        model_.scanCloud(); // the model lets one scan run at a time
    if (drive_.empty())
        drive_ = Logic::presetDrive(drive_, model_.externals(), model_.preferences().string(Keys::defaultMoveToDrive));
    refresh();
    if (confirming_ && !sheet_)
        openSheet();
}

void ICloudResults::rebuildList()
{
    const auto& scan = model_.cloudScan();
    middle_->setCurrentIndex(scan ? listPage : readingPage);
    // A scan that failed says why in place of the reading line, or of the totals over an earlier scan.
    const auto& failure = model_.cloudScanFailure();
    readingSpinner_->setVisible(!failure);
    readingText_->setText(failure ? ScanButton::failedLine(Logic::scanName, *failure) : Logic::readingLine);
    nothingFound_ = nullptr;
    listBox_ = new QWidget;
    auto* column = new QVBoxLayout(listBox_);
    column->setContentsMargins(12, 10, 12, 12);
    column->setSpacing(12);
    if (scan) {
        if (const auto copies = Logic::copiesSection(*scan)) {
            auto* card = new ListCard(listBox_);
            card->add(
                new SelectAllHeader(model_, SelectAllHeader::Selection::iCloud, copies->title,
                                    QStringLiteral("up to ") + AppFormat::bytes(copies->bytes, model_.preferences()),
                                    copies->ids, card));
            for (const CopyGroup& group : scan->groups)
                card->add(new CopyGroupRow(model_, group, card));
            column->addWidget(card);
        }
        if (const auto biggest = Logic::biggestSection(*scan)) {
            auto* card = new ListCard(listBox_);
            card->add(
                new SelectAllHeader(model_, SelectAllHeader::Selection::iCloud, biggest->title,
                                    QStringLiteral("up to ") + AppFormat::bytes(biggest->bytes, model_.preferences()),
                                    biggest->ids, card));
            for (const CloudItem& item : scan->biggest)
                card->add(new CloudItemRow(model_, item, true, card));
            column->addWidget(card);
        }
        if (scan->groups.empty() && scan->biggest.empty()) {
            auto* card = new ListCard(listBox_);
            nothingFound_ = Look::plainLabel(Logic::nothingFound, card);
            nothingFound_->setContentsMargins(0, 8, 0, 2);
            Look::setTone(nothingFound_, Tone::secondary);
            card->add(nothingFound_);
            column->addWidget(card);
        }
    }
    column->addStretch(1);
    list_->setWidget(listBox_); // the old rows go with the old widget
}

void ICloudResults::refresh()
{
    const auto& preferences = model_.preferences();
    const auto& scan = model_.cloudScan();
    const bool scanning = model_.cloudScanning();
    const bool running = model_.cloudRunning();

    const auto& failure = model_.cloudScanFailure();
    totals_->setVisible(scan.has_value());
    totals_->setText(!scan         ? QString()
                         : failure ? ScanButton::failedLine(Logic::scanName, *failure)
                                   : Logic::totalsLine(*scan, preferences));
    scan_->setScanning(scanning);
    scan_->setEnabled(!scanning && !running);
    turnOff_->setEnabled(!running);

    bar_->setVisible(!model_.cloudResults().empty());

    const auto externals = model_.externals();
    footerCase_ = Logic::footer(running, externals);
    for (int page = 0; page < footer_->layout()->count(); ++page)
        footer_->layout()->itemAt(page)->widget()->setVisible(page == int(footerCase_));
    // The progress line belongs to the running cleanup only; none outlives it.
    progress_->setText(footerCase_ == Footer::working ? Logic::progressText(model_.cloudProgress()) : QString());
    refreshPickers();

    const auto& selected = model_.cloudSelected();
    chosen_->setVisible(!selected.empty());
    chosen_->setText(selected.empty() ? QString() : Logic::chosenLine(scan, selected, preferences));
    selectNone_->setVisible(!selected.empty());
    start_->setEnabled(Logic::canStart(selected, drive_));
}

void ICloudResults::refreshPickers()
{
    const auto& preferences = model_.preferences();
    auto entries = Logic::parkEntries(model_.externals(), preferences);
    const QSignalBlocker parkBlocker(park_);
    if (entries != parkEntries_) {
        parkEntries_ = std::move(entries);
        park_->clear();
        for (const auto& entry : parkEntries_)
            park_->addItem(entry.label, QString::fromStdString(entry.path));
    }
    int chosenDrive = -1;
    for (std::size_t i = 0; i < parkEntries_.size(); ++i) {
        if (parkEntries_[i].path == drive_)
            chosenDrive = int(i);
    }
    park_->setCurrentIndex(chosenDrive);

    const QSignalBlocker chunkBlocker(chunkPicker_);
    int chosenChunk = -1;
    for (std::size_t i = 0; i < Logic::chunkSizes.size(); ++i) {
        chunkPicker_->setItemText(int(i), AppFormat::bytes(Logic::chunkSizes[i], preferences));
        if (Logic::chunkSizes[i] == chunk_)
            chosenChunk = int(i);
    }
    chunkPicker_->setCurrentIndex(chosenChunk);
}

void ICloudResults::openSheet()
{
    if (sheet_ || !Logic::canStart(model_.cloudSelected(), drive_))
        return;
    confirming_ = true;
    sheet_ = new CloudConfirmSheet(model_, Logic::parkTarget(model_.externals(), drive_), chunk_, this);
    Sheet::open(sheet_, this, [this] {
        confirming_ = false;
        sheet_ = nullptr;
    });
}

CloudConfirmSheet* ICloudResults::sheet() const
{
    return sheet_;
}

QString ICloudResults::totalsText() const
{
    return totals_->isVisibleTo(this) ? totals_->text() : QString();
}

bool ICloudResults::showsList() const
{
    return middle_->currentIndex() == listPage;
}

QString ICloudResults::progressText() const
{
    return progress_->text();
}

QString ICloudResults::chosenText() const
{
    return chosen_->text();
}

std::vector<SelectAllHeader*> ICloudResults::headers() const
{
    const auto found = listBox_->findChildren<SelectAllHeader*>();
    return { found.begin(), found.end() };
}

std::vector<CopyGroupRow*> ICloudResults::groupRows() const
{
    const auto found = listBox_->findChildren<CopyGroupRow*>();
    return { found.begin(), found.end() };
}

std::vector<CloudItemRow*> ICloudResults::bigFileRows() const
{
    std::vector<CloudItemRow*> rows;
    for (auto* row : listBox_->findChildren<CloudItemRow*>()) {
        if (!qobject_cast<CopyGroupRow*>(row->parentWidget()))
            rows.push_back(row);
    }
    return rows;
}

} // namespace Quandril::App
