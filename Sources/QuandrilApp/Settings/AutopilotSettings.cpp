#include "QuandrilApp/Settings/AutopilotSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

#include "QuandrilApp/Model/Autopilot.h"
#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

using namespace SettingsUi;

AutopilotSettings::AutopilotSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    Preferences& preferences = services.preferences;

    SettingsSection* main = addSection();
    auto* enabled = new QCheckBox(QStringLiteral("Clean up on its own"));
    bindToggle(enabled, services.model, QString(Keys::autopilotEnabled));
    main->addRow(enabled);
    main->addRow(
        note(QStringLiteral("Only the \"rebuilds itself\" tier — developer caches, dead simulators and the "
                            "like, from apps that aren't open. Everything else always waits for your click.")));

    SettingsSection* checks = addSection(QStringLiteral("Checks"));
    interval_ = new QComboBox;
    for (const int minutes : { 5, 10, 15, 30 })
        interval_->addItem(QString::number(minutes) + QStringLiteral(" minutes"), minutes);
    checks->addRow(labelled(QStringLiteral("Check every"), interval_));
    checks->addRow(
        note(QStringLiteral("Also right after a drive mounts or the Mac wakes. After a run, it waits 6 hours "
                            "before trying again, and a weekly note says what grew.")));

    lastCheck_ = addSection(QStringLiteral("Last check"));
    lastNote_ = label({}, TextStyle::callout);
    lastCheck_->addRow(lastNote_);

    showSettings();
    showLastRun();
    connect(interval_, &QComboBox::activated, this, [this, &preferences](int index) {
        preferences.setInteger(QString(Keys::autopilotIntervalMinutes), interval_->itemData(index).toInt());
    });
    connect(&services.model, &Model::preferenceChanged, this, [this](const QString& key) {
        if (key == Keys::autopilotEnabled || key == Keys::autopilotIntervalMinutes)
            showSettings();
    });
    if (services.autopilot)
        connect(services.autopilot, &Autopilot::changed, this, &AutopilotSettings::showLastRun);
}

void AutopilotSettings::showSettings()
{
    const Preferences& preferences = services_.preferences;
    {
        // A stored interval that is none of the choices shows none of them.
        const QSignalBlocker blocker(interval_);
        const qint64 minutes = preferences.integerValue(QString(Keys::autopilotIntervalMinutes));
        int shown = -1;
        for (int i = 0; i < interval_->count(); ++i)
            if (interval_->itemData(i).toLongLong() == minutes)
                shown = i;
        interval_->setCurrentIndex(shown);
    }
    interval_->setEnabled(preferences.booleanValue(QString(Keys::autopilotEnabled)));
}

void AutopilotSettings::showLastRun()
{
    const Autopilot* autopilot = services_.autopilot;
    const bool ran = autopilot && autopilot->lastRunNote();
    lastNote_->setText(ran ? *autopilot->lastRunNote() : QString());
    lastCheck_->setVisible(ran);
}

} // namespace Quandril::App
