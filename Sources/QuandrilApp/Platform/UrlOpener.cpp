#include "QuandrilApp/Platform/UrlOpener.h"

#include <QDesktopServices>

namespace Quandril::App {

bool isSecureWebAddress(const QUrl& url)
{
    return url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty();
}

bool UrlOpener::open(const QUrl& url)
{
    return isSecureWebAddress(url) && openPage(url);
}

bool DesktopUrlOpener::openPage(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace Quandril::App
