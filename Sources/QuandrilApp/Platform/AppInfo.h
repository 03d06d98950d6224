#pragma once

// Who the app is and where its maker's web site lives. The site is fixed when the app is built
// (the QUANDRIL_SITE build setting) and is always an https address with a host.

#include <QString>
#include <QUrl>

namespace Quandril::App::AppInfo {

// "Gorrin".
QString name();
// The project's version, such as "0.1.0".
QString version();

// The maker's site, without a trailing "/".
QUrl site();
// site + "/version.json": the version file the update check reads.
QUrl updateUrl();
// site + "/#faq" and site + "/changelog": the Help pages.
QUrl faqUrl();
QUrl changelogUrl();
// site + "/#download".
QUrl downloadUrl();

} // namespace Quandril::App::AppInfo
