#pragma once

// The main window's menus: the app's commands in place of the standard ones.
//  "Gorrin": "Check for Updates…" (a check at once, answered in an alert), "Settings…" (Ctrl+,),
//            "Quit Gorrin" (Ctrl+Q, the app's own Quit).
//  "Help":   "Gorrin Help" (the maker's site, "/#faq") and "What's New" ("/changelog").
// There is no File menu: the app makes no new documents. Ctrl+Q quits from the settings window too,
// and the settings window opens centred on the screen under the pointer.

#include <functional>

class QMainWindow;
class QWidget;

namespace Quandril::App {

class AppDelegate;
class UrlOpener;

namespace AppCommands {

void install(QMainWindow& window, QWidget& settingsWindow, AppDelegate& delegate, UrlOpener& urls,
             std::function<void()> openSettings);

} // namespace AppCommands

} // namespace Quandril::App
