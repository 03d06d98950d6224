#pragma once

// The main window ("Gorrin", 920 × 660): a sidebar of sections and the chosen section's view.
// Closing it only hides it; the app goes on in the tray.

#include <QMainWindow>

#include "QuandrilApp/AppServices.h"
#include "QuandrilApp/MainSection.h"

class QListWidget;
class QStackedWidget;

namespace Quandril::App {

class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);

    // Shows, un-minimises and raises the window and gives it the focus.
    void bringForward();

private:
    QWidget* makeDetail(MainSection section);
    void showSection(MainSection section);

    AppServices& services_;
    QListWidget* sidebar_ = nullptr;
    QStackedWidget* detail_ = nullptr;
};

} // namespace Quandril::App
