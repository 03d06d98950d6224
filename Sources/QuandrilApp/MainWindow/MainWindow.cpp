#include "QuandrilApp/MainWindow/MainWindow.h"

#include <QListWidget>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStackedWidget>

#include <algorithm>

#include "QuandrilApp/Findings/FreeUpView.h"
#include "QuandrilApp/ICloud/ICloudView.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ScreenFit.h"
#include "QuandrilApp/MainWindow/Advisor.h"
#include "QuandrilApp/MainWindow/DrivesView.h"
#include "QuandrilApp/MainWindow/FirstRun.h"
#include "QuandrilApp/MainWindow/HistoryView.h"
#include "QuandrilApp/MainWindow/OverviewView.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

namespace {

// In device-independent pixels; a screen with less room gets less (ScreenFit).
constexpr QSize firstSize(920, 660);
constexpr QSize leastSize(760, 540);

MainSection storedSection(const Preferences& preferences)
{
    const QString stored = preferences.stringValue(Keys::mainSection);
    return mainSectionFromRaw(stored).value_or(MainSection::overview);
}

} // namespace

MainWindow::MainWindow(AppServices& services, QWidget* parent)
    : QMainWindow(parent)
    , services_(services)
    , firstRun_(FirstRunSheet::presenter(services))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Gorrin"));
    setMinimumSize(leastSize);
    resize(firstSize);

    auto* splitter = new QSplitter(this);
    splitter->setChildrenCollapsible(false);
    sidebar_ = new QListWidget(splitter);
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setIconSize(QSize(16, 16));
    sidebar_->setSpacing(2);
    const QColor iconColor = palette().color(QPalette::Highlight);
    const QColor selectedColor = palette().color(QPalette::HighlightedText);
    for (const auto section : allMainSections) {
        auto* item = new QListWidgetItem(Look::symbolIcon(symbol(section), iconColor, 16, selectedColor),
                                         title(section), sidebar_);
        item->setData(Qt::UserRole, rawValue(section));
        item->setData(Qt::UserRole + 1, symbol(section));
    }
    // As wide as the longest title needs at the font in use, and never scrolled sideways.
    const int sidebarWidth = std::max(170,
                                      sidebar_->sizeHintForColumn(0) + 2 * sidebar_->spacing()
                                          + 2 * sidebar_->frameWidth());
    sidebar_->setMinimumWidth(sidebarWidth);
    sidebar_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A section whose view needs more room than the window has scrolls rather than growing it.
    auto* scroll = new QScrollArea(splitter);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    detail_ = new QStackedWidget;
    scroll->setWidget(detail_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ std::max(190, sidebarWidth), 730 });
    setCentralWidget(splitter);

    connect(sidebar_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto chosen = sidebar_->selectedItems();
        // No row chosen stores the Overview.
        choose(chosen.isEmpty()
                   ? MainSection::overview
                   : mainSectionFromRaw(chosen.front()->data(Qt::UserRole).toString()).value_or(MainSection::overview));
    });
    connect(sidebar_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        // Picking the row already shown still makes it the stored choice.
        const QString raw = item->data(Qt::UserRole).toString();
        if (services_.preferences.string(Keys::mainSection) != raw)
            choose(mainSectionFromRaw(raw).value_or(MainSection::overview));
    });
    connect(&services_.model, &Model::preferenceChanged, this, [this](const QString& key) {
        if (key == Keys::mainSection)
            showStoredSection();
    });
    showStoredSection();
}

void MainWindow::bringForward()
{
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

QWidget* MainWindow::detail() const
{
    return detail_->currentWidget();
}

QWidget* MainWindow::makeDetail(MainSection section)
{
    switch (section) {
    case MainSection::overview:
        return new OverviewView(services_, [this](MainSection chosen) { choose(chosen); });
    case MainSection::findings:
        return new FreeUpView(services_);
    case MainSection::drives:
        return new DrivesView(services_);
    case MainSection::iCloud:
        return new ICloudView(services_.model);
    case MainSection::history:
        return new HistoryView(services_);
    case MainSection::advisor:
        return new AdvisorView(services_);
    }
    return nullptr; // every section has its view above
}

void MainWindow::showStoredSection(bool rebuild)
{
    const MainSection section = storedSection(services_.preferences);
    {
        const QSignalBlocker quiet(sidebar_);
        const int row = static_cast<int>(std::find(allMainSections.begin(), allMainSections.end(), section)
                                         - allMainSections.begin());
        sidebar_->setCurrentRow(row);
    }
    if (built_ && section == shown_ && !rebuild)
        return;
    built_ = true;
    shown_ = section;
    while (detail_->count() > 0) {
        QWidget* old = detail_->widget(0);
        detail_->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    detail_->addWidget(makeDetail(section));
}

void MainWindow::choose(MainSection section)
{
    services_.preferences.setString(Keys::mainSection, rawValue(section));
}

void MainWindow::setVisible(bool visible)
{
    if (visible != isVisible()) {
        if (!visible) {
            closedAt_ = QRect(pos(), size());
        } else if (closedAt_.isValid()) {
            // Set before the window maps, so the window manager places it where it was.
            move(closedAt_.topLeft());
            resize(closedAt_.size());
            showStoredSection(true);
        } else {
            // The frame is still unknown: the window alone is fitted now, the frame once it comes.
            fitToScreen(false);
            settling_ = true;
        }
    }
    QMainWindow::setVisible(visible);
}

bool MainWindow::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    // The window manager answers the first showing with the frame and the place it gave the
    // window; until a frame is known, each answer is checked against the screen.
    const auto type = event->type();
    if (settling_ && isVisible() && (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)) {
        fitToScreen(true);
        settling_ = ScreenFit::frameOf(*this).isNull();
    }
    return handled;
}

void MainWindow::fitToScreen(bool place)
{
    const QRect area = ScreenFit::availableArea(*this);
    if (!area.isValid())
        return;
    const QMargins frame = ScreenFit::frameOf(*this);
    setMinimumSize(ScreenFit::within(leastSize, area, frame));
    const QSize fitted = ScreenFit::within(size(), area, frame);
    if (!place) {
        resize(fitted);
        return;
    }
    QRect outer = frameGeometry();
    outer.setSize(fitted.grownBy(frame));
    const QRect inner(ScreenFit::placed(outer, area) + QPoint(frame.left(), frame.top()), fitted);
    // Placed by its own rectangle, as the window manager reads a frame's place in more than one way.
    if (inner != geometry())
        setGeometry(inner);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    // The model itself starts none while one runs or without the rules.
    if (!services_.model.report())
        services_.model.scan();
    presentFirstRunIfNeeded();
}

void MainWindow::presentFirstRunIfNeeded()
{
    if (services_.preferences.booleanValue(Keys::hasSeenFirstRun) || !firstRun_)
        return;
    firstRun_(*this, services_.model.accessProbe()->hasFullDiskAccess());
}

} // namespace Quandril::App
