#pragma once

// A model over a fake machine together with fake desktop services, bundled as the AppServices a
// window or view takes:
//
//     ServicesFixture f;
//     f.machine().file("~/Library/Caches/old/a.bin", 4000);
//     MainWindow window(f.services());

#include <memory>
#include <optional>

#include "QuandrilApp/Model/AppServices.h"
#include "Support/FakeDesktopServices.h"
#include "Support/FakeUpdateFetcher.h"
#include "Support/FakeUrlOpener.h"
#include "Support/ModelFixture.h"

namespace Quandril::AppTesting {

class ServicesFixture {
public:
    ModelFixture modelFixture;
    FakeUrlOpener urls;
    FakeReveal reveal;
    FakeAppLauncher apps;
    FakeNotifier notifier;
    FakeLoginItem loginItem;
    FakeUpdateFetcher updates;

    Testing::FakeMachine& machine() { return modelFixture.machine; }
    TempPreferences& preferences() { return modelFixture.preferences; }

    // Builds the model (once the machine and preferences are set up) and the services around it.
    App::AppServices& services()
    {
        if (!services_) {
            App::Model& model = modelFixture.model ? *modelFixture.model : modelFixture.make();
            services_.emplace(
                App::AppServices { model, model.preferences(), urls, reveal, apps, notifier, loginItem, updates });
        }
        return *services_;
    }

    bool settle(int timeoutMs = 20000) { return modelFixture.settle(timeoutMs); }

private:
    std::optional<App::AppServices> services_;
};

} // namespace Quandril::AppTesting
