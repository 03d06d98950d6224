#pragma once

// Records the pages the app would open instead of starting a browser.

#include "QuandrilApp/Platform/UrlOpener.h"

#include <QList>

namespace Quandril::AppTesting {

class FakeUrlOpener final : public Quandril::App::UrlOpener {
public:
    // The pages that got past the https rule, in order.
    QList<QUrl> opened;
    // What the desktop answers.
    bool succeeds = true;

protected:
    bool openPage(const QUrl& url) override
    {
        opened.append(url);
        return succeeds;
    }
};

} // namespace Quandril::AppTesting
