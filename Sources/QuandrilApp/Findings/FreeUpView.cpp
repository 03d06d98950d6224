#include "QuandrilApp/Findings/FreeUpView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "QuandrilApp/Findings/ConfirmSheet.h"
#include "QuandrilApp/Findings/FindingRows.h"
#include "QuandrilApp/Findings/FreeUpLogic.h"
#include "QuandrilApp/Findings/NotesSection.h"
#include "QuandrilApp/Findings/ResultsBar.h"
#include "QuandrilApp/Findings/RoutesSection.h"
#include "QuandrilApp/Look/ComboAccess.h"
#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/FlowLayout.h"
#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Look/RowList.h"
#include "QuandrilApp/Look/ScanButton.h"
#include "QuandrilApp/Look/SelectAllHeader.h"
#include "QuandrilApp/Look/Sheet.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

const QString nothingToFree = QStringLiteral("I looked. Nothing needs freeing right now — you're ahead of your goal.");
const QString scanName = QStringLiteral("The scan");
const QString lookingLine = QStringLiteral("Let me see what's actually using your space. This takes about a minute.");

} // namespace

struct FreeUpView::Shown {
    ScanReport report;
    std::string drivePath;
    std::optional<Plan> plan;
    SizeUnits units = SizeUnits::decimal;
    std::vector<FreeUpLogic::TierBlock> blocks;
};

FreeUpView::FreeUpView(AppServices& services, QWidget* parent)
    : QWidget(parent)
    , services_(services)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    buildHeader(column);
    column->addWidget(Look::divider(this));

    content_ = new QStackedWidget(this);
    waiting_ = new QWidget(content_);
    auto* waitingColumn = new QVBoxLayout(waiting_);
    waitingColumn->addStretch(1);
    auto* line = new GorrinLine(GorrinSlot::scanning, lookingLine, Qt::AlignVCenter, waiting_);
    line->setMaximumWidth(460);
    waitingColumn->addWidget(line, 0, Qt::AlignHCenter);
    waitingColumn->addStretch(1);
    content_->addWidget(waiting_);
    failed_ = new QWidget(content_);
    auto* failedColumn = new QVBoxLayout(failed_);
    failedColumn->addStretch(1);
    failedColumn->addStretch(1);
    content_->addWidget(failed_);
    list_ = new RowList(content_);
    content_->addWidget(list_);
    // The list takes what the bars around it leave, so the page never asks the window for more
    // height than it has (nor scrolls in it): the bars stay in view and only the list scrolls.
    content_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    content_->setMinimumHeight(4 * fontMetrics().lineSpacing());
    column->addWidget(content_, 1);

    resultsSlot_ = new QWidget(this);
    auto* resultsColumn = new QVBoxLayout(resultsSlot_);
    resultsColumn->setContentsMargins(0, 0, 0, 0);
    resultsSlot_->hide();
    column->addWidget(resultsSlot_);

    column->addWidget(Look::divider(this));
    buildFooter(column);

    Model& model = services_.model;
    connect(&model, &Model::reportChanged, this, [this] {
        reportChanged_ = true;
        refresh();
    });
    connect(&model, &Model::statusChanged, this, &FreeUpView::refresh);
    // Goals change the plan; the free-space count and the units change every amount.
    connect(&model, &Model::settingsChanged, this, &FreeUpView::refresh);
    connect(&model, &Model::displayChanged, this, &FreeUpView::refresh);
    connect(&model, &Model::busyChanged, this, &FreeUpView::refresh);
    connect(&model, &Model::selectionChanged, this, &FreeUpView::refreshFooter);
    connect(&model, &Model::resultsChanged, this, &FreeUpView::refreshResults);
    connect(this, &FreeUpView::confirmRequested, this, &FreeUpView::openConfirmSheet);
    refresh();
    refreshResults();
}

FreeUpView::~FreeUpView() = default;

