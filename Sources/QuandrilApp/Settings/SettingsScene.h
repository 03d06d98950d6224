#pragma once

// The settings window: the list of panes and the chosen pane. Closing it only hides it.

#include <QWidget>

#include "QuandrilApp/AppServices.h"

namespace Quandril::App {

class SettingsScene : public QWidget {
    Q_OBJECT

public:
    explicit SettingsScene(AppServices& services, QWidget* parent = nullptr);

    // Shows, un-minimises and raises the window and gives it the focus.
    void bringForward();

private:
    AppServices& services_;
};

} // namespace Quandril::App
