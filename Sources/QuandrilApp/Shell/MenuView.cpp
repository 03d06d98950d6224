#include "QuandrilApp/Shell/MenuView.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "QuandrilApp/Look/DriveGauge.h"
#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/Look/PopupAccess.h"
#include "QuandrilApp/MainWindow/OverviewView.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "QuandrilApp/Shell/AppDelegate.h"

namespace Quandril::App {

namespace {

// A click outside the panel closes it; a tray icon under that click hears it within this time.
constexpr qint64 closingClickMs = 300;

} // namespace

std::vector<DriveInfo> MenuView::drives(const ScanReport& status, const QString& watchedCSV)
{
    std::set<std::string> watched;
    for (const QString& piece : watchedCSV.split(QLatin1Char(','), Qt::SkipEmptyParts))
        watched.insert(piece.toStdString());
    std::vector<DriveInfo> out;
    for (const DriveInfo& drive : status.drives)
        if (drive.isStartup || watchedCSV.isEmpty() || watched.count(drive.path) > 0)
            out.push_back(drive);
    return out;
}

std::optional<QString> MenuView::updateText(const Preferences& preferences)
{
    const QString version = preferences.stringValue(QString(Keys::availableUpdate));
    if (version.isEmpty())
        return std::nullopt;
    return QStringLiteral("Gorrin ") + version + QStringLiteral(" is available");
}

QPoint MenuView::placement(const QRect& icon, const QSize& size, const QRect& screen)
{
    const int gap = 4;
    int x = icon.x() + icon.width() / 2 - size.width() / 2;
    int y = icon.bottom() + 1 + gap;
    if (y + size.height() > screen.bottom() + 1)
        y = icon.top() - gap - size.height();
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return { x, y };
}

MenuView::MenuView(AppServices& services, AppDelegate& delegate, Scenes scenes, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint)
    , services_(services)
    , delegate_(delegate)
    , scenes_(std::move(scenes))
{
    // Before anything asks for the panel's accessible object, which is made once.
    Look::exposePopupPanel(*this);
    // Never shown on screen (popups have no title bar); it names the panel to the desktop and to
    // assistive tools.
    setWindowTitle(QStringLiteral("Gorrin menu"));
    setFixedWidth(width);
    setAutoFillBackground(true);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(14);

    heading_ = new QHBoxLayout;
    heading_->setSpacing(8);
    QLabel* name = Look::plainLabel(AppInfo::name(), this);
    Look::setTextStyle(name, TextStyle::headline);
    heading_->addWidget(name);
    heading_->addStretch(1);
    stack->addLayout(heading_);
    setMascot(false);

    gaugeBox_ = new QWidget(this);
    gaugeList_ = new QVBoxLayout(gaugeBox_);
    gaugeList_->setContentsMargins(0, 0, 0, 0);
    gaugeList_->setSpacing(14);
    stack->addWidget(gaugeBox_);

    trashLine_ = new QWidget(this);
    auto* trashRow = new QHBoxLayout(trashLine_);
    trashRow->setContentsMargins(0, 0, 0, 0);
    trashRow->setSpacing(6);
    trashRow->addWidget(new SymbolView(QStringLiteral("trash"), Tone::secondary, 14, trashLine_), 0, Qt::AlignTop);
    trashText_ = Look::plainLabel(QString(), trashLine_, true);
    Look::setTextStyle(trashText_, TextStyle::subheadline, QFont::Normal);
    Look::setTone(trashText_, Tone::secondary);
    trashRow->addWidget(trashText_, 1);
    stack->addWidget(trashLine_);

    update_ = new QToolButton(this);
    update_->setAutoRaise(true);
    update_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    update_->setCursor(Qt::PointingHandCursor);
    QPalette linkText = update_->palette();
    linkText.setColor(QPalette::ButtonText, palette().color(QPalette::Link));
    update_->setPalette(linkText);
    Look::setButtonSymbol(update_, QStringLiteral("arrow.down.circle"), 16);
    stack->addWidget(update_);

    stack->addWidget(Look::divider(this));

    freeUp_ = new QPushButton(QStringLiteral("Free up space…"), this);
    freeUp_->setDefault(true);
    freeUp_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    freeUp_->setMinimumHeight(freeUp_->sizeHint().height() + 8);
    stack->addWidget(freeUp_);

    auto* footer = new QHBoxLayout;
    open_ = new QPushButton(QStringLiteral("Open Gorrin"), this);
    open_->setFlat(true);
    settings_ = new QToolButton(this);
    settings_->setAutoRaise(true);
    settings_->setToolTip(QStringLiteral("Settings…"));
    settings_->setAccessibleName(QStringLiteral("Settings"));
    quit_ = new QToolButton(this);
    quit_->setAutoRaise(true);
    quit_->setToolTip(QStringLiteral("Quit Gorrin"));
    quit_->setAccessibleName(QStringLiteral("Quit Gorrin"));
    Look::setButtonSymbol(settings_, QStringLiteral("gearshape"), 16);
    Look::setButtonSymbol(quit_, QStringLiteral("power"), 16);
    footer->addWidget(open_);
    footer->addStretch(1);
    footer->addWidget(settings_);
    footer->addWidget(quit_);
    stack->addLayout(footer);

    connect(update_, &QToolButton::clicked, this, [this] { services_.urls.open(AppInfo::downloadUrl()); });
    connect(freeUp_, &QPushButton::clicked, this, [this] {
        openMain();
        // An existing report stays: the main window shows it.
        if (!services_.model.report())
            services_.model.scan();
    });
    connect(open_, &QPushButton::clicked, this, &MenuView::openMain);
    connect(settings_, &QToolButton::clicked, this, [this] {
        close();
        scenes_.openSettings();
    });
    connect(quit_, &QToolButton::clicked, &delegate_, &AppDelegate::quit);

    // Preferences too (the watched drives, an available update) reach it as a step of the model.
    connect(&services_.model, &Model::changed, this, &MenuView::refresh);
    refresh();
}

void MenuView::openMain()
{
    // The main window takes over from the panel, as the focus moving to it would close it.
    close();
    scenes_.openMain();
    delegate_.bringWindowsForward();
}

void MenuView::popUp(const QRect& icon)
{
    fitSize();
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(icon.topLeft(), sizeHint());
    move(placement(icon, size(), area));
    show();
    raise();
    activateWindow();
}

bool MenuView::closedByThisClick() const
{
    return !isVisible() && outsideClick_.isValid() && outsideClick_.elapsed() < closingClickMs;
}

void MenuView::mousePressEvent(QMouseEvent* event)
{
    // A press outside the panel closes it (in QWidget's handler).
    if (!rect().contains(event->position().toPoint()))
        outsideClick_.start();
    QWidget::mousePressEvent(event);
}

void MenuView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The gauges and the Trash line show the state of the moment the menu opens.
    services_.model.refreshStatus();
    refresh();
}

