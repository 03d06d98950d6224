#include "QuandrilApp/Settings/SettingsScene.h"

namespace Quandril::App {

SettingsScene::SettingsScene(AppServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , services_(services)
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(720, 540);
}

void SettingsScene::bringForward()
{
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
}

} // namespace Quandril::App
