#include "QuandrilApp/Settings/ICloudSettingsTab.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>

#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

ICloudSettingsTab::ICloudSettingsTab(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
{
    Model& model = services.model;
    SettingsSection* section = addSection();
    auto* toggle = new QCheckBox(QStringLiteral("Let Gorrin look into iCloud"));
    section->addRow(toggle);
    section->addRow(SettingsUi::note(QStringLiteral(
        "Off by default. On, Gorrin reads iCloud's own list of files — names, sizes, whether each is only in the "
        "cloud — without downloading anything to look. Nothing leaves iCloud except files you choose, and each is "
        "checked and parked on a drive before it's removed. See the iCloud tab for the rest.")));

    const auto show = [toggle, &model] {
        const QSignalBlocker blocker(toggle);
        toggle->setChecked(model.cloudEnabled());
    };
    show();
    connect(&model, &Model::settingsChanged, toggle, show);
    connect(toggle, &QCheckBox::clicked, this, [&model](bool on) {
        model.setCloudEnabled(on);
        if (on)
            model.scanCloud();
    });
}

} // namespace Quandril::App