bool MenuView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A text changed its lines (a goal line wraps as the free space falls): the panel's height,
    // fixed to its width's, follows.
    if (event->type() == QEvent::LayoutRequest && isVisible())
        fitSize();
    return handled;
}

void MenuView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        freeUp_->click();
        return;
    case Qt::Key_Escape:
        close();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void MenuView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // A frameless panel needs an edge of its own to stand out from what lies under it.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MenuView::refresh()
{
    const Model& model = services_.model;
    const Preferences& preferences = services_.preferences;
    setMascot(model.startupShort().has_value());
    rebuildGauges();

    const QString trash = OverviewLogic::trashLine(model.status().trashBytes,
                                                   [&](std::int64_t n) { return AppFormat::bytes(n, preferences); });
    trashText_->setText(trash);
    trashLine_->setVisible(!trash.isEmpty());

    const std::optional<QString> update = updateText(preferences);
    update_->setText(update.value_or(QString()));
    update_->setVisible(update.has_value());
}

void MenuView::fitSize()
{
    layout()->activate();
    // 320 wide, or as wide as a line that can't wrap needs at a large font; as tall as its lines
    // need at that width.
    const int wide = std::max(width, layout()->totalMinimumSize().width());
    setFixedSize(wide, layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(wide) : sizeHint().height());
}

void MenuView::rebuildGauges()
{
    const std::vector<DriveInfo> wanted = drives(services_.model.status(),
                                                 services_.preferences.stringValue(QString(Keys::watchedDrives)));
    if (!refreshGauges(std::span(gauges_.constData(), std::size_t(gauges_.size())), wanted)) {
        qDeleteAll(gauges_);
        gauges_.clear();
        for (const DriveInfo& drive : wanted) {
            auto* gauge = new DriveGauge(services_.model, drive, gaugeBox_);
            gaugeList_->addWidget(gauge);
            gauges_.append(gauge);
        }
    }
    gaugeBox_->setVisible(!wanted.empty());
}

void MenuView::setMascot(bool concerned)
{
    const GorrinSlot slot = concerned ? GorrinSlot::concerned : GorrinSlot::idle;
    if (mascot_ && mascot_->slot() == slot)
        return;
    auto* image = new GorrinImage(slot, 26, this);
    if (mascot_) {
        delete heading_->replaceWidget(mascot_, image);
        delete mascot_;
    } else {
        heading_->insertWidget(0, image);
    }
    mascot_ = image;
}

} // namespace Quandril::App
