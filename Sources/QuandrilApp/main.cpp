// Gorrin: the tray icon, its menu, the main window and the settings window over one model.

#include <QApplication>
#include <QSystemTrayIcon>

#include <cstdlib>

#include "QuandrilApp/Look/PopupAccess.h"
#include "QuandrilApp/MainWindow/MainWindow.h"
#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Model/Autopilot.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Model/TaskPool.h"
#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/AppLauncher.h"
#include "QuandrilApp/Platform/LaunchEnvironment.h"
#include "QuandrilApp/Platform/LoginItem.h"
#include "QuandrilApp/Platform/MountWatcher.h"
#include "QuandrilApp/Platform/Notifier.h"
#include "QuandrilApp/Platform/Preferences.h"
#include "QuandrilApp/Platform/Reveal.h"
#include "QuandrilApp/Platform/UpdateFetcher.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "QuandrilApp/Platform/WakeWatcher.h"
#include "QuandrilApp/Settings/SettingsScene.h"
#include "QuandrilApp/Shell/AppCommands.h"
#include "QuandrilApp/Shell/AppDelegate.h"
#include "QuandrilApp/Shell/AppSignals.h"
#include "QuandrilApp/Shell/EndOfSession.h"
#include "QuandrilApp/Shell/MenuLabel.h"
#include "QuandrilApp/Shell/SingleInstance.h"

using namespace Quandril;
using namespace Quandril::App;

int main(int argc, char** argv)
{
    // Qt makes its runtime folder while QApplication is built: where the environment points must be
    // safe before then.
    LaunchEnvironment::makeSafe();
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::name());
    QApplication::setApplicationVersion(AppInfo::version());
    QGuiApplication::setDesktopFileName(QStringLiteral("gorrin"));
    // Before any window exists, so that assistive tools find the popups from the application.
    Look::reachOpenPopups();

    // A second launch asks the running Gorrin to open its window, and leaves, whatever runtime and
    // temporary folders each was started with.
    SingleInstance instance(SingleInstance::standardName(), SingleInstance::standardMeetingPoint());
    if (!instance.claim())
        return 0;

    // The one model, over the live machine, and the real desktop services.
    Preferences preferences;
    Model model(Mac::real(), preferences);
    DesktopUrlOpener urls;
    FileManagerReveal reveal;
    DesktopAppLauncher apps;
    DesktopNotifier notifier;
    AutostartLoginItem loginItem;
    NetworkUpdateFetcher updates;
    AppServices services { model, preferences, urls, reveal, apps, notifier, loginItem, updates };

    // The autopilot, made once before any window: it checks on mounts, wake-ups and its own timer.
    MountInfoWatcher mounts;
    LogindWakeWatcher wakes;
    Autopilot autopilot(model, notifier, &mounts, &wakes);
    services.autopilot = &autopilot;

    AppSignals requests;
    AppDelegate delegate(services, requests);

    // Both windows are made once and live for the whole run; closing one only hides it.
    MainWindow mainWindow(services);
    SettingsScene settings(services);
    Scenes scenes { [&mainWindow] { mainWindow.show(); }, [&settings] { settings.bringForward(); } };
    AppCommands::install(mainWindow, settings, delegate, urls, scenes.openSettings);

    MenuLabel label(services, requests, delegate, scenes);
    notifier.setTrayIcon(&label.trayIcon());
    label.show();

    QObject::connect(&instance, &SingleInstance::reopened, &delegate, &AppDelegate::reopen);
    EndOfSession::install(delegate);
    delegate.launch();

    const int code = QApplication::exec();
    model.prepareToQuit();
    // Gone from the screen at once, while the work under way winds down.
    label.trayIcon().hide();
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    // A clean-up or Put Back under way stops promptly and records what it did: that moment is
    // waited for (at most TaskPool::stopWait), never a whole task, nor a scan.
    TaskPool::stopAndWait();
    // Never wait for engine work still running, nor destroy what it may still use.
    if (TaskPool::busy())
        std::quick_exit(code);
    return code;
}