void FreeUpView::buildHeader(QVBoxLayout* column)
{
    auto* header = new QWidget(this);
    auto* stack = new QVBoxLayout(header);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(12);
    gaugeSlot_ = new QVBoxLayout;
    gaugeSlot_->setContentsMargins(0, 0, 0, 0);
    stack->addLayout(gaugeSlot_);

    // A large font never widens the window: what does not fit moves to a line below.
    auto* row = new FlowLayout(nullptr, 16);
    drivePickerBox_ = new QWidget(header);
    auto* pickerRow = new QHBoxLayout(drivePickerBox_);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    auto* pickerLabel = Look::plainLabel(QStringLiteral("Drive"), drivePickerBox_);
    pickerRow->addWidget(pickerLabel);
    drivePicker_ = new QComboBox(drivePickerBox_);
    drivePicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerLabel->setBuddy(drivePicker_);
    Look::nameByLabel(*drivePicker_, pickerLabel->text());
    pickerRow->addWidget(drivePicker_);
    drivePickerBox_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(drivePickerBox_);
    connect(drivePicker_, &QComboBox::activated, this,
            [this](int index) { pickDrive(drivePicker_->itemData(index).toString().toStdString()); });
    pickerSlot_ = new QHBoxLayout;
    pickerSlot_->setContentsMargins(0, 0, 0, 0);
    row->addLayoutItem(pickerSlot_);

    scanButton_ = new ScanButton(header);
    connect(scanButton_, &QPushButton::clicked, &services_.model, &Model::scan);
    row->addWidget(scanButton_);
    stack->addLayout(row);
    column->addWidget(header);
}

void FreeUpView::buildFooter(QVBoxLayout* column)
{
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 12, 12, 12);
    // The line gives way to the buttons: shortened with "…", the whole of it in the tool tip.
    scanned_ = new ElidingLabel(QString(), Qt::ElideRight, footer);
    Look::setTextStyle(scanned_, TextStyle::caption);
    Look::setTone(scanned_, Tone::secondary);
    row->addWidget(scanned_);
    row->addStretch(1);

    selectAll_ = new QPushButton(QStringLiteral("Select all"), footer);
    connect(selectAll_, &QPushButton::clicked, this, [this] {
        const auto drive = this->drive();
        const auto& report = services_.model.report();
        if (!drive || !report)
            return;
        // Only this drive's findings, as the current report holds them; choices elsewhere go.
        const auto ids = FreeUpLogic::driveFindingIDs(*report, drive->path);
        services_.model.setSelected({ ids.begin(), ids.end() });
    });
    row->addWidget(selectAll_);
    chosen_ = Look::plainLabel(QString(), footer);
    row->addWidget(chosen_);
    selectNone_ = new QPushButton(QStringLiteral("Select none"), footer);
    connect(selectNone_, &QPushButton::clicked, this, [this] { services_.model.setSelected({}); });
    row->addWidget(selectNone_);
    freeUp_ = new QPushButton(QStringLiteral("Free up…"), footer);
    freeUp_->setDefault(true);
    connect(freeUp_, &QPushButton::clicked, this, &FreeUpView::confirm);
    row->addWidget(freeUp_);
    returnKeys_ = Sheet::returnKeys(this, [this] { confirm(); });
    column->addWidget(footer);
}

std::optional<DriveInfo> FreeUpView::drive() const
{
    return FreeUpLogic::shownDrive(services_.model.status(), picked_);
}

void FreeUpView::pickDrive(const std::string& path)
{
    picked_ = path;
    refresh();
}

bool FreeUpView::freeUpEnabled() const
{
    const Model& model = services_.model;
    return FreeUpLogic::freeUpEnabled(model.report(), model.selected(), model.cleaning());
}

void FreeUpView::confirm()
{
    const auto drive = this->drive();
    if (!freeUpEnabled() || !drive)
        return;
    emit confirmRequested(FreeUpLogic::chosenInReport(services_.model.report(), services_.model.selected()), *drive);
}

