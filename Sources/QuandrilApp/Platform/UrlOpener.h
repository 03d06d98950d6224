#pragma once

// Opening web pages in the user's browser. Only https pages with a host are ever opened: a link
// that names a file, a script or another app is refused here, whatever asked for it.

#include <QUrl>

namespace Quandril::App {

// An address the app will fetch from or show to the user: valid, https, with a host.
bool isSecureWebAddress(const QUrl& url);

class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // Opens `url` when it is a secure web address; returns false, opening nothing, otherwise
    // (and when the desktop could not open it).
    bool open(const QUrl& url);

protected:
    // Called only with secure web addresses.
    virtual bool openPage(const QUrl& url) = 0;
};

// The desktop's browser, through QDesktopServices.
class DesktopUrlOpener final : public UrlOpener {
protected:
    bool openPage(const QUrl& url) override;
};

} // namespace Quandril::App
