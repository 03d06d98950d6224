#pragma once

// The tray's menu: a small frameless panel that opens at the tray icon. Top to bottom: the mascot
// with the app's name, one gauge per watched drive, the Trash's size, a notice when a newer version
// is out, then "Free up space…", "Open Gorrin", the settings and Quit. Each time it opens it
// refreshes the drive status, so it shows the state of that moment.

#include <QElapsedTimer>
#include <QList>
#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Shell/AppSignals.h"
#include "QuandrilCore/Values/Model.h"

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace Quandril::App {

class AppDelegate;
class DriveGauge;
class GorrinImage;
class Preferences;

class MenuView : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 320;

    // The drives that get a gauge, in the status's order: the startup drive, and every drive when
    // `watchedCSV` ("watchedDrives") is empty, else those whose path is one of its comma-separated
    // pieces (empty pieces dropped, blanks kept: " /Volumes/X" matches nothing).
    static std::vector<DriveInfo> drives(const ScanReport& status, const QString& watchedCSV);
    // "Gorrin <version> is available", or none while "availableUpdate" is empty.
    static std::optional<QString> updateText(const Preferences& preferences);
    // Where a panel of `size` opens for a tray icon at `icon`: centred under it, or above it when
    // there is no room below, always inside `screen`.
    static QPoint placement(const QRect& icon, const QSize& size, const QRect& screen);

    MenuView(AppServices& services, AppDelegate& delegate, Scenes scenes, QWidget* parent = nullptr);

    // Opens the panel at a tray icon that covers `icon` (global coordinates).
    void popUp(const QRect& icon);
    // True right after the panel closed because of a click outside it, which a tray icon then
    // also receives: that click should not open the panel again.
    bool closedByThisClick() const;

    // The parts, for tests.
    GorrinImage* mascot() const { return mascot_; }
    QList<DriveGauge*> gauges() const { return gauges_; }
    QLabel* trashLabel() const { return trashText_; }
    QWidget* trashLine() const { return trashLine_; }
    QToolButton* updateButton() const { return update_; }
    QPushButton* freeUpButton() const { return freeUp_; }
    QPushButton* openButton() const { return open_; }
    QToolButton* settingsButton() const { return settings_; }
    QToolButton* quitButton() const { return quit_; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void fitSize();
    void rebuildGauges();
    void setMascot(bool concerned);
    void openMain();

    AppServices& services_;
    AppDelegate& delegate_;
    Scenes scenes_;

    QHBoxLayout* heading_ = nullptr;
    GorrinImage* mascot_ = nullptr;
    QWidget* gaugeBox_ = nullptr;
    QVBoxLayout* gaugeList_ = nullptr;
    QList<DriveGauge*> gauges_;
    QWidget* trashLine_ = nullptr;
    QLabel* trashText_ = nullptr;
    QToolButton* update_ = nullptr;
    QPushButton* freeUp_ = nullptr;
    QPushButton* open_ = nullptr;
    QToolButton* settings_ = nullptr;
    QToolButton* quit_ = nullptr;
    QElapsedTimer outsideClick_;
};

} // namespace Quandril::App
