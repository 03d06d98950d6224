#include "QuandrilApp/Shell/MenuLabel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QSystemTrayIcon>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Symbols.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/MenuGaugeImage.h"
#include "QuandrilApp/Shell/MenuView.h"
#include "QuandrilCore/Platform/Saturating.h"

namespace Quandril::App {

namespace {

const QString driveSymbol = QStringLiteral("internaldrive");
const QString warningSymbol = QStringLiteral("exclamationmark.triangle");

// The tray's picture is drawn at this size; trays that want another size scale it.
constexpr int traySide = 22;

} // namespace

MenuLabel::Content MenuLabel::content(const ScanReport& status, bool underGoal, GaugeStyle style,
                                      FreeSpaceSource source, SizeUnits units)
{
    Content content;
    const std::optional<DriveInfo> startup = status.startup();
    if (!startup) {
        content.symbol = driveSymbol;
        return content;
    }
    const std::int64_t free = AppFormat::freeBytes(*startup, source);
    const std::int64_t total = std::max<std::int64_t>(startup->totalBytes, 1);
    switch (style) {
    case GaugeStyle::bar:
        content.used = 1.0 - double(free) / double(total);
        content.warning = underGoal;
        content.text = AppFormat::bytes(free, units);
        break;
    case GaugeStyle::percent:
        content.symbol = underGoal ? warningSymbol : driveSymbol;
        content.text = percentText(free, total);
        break;
    case GaugeStyle::icon:
        content.symbol = underGoal ? warningSymbol : driveSymbol;
        break;
    }
    return content;
}

QString MenuLabel::percentText(std::int64_t free, std::int64_t total)
{
    const double share = std::round(double(free) / double(std::max<std::int64_t>(total, 1)) * 100.0);
    const std::int64_t n = Saturating::truncated(share);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    return QString::fromLatin1(digits, end - digits) + QStringLiteral("% free");
}

QString MenuLabel::toolTip(const Content& content)
{
    return content.text.isEmpty() ? AppInfo::name() : content.text;
}

QImage MenuLabel::picture(const Content& content, const QColor& colour, int side, qreal devicePixelRatio)
{
    QImage image(QSize(side, side) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    if (content.used) {
        const QImage gauge = MenuGaugeImage::make(*content.used, content.warning, devicePixelRatio);
        painter.drawImage(QPointF((side - MenuGaugeImage::width) / 2.0, (side - MenuGaugeImage::height) / 2.0), gauge);
        image.setText(QLatin1String(MenuGaugeImage::descriptionKey),
                      gauge.text(QLatin1String(MenuGaugeImage::descriptionKey)));
    } else {
        Symbols::paint(painter, QRectF(2, 2, side - 4, side - 4), content.symbol, Qt::black);
    }
    painter.end();
    // Like a template image: only the coverage counts, in the panel's text colour.
    return MenuGaugeImage::tinted(image, colour);
}

QIcon MenuLabel::icon(const Content& content, const QColor& colour)
{
    // Drawn at each screen's own pixel ratio: a picture scaled from another ratio breaks the bar's
    // thin outline.
    QList<qreal> ratios { 1.0, 2.0 };
    for (const QScreen* screen : QGuiApplication::screens())
        if (!ratios.contains(screen->devicePixelRatio()))
            ratios << screen->devicePixelRatio();
    QIcon out;
    for (const qreal ratio : ratios)
        out.addPixmap(QPixmap::fromImage(picture(content, colour, traySide, ratio)));
    return out;
}

MenuLabel::MenuLabel(AppServices& services, AppSignals& appSignals, AppDelegate& delegate, Scenes scenes,
                     QObject* parent)
    : QObject(parent)
    , services_(services)
    , delegate_(delegate)
    , scenes_(std::move(scenes))
    , tray_(std::make_unique<QSystemTrayIcon>())
    , menu_(std::make_unique<MenuView>(services, delegate, scenes_))
{
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // Either button opens the menu: the icon has no other menu.
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
            toggleMenu();
    });
    connect(&services_.model, &Model::changed, this, &MenuLabel::refresh);
    // A screen that comes, or changes its scale, needs the picture at its pixel ratio.
    const auto redraw = [this] {
        drawn_ = false;
        refresh();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, redraw](QScreen* screen) {
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, redraw);
        redraw();
    });
    for (QScreen* screen : QGuiApplication::screens())
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, redraw);

    statusRefresh_.setInterval(refreshInterval);
    connect(&statusRefresh_, &QTimer::timeout, &services_.model, &Model::refreshStatus);
    statusRefresh_.start();

    connect(&appSignals, &AppSignals::showWindow, this, [this] {
        scenes_.openMain();
        delegate_.bringWindowsForward();
    });
    connect(&appSignals, &AppSignals::showSettings, this, [this] { scenes_.openSettings(); });

    refresh();
}

MenuLabel::~MenuLabel() = default;

void MenuLabel::show()
{
    tray_->show();
}

void MenuLabel::refresh()
{
    const Preferences& preferences = services_.preferences;
    const Model& model = services_.model;
    Content now = content(model.status(), model.startupShort().has_value(), AppFormat::gaugeStyle(preferences),
                          AppFormat::freeSpaceSource(preferences), AppFormat::sizeUnits(preferences));
    if (drawn_ && now == shown_)
        return;
    drawn_ = true;
    shown_ = std::move(now);
    tray_->setIcon(icon(shown_, QGuiApplication::palette().color(QPalette::WindowText)));
    tray_->setToolTip(toolTip(shown_));
}

void MenuLabel::toggleMenu()
{
    if (menu_->isVisible())
        menu_->close();
    else if (!menu_->closedByThisClick())
        openMenu();
}

void MenuLabel::openMenu()
{
    QRect icon = tray_->geometry();
    if (icon.isEmpty())
        icon = QRect(QCursor::pos(), QSize(1, 1));
    menu_->popUp(icon);
}

} // namespace Quandril::App
