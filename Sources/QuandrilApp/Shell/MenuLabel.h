#pragma once

// The tray icon: a compact reading of the startup drive's free space, in the style the user chose
// ("gaugeStyle"), with a warning when the drive is below its goal. Clicking it opens the menu
// (MenuView) at the icon. For the whole run it also keeps the drive status fresh (every 60
// seconds) and answers the app's two requests: "QuandrilShowWindow" opens the main window and
// brings it forward, "QuandrilShowSettings" opens the settings window.
//
// The tray shows a picture only, so the label's text is the icon's tooltip.

#include <QIcon>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Model/AppSettings.h"
#include "QuandrilApp/Shell/AppSignals.h"

class QColor;
class QSystemTrayIcon;

namespace Quandril::App {

class AppDelegate;
class MenuView;

class MenuLabel : public QObject {
    Q_OBJECT

public:
    // What the label shows, worked out afresh at each drawing.
    struct Content {
        // The symbol that leads ("internaldrive", "exclamationmark.triangle"); empty when the
        // gauge picture leads instead.
        QString symbol;
        // The gauge picture's used share (the bar style with a startup drive).
        std::optional<double> used;
        // The gauge picture's warning notch.
        bool warning = false;
        // The text after the picture or symbol; empty for none.
        QString text;

        friend bool operator==(const Content&, const Content&) = default;
    };

    // The label for the startup drive of `status`. `underGoal` is whether the model's
    // startupShort() is present (it follows the same free-space count). Without a startup drive
    // the label is "internaldrive" alone, whatever the style. A total below 1 byte counts as 1.
    static Content content(const ScanReport& status, bool underGoal, GaugeStyle style, FreeSpaceSource source,
                           SizeUnits units);
    // "<n>% free", n = free / total × 100 rounded half away from zero (total below 1 counts as
    // 1). A share beyond what a signed 64-bit count holds is shown at that limit.
    static QString percentText(std::int64_t free, std::int64_t total);
    // The icon's tooltip: the label's text, or the app's name where the label shows none.
    static QString toolTip(const Content& content);
    // The tray's picture: `side` × `side` points at `devicePixelRatio`, in `colour`, the gauge
    // picture or the symbol centred in it.
    static QImage picture(const Content& content, const QColor& colour, int side, qreal devicePixelRatio);
    // The tray's icon: the picture at the pixel ratio of every screen (and at 1 and 2).
    static QIcon icon(const Content& content, const QColor& colour);

    static constexpr std::chrono::seconds refreshInterval { 60 };

    MenuLabel(AppServices& services, AppSignals& appSignals, AppDelegate& delegate, Scenes scenes,
              QObject* parent = nullptr);
    ~MenuLabel() override;

    // Shows the icon in the tray (where the desktop has one).
    void show();
    // Opens the menu at the icon (at the mouse pointer when the tray gives no place for it).
    void openMenu();

    // What is shown now.
    const Content& shown() const { return shown_; }
    QSystemTrayIcon& trayIcon() const { return *tray_; }
    MenuView& menu() const { return *menu_; }

private:
    void refresh();
    void toggleMenu();

    AppServices& services_;
    AppDelegate& delegate_;
    Scenes scenes_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<MenuView> menu_;
    QTimer statusRefresh_;
    Content shown_;
    bool drawn_ = false;
};

} // namespace Quandril::App
