#pragma once

// The app's two in-app requests, "QuandrilShowWindow" (open the main window and bring it forward)
// and "QuandrilShowSettings" (open the settings window). One object carries them for the whole
// run: the delegate emits them after launch and when the app is opened again; the tray's label
// answers them, so they are heard whether or not any window is open.

#include <QObject>

#include <functional>

namespace Quandril::App {

class AppSignals : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // "QuandrilShowWindow"
    void showWindow();
    // "QuandrilShowSettings"
    void showSettings();
};

// How the tray's label and menu open the app's windows. main() fills it with the real windows;
// tests count the calls.
struct Scenes {
    // Opens the main window at its stored section (it is brought forward separately).
    std::function<void()> openMain;
    // Opens the settings window in front.
    std::function<void()> openSettings;
};

} // namespace Quandril::App