void FreeUpView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous() && !services_.model.report() && !services_.model.scanning())
        services_.model.scan();
}

void FreeUpView::refresh()
{
    const auto drive = this->drive();
    refreshHeader(drive);
    refreshList(drive);
    refreshFooter();
}

void FreeUpView::refreshHeader(const std::optional<DriveInfo>& drive)
{
    const Model& model = services_.model;
    if (drive) {
        if (!gauge_) {
            gauge_ = new DriveGauge(services_.model, *drive, this);
            gaugeSlot_->addWidget(gauge_);
        } else if (!(gauge_->drive() == *drive)) {
            gauge_->setDrive(*drive);
        }
        if (!goalPicker_) {
            goalPicker_ = new GoalPicker(services_.model, *drive, this);
            goalPicker_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
            pickerSlot_->addWidget(goalPicker_);
        } else if (!(goalPicker_->drive() == *drive)) {
            goalPicker_->setDrive(*drive);
        }
    }
    if (gauge_)
        gauge_->setVisible(drive.has_value());
    if (goalPicker_)
        goalPicker_->setVisible(drive.has_value());

    const auto& drives = model.status().drives;
    drivePickerBox_->setVisible(drive && drives.size() > 1);
    {
        const QSignalBlocker quiet(drivePicker_);
        drivePicker_->clear();
        if (drive && drives.size() > 1) {
            for (const DriveInfo& each : drives)
                drivePicker_->addItem(QString::fromStdString(each.name), QString::fromStdString(each.path));
            drivePicker_->setCurrentIndex(drivePicker_->findData(QString::fromStdString(drive->path)));
        }
    }

    scanButton_->setScanning(model.scanning());
}

void FreeUpView::refreshList(const std::optional<DriveInfo>& drive)
{
    const Model& model = services_.model;
    if (!drive || !model.report()) {
        content_->setCurrentWidget(model.scanFailure() ? failedPage(*model.scanFailure()) : waiting_);
        if (shown_) {
            shown_.reset();
            rows_.clear();
            list_->setRows({}, {});
        }
        return;
    }
    content_->setCurrentWidget(list_);
    auto plan = model.plan(*drive);
    const SizeUnits units = AppFormat::sizeUnits(services_.preferences);
    if (shown_ && !reportChanged_ && shown_->drivePath == drive->path && shown_->plan == plan && shown_->units == units)
        return;
    rebuildList(*drive, std::move(plan));
}

QWidget* FreeUpView::failedPage(const std::string& reason)
{
    const QString text = ScanButton::failedLine(scanName, reason);
    if (failedLine_ && failedLine_->label()->text() == text)
        return failed_;
    delete failedLine_;
    failedLine_ = new GorrinLine(GorrinSlot::concerned, text, Qt::AlignVCenter, failed_);
    failedLine_->setMaximumWidth(460);
    static_cast<QVBoxLayout*>(failed_->layout())->insertWidget(1, failedLine_, 0, Qt::AlignHCenter);
    return failed_;
}

void FreeUpView::rebuildList(const DriveInfo& drive, std::optional<Plan> plan)
{
    reportChanged_ = false;
    auto shown = std::make_unique<Shown>();
    shown->report = *services_.model.report();
    shown->drivePath = drive.path;
    shown->plan = std::move(plan);
    shown->units = AppFormat::sizeUnits(services_.preferences);
    shown->blocks = FreeUpLogic::tierBlocks(shown->report, drive.path);
    shown_ = std::move(shown);

    rows_.clear();
    std::vector<RowList::Row> looks;
    if (shown_->plan) {
        rows_.push_back({ RowKind::routes });
        looks.push_back({ int(60 + 46 * shown_->plan->routes.size()), true, false });
    }
    bool any = false;
    for (const auto& block : shown_->blocks) {
        rows_.push_back({ RowKind::tierHeader, block.tier });
        looks.push_back({ 30, true, true });
        for (const std::size_t item : block.items) {
            rows_.push_back({ RowKind::finding, block.tier, item });
            looks.push_back({ 100, false, false });
            any = true;
        }
    }
    if (!any) {
        rows_.push_back({ RowKind::asleep });
        looks.push_back({ 48, true, false });
    }
    if (NotesSection::hasContent(shown_->report, services_.model.mac())) {
        rows_.push_back({ RowKind::notes });
        looks.push_back({ 60, true, true });
    }
    list_->setRows(std::move(looks), [this](int index) { return makeRow(index); });
}

