#include "QuandrilApp/Platform/AppInfo.h"

#ifndef QUANDRIL_SITE
#error "QUANDRIL_SITE is set by the build (Sources/QuandrilApp/CMakeLists.txt)"
#endif

namespace Quandril::App::AppInfo {

namespace {

QUrl underSite(const char* tail)
{
    return QUrl(QStringLiteral(QUANDRIL_SITE) + QLatin1String(tail), QUrl::StrictMode);
}

} // namespace

QString name()
{
    return QStringLiteral("Gorrin");
}

QString version()
{
    return QStringLiteral(QUANDRIL_APP_VERSION);
}

QUrl site()
{
    return underSite("");
}

QUrl updateUrl()
{
    return underSite("/version.json");
}

QUrl faqUrl()
{
    return underSite("/#faq");
}

QUrl changelogUrl()
{
    return underSite("/changelog");
}

QUrl downloadUrl()
{
    return underSite("/#download");
}

} // namespace Quandril::App::AppInfo
