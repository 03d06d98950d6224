#pragma once

// The sheet the main window shows over itself until the user has seen it once: what the app
// never touches, whether it has Full Disk Access, and, while it hasn't, the app's own icon to drag
// into the system's access list and the button that would open that list. While it is on screen
// without access it checks once a second, and switches to "Granted." by itself the first time
// access is there; it never switches back while it stays open. "Start" (also Return) closes it
// and starts nothing.
//
// A window-modal dialog over the main window, centred on it and following it when the window
// moves (the window manager places the main window only after it comes on screen).
// presenter() gives what the main window calls to show it: it opens one sheet at a time and
// stores "hasSeenFirstRun" = true however the sheet closes.

#include <QDialog>
#include <QLabel>

#include "QuandrilApp/MainWindow/MainWindow.h"
#include "QuandrilApp/Model/AppServices.h"

class QMimeData;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace Quandril::App {

class GorrinLine;
class SymbolLabel;

// The app's icon, which a drag takes along as the app's own program file.
class AppIconDrag : public QLabel {
    Q_OBJECT
public:
    explicit AppIconDrag(QWidget* parent = nullptr);

    // What a drag from the icon carries: the running program as a file URL.
    static QMimeData* dragData();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint pressedAt_;
    bool pressed_ = false;
};

class FirstRunSheet : public QDialog {
    Q_OBJECT
public:
    FirstRunSheet(AppServices& services, bool hasAccess, QWidget* parent = nullptr);

    // What the main window calls each time it comes on screen while first run hasn't been seen.
    static MainWindow::FirstRunPresenter presenter(AppServices& services);

    bool hasAccess() const { return hasAccess_; }
    // Whether the once-a-second check is running.
    bool watching() const;
    QTimer* watch() const { return watch_; }

    GorrinLine* mascotLine() const { return mascot_; }
    SymbolLabel* accessLabel() const { return accessLabel_; }
    QString accessText() const;
    QWidget* grantRow() const { return grantRow_; }
    AppIconDrag* icon() const { return icon_; }
    QPushButton* settingsButton() const { return settings_; }
    QPushButton* startButton() const { return start_; }

    static inline const QString accessLine = QStringLiteral(
        "To see what's really on your Mac, I need Full Disk Access. I'll only look — nothing happens until you say so.");

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void check();
    void refresh();
    void centreOnWindow();

    AppServices& services_;
    bool hasAccess_;
    QTimer* watch_;
    QVBoxLayout* mascotSlot_;
    GorrinLine* mascot_ = nullptr;
    SymbolLabel* accessLabel_;
    QLabel* accessText_;
    QWidget* grantRow_;
    AppIconDrag* icon_;
    QPushButton* settings_;
    QPushButton* start_;
};

} // namespace Quandril::App
