#pragma once

// The main window ("Gorrin", object name "main", 920 × 660 and never smaller than 760 × 540, both
// less on a screen without room for them, where the window is kept wholly on the screen): a
// sidebar of the sections and the chosen section's view. The window keeps its size whatever the
// section: a view with more than fits scrolls. Closing and opening it again keeps its place and
// size for the run, and builds the section's view afresh from the model, as a switch of sections
// does: what a view chose (a drive, a chunk) is its own and doesn't outlive it.
// The chosen section is the preference "mainSection", read exactly ("iCloud" with a capital C);
// a value that names no section shows the Overview and stays stored until the user picks one.
// Only the user's choices write it; showing a section never does. Each time the window comes on
// screen without a scan report it starts a scan, and while "hasSeenFirstRun" is false it asks
// for the first-run sheet. Closing it only hides it; the app goes on in the tray.

#include <functional>

#include <QMainWindow>

#include "QuandrilApp/MainWindow/MainSection.h"
#include "QuandrilApp/Model/AppServices.h"

class QListWidget;
class QStackedWidget;

namespace Quandril::App {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);

    // Shows, un-minimises and raises the window and gives it the focus.
    void bringForward();

    // The section shown: the stored one, or the Overview.
    MainSection section() const { return shown_; }
    // The detail view of the section shown.
    QWidget* detail() const;
    QListWidget* sidebar() const { return sidebar_; }

    // Shows the first-run sheet over the window; `hasAccess` is whether the app has Full Disk
    // Access at that moment. The sheet stores "hasSeenFirstRun" = true however it is closed.
    // Called each time the window comes on screen while "hasSeenFirstRun" is false. By default
    // the first-run sheet (FirstRunSheet::presenter).
    using FirstRunPresenter = std::function<void(MainWindow& window, bool hasAccess)>;
    void setFirstRunPresenter(FirstRunPresenter presenter) { firstRun_ = std::move(presenter); }

    void setVisible(bool visible) override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeDetail(MainSection section);
    // Shows the stored section, rebuilding the detail view when the section changed (or always,
    // with `rebuild`).
    void showStoredSection(bool rebuild = false);
    // The user's choice: stored; the window follows the stored value.
    void choose(MainSection section);
    void presentFirstRunIfNeeded();
    // Makes the window's sizes fit the available area of its screen, with its frame; `place` also
    // moves the frame wholly onto that area.
    void fitToScreen(bool place);

    AppServices& services_;
    QListWidget* sidebar_ = nullptr;
    QStackedWidget* detail_ = nullptr;
    MainSection shown_ = MainSection::overview;
    bool built_ = false;
    // Where the window was when it was last closed: null until then.
    QRect closedAt_;
    // Shown for the first time, and no frame known yet.
    bool settling_ = false;
    FirstRunPresenter firstRun_;
};

} // namespace Quandril::App
