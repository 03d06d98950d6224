#include "QuandrilApp/Shell/AppCommands.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/UrlOpener.h"
#include "QuandrilApp/Shell/AppDelegate.h"

namespace Quandril::App::AppCommands {

void install(QMainWindow& window, QWidget& settingsWindow, AppDelegate& delegate, UrlOpener& urls,
             std::function<void()> openSettings)
{
    QMenuBar* bar = window.menuBar();

    QMenu* app = bar->addMenu(AppInfo::name());
    QObject::connect(app->addAction(QStringLiteral("Check for Updates…")), &QAction::triggered, &delegate,
                     [&delegate] { delegate.checkForUpdates(true); });
    app->addSeparator();
    QAction* settings = app->addAction(QStringLiteral("Settings…"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::PreferencesRole);
    QObject::connect(settings, &QAction::triggered, &window, std::move(openSettings));
    app->addSeparator();
    QAction* quit = app->addAction(QStringLiteral("Quit Gorrin"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    QObject::connect(quit, &QAction::triggered, &delegate, &AppDelegate::quit);
    settingsWindow.addAction(quit);
    delegate.centreWhenShown(settingsWindow);

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    QObject::connect(help->addAction(QStringLiteral("Gorrin Help")), &QAction::triggered, &window,
                     [&urls] { urls.open(AppInfo::faqUrl()); });
    QObject::connect(help->addAction(QStringLiteral("What's New")), &QAction::triggered, &window,
                     [&urls] { urls.open(AppInfo::changelogUrl()); });
}

} // namespace Quandril::App::AppCommands
