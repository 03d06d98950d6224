#pragma once

// The settings window (720 × 540, wider only while a pane's controls need more at a large font):
// the list of the ten panes in four groups, and the chosen pane under its title. Which pane is
// chosen lives only in "settingsPane": the window shows the stored pane each time it is shown
// (General when the stored text names none, which then stays stored until the user picks a row),
// and a click on a row stores that pane. A pane is made anew each time it is shown and dropped
// when another is chosen or the window closes. Closing only hides the window.

#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsPane.h"

class QLabel;
class QListWidget;
class QVBoxLayout;

namespace Quandril::App {

class SettingsScene : public QWidget {
    Q_OBJECT

public:
    explicit SettingsScene(AppServices& services, QWidget* parent = nullptr);

    // Shows, un-minimises and raises the window and gives it the focus.
    void bringForward();

    // The pane on show and its view; the view is null while the window is hidden.
    SettingsPane shownPane() const { return shown_; }
    QWidget* paneView() const { return pane_; }
    QListWidget* paneList() const { return list_; }

    // A new view of a pane.
    static QWidget* makePane(SettingsPane pane, AppServices& services);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Shows the stored pane; `rebuild` makes its view anew even when that pane is on show.
    void showStored(bool rebuild);
    void dropPane();
    // 720 wide where the pane fits, else as wide as it needs: nothing passes the window's edge.
    // While the window is on screen it never narrows, so moving between panes doesn't jolt it.
    void fitWidth();

    AppServices& services_;
    QListWidget* list_ = nullptr;
    QLabel* title_ = nullptr;
    QVBoxLayout* detail_ = nullptr;
    QWidget* pane_ = nullptr;
    SettingsPane shown_ = SettingsPane::general;
    int widest_ = 0; // the widest this showing has been
};

} // namespace Quandril::App