QWidget* FreeUpView::makeRow(int index)
{
    const ListRow& row = rows_[std::size_t(index)];
    switch (row.kind) {
    case RowKind::routes:
        return new RoutesSection(services_, *shown_->plan);
    case RowKind::tierHeader: {
        std::vector<const Finding*> items;
        for (const auto& block : shown_->blocks)
            if (block.tier == row.tier)
                for (const std::size_t item : block.items)
                    items.push_back(&shown_->report.findings[item]);
        std::vector<std::string> ids;
        for (const Finding* finding : items)
            ids.push_back(finding->id);
        return new SelectAllHeader(services_.model, SelectAllHeader::Selection::findings,
                                   QString::fromStdString(std::string(Quandril::title(row.tier))),
                                   AppFormat::bytes(FreeUpLogic::totalBytes(items), services_.preferences),
                                   std::move(ids));
    }
    case RowKind::finding:
        return new FindingRow(services_, shown_->report.findings[row.finding]);
    case RowKind::asleep: {
        auto* line = new GorrinLine(GorrinSlot::asleep, nothingToFree, Qt::AlignTop);
        Look::setTone(line, Tone::secondary);
        return line;
    }
    case RowKind::notes:
        return new NotesSection(shown_->report, services_.model.mac());
    }
    return nullptr;
}

void FreeUpView::refreshFooter()
{
    const Model& model = services_.model;
    const auto drive = this->drive();
    const auto& report = model.report();
    const auto& selected = model.selected();

    // A scan that failed over an earlier report leaves that report shown, and says so here.
    const bool failedOverReport = report && model.scanFailure();
    scanned_->setVisible(model.scannedAt() || failedOverReport);
    if (failedOverReport)
        scanned_->setText(ScanButton::failedLine(scanName, *model.scanFailure()));
    else if (model.scannedAt())
        scanned_->setText(FreeUpLogic::scannedLine(*model.scannedAt()));

    selectAll_->setVisible(drive && report);
    if (drive && report) {
        const auto onDrive = FreeUpLogic::driveFindingIDs(*report, drive->path);
        selectAll_->setEnabled(!onDrive.empty() && !SelectAllHeader::allChosen(onDrive, selected));
    }

    chosen_->setVisible(!selected.empty());
    selectNone_->setVisible(!selected.empty());
    if (!selected.empty())
        chosen_->setText(FreeUpLogic::chosenLine(selected.size(), model.selectedBytes(), [this](std::int64_t n) {
            return AppFormat::bytes(n, services_.preferences);
        }));
    freeUp_->setEnabled(freeUpEnabled());
    for (QShortcut* shortcut : returnKeys_)
        shortcut->setEnabled(freeUp_->isEnabled());
}

void FreeUpView::refreshResults()
{
    if (!resultsBar_) {
        resultsBar_ = new ResultsBar(services_.model, resultsSlot_);
        resultsSlot_->layout()->addWidget(resultsBar_);
    }
    resultsSlot_->setVisible(!services_.model.lastResults().empty());
}

void FreeUpView::openConfirmSheet()
{
    if (sheet_)
        return;
    // A new sheet each time: the agreement starts off and the drive picker from its preset.
    sheet_ = new ConfirmSheet(services_, this);
    Sheet::open(sheet_, this, [this] { sheet_ = nullptr; });
}

} // namespace Quandril::App
