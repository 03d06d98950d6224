#include "QuandrilApp/Settings/DrivesSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>

#include "QuandrilApp/Model/Model.h"
#include "QuandrilApp/Platform/Preferences.h"

namespace Quandril::App {

using namespace SettingsUi;

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

} // namespace

DrivesSettings::DrivesSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    watch_ = addSection(QStringLiteral("Watch"));
    moving_ = addSection(QStringLiteral("Moving your files"));
    showDrives();
    connect(&services.model, &Model::statusChanged, this, &DrivesSettings::showDrives);
    // The drives mounted now, read off the GUI thread; the sections follow when it arrives.
    services.model.refreshStatus();
}

QStringList DrivesSettings::watched(const QString& stored, const std::vector<DriveInfo>& drives)
{
    QStringList paths;
    if (stored.isEmpty()) {
        for (const DriveInfo& drive : drives)
            paths << text(drive.path);
    } else {
        paths = stored.split(QLatin1Char(','), Qt::SkipEmptyParts);
    }
    paths.removeDuplicates();
    return paths;
}

QString DrivesSettings::toggled(const QString& stored, const std::vector<DriveInfo>& drives, const QString& path,
                                bool on)
{
    QStringList paths = watched(stored, drives);
    if (on && !paths.contains(path))
        paths << path;
    if (!on)
        paths.removeAll(path);
    for (const DriveInfo& drive : drives)
        if (drive.isStartup && !paths.contains(text(drive.path)))
            paths.prepend(text(drive.path));
    return paths.join(QLatin1Char(','));
}

void DrivesSettings::showDrives()
{
    const std::vector<DriveInfo>& drives = services_.model.status().drives;
    if (built_ && sameDrives(drives, shown_))
        return;
    built_ = true;
    shown_ = drives;
    watch_->clear();
    moving_->clear();
    Preferences& preferences = services_.preferences;
    const QString watchedKey = QString(Keys::watchedDrives);

    for (const DriveInfo& drive : drives) {
        auto* toggle = new QCheckBox(text(drive.name) + (drive.isStartup ? QStringLiteral(" (this Mac)") : QString()));
        toggle->setProperty("drivePath", text(drive.path));
        watch_->addRow(toggle);
        if (drive.isStartup) {
            // The startup drive is always watched.
            toggle->setChecked(true);
            toggle->setEnabled(false);
            continue;
        }
        const auto show = [this, toggle, &preferences, watchedKey, path = text(drive.path)] {
            const QSignalBlocker blocker(toggle);
            toggle->setChecked(watched(preferences.string(watchedKey, {}), shown_).contains(path));
        };
        show();
        connect(toggle, &QCheckBox::clicked, toggle,
                [this, &preferences, watchedKey, path = text(drive.path)](bool on) {
                    preferences.setString(watchedKey, toggled(preferences.string(watchedKey, {}), shown_, path, on));
                });
        connect(&services_.model, &Model::preferenceChanged, toggle, [show, watchedKey](const QString& key) {
            if (key == watchedKey)
                show();
        });
    }
    watch_->addRow(note(QStringLiteral("The Mac is always watched. Unticking a drive just leaves it out of the gauge "
                                       "and autopilot; scanning it by hand still works.")));

    auto* moveTo = new QComboBox;
    moveTo->addItem(QStringLiteral("Ask each time"), QString());
    for (const DriveInfo& drive : services_.model.externals())
        moveTo->addItem(text(drive.name), text(drive.name));
    // A stored name that no mounted drive has shows no choice, and stays stored.
    bindChoice(moveTo, services_.model, QString(Keys::defaultMoveToDrive), -1);
    moving_->addRow(labelled(QStringLiteral("Move to, by default"), moveTo));
    moving_->addRow(note(QStringLiteral("Pre-fills the drive picker when you free up space or move something; you can "
                                        "always change it there.")));
}

} // namespace Quandril::App
