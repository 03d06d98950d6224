#pragma once

// Everything a window or view of the app is given: the one model, the preferences and the desktop
// services. main() fills it with the real ones; tests fill it with fakes (Tests/App/Support).
// Every member outlives the windows that use it.

namespace Quandril::App {

class AppLauncher;
class Autopilot;
class LoginItem;
class Model;
class Notifier;
class Preferences;
class Reveal;
class UpdateFetcher;
class UrlOpener;

struct AppServices {
    Model& model;
    Preferences& preferences;
    UrlOpener& urls;
    Reveal& reveal;
    AppLauncher& apps;
    Notifier& notifier;
    LoginItem& loginItem;
    UpdateFetcher& updates;
    // The autopilot, once the app has one (null in tests that don't need it).
    Autopilot* autopilot = nullptr;
};

} // namespace Quandril::App
