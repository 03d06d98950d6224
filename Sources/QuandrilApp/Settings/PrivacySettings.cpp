#include "QuandrilApp/Settings/PrivacySettings.h"

#include <QCheckBox>
#include <QLabel>

#include "QuandrilApp/Platform/AppInfo.h"
#include "QuandrilApp/Platform/PreferenceKeys.h"

namespace Quandril::App {

using namespace SettingsUi;

PrivacySettings::PrivacySettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
{
    SettingsSection* rule = addSection();
    rule->addRow(symbolLine(QStringLiteral("network.slash"), QStringLiteral("No network"), TextStyle::headline, {}));
    rule->addRow(
        label(QStringLiteral("Gorrin reads your drives and acts on them entirely on this Mac. Nothing it finds, "
                             "and nothing you do with it, is ever sent anywhere."),
              TextStyle::callout));

    SettingsSection* exception = addSection(QStringLiteral("The one exception"));
    // The site named is the one that serves the version file.
    auto* toggle = new QCheckBox(QStringLiteral("Check ") + AppInfo::updateUrl().host()
                                 + QStringLiteral(" for a newer version"));
    bindToggle(toggle, services.model, QString(Keys::autoCheckForUpdates));
    exception->addRow(toggle);
    exception->addRow(note(QStringLiteral("Off by default. On, it asks once a day at most for a small file naming the "
                                          "latest version — nothing about you or your Mac is sent with that request. "
                                          "See Settings → Updates.")));
}

} // namespace Quandril::App
