#include "QuandrilApp/Settings/GoalsSettings.h"

#include <QHBoxLayout>
#include <QLabel>

#include "QuandrilApp/Look/GoalPicker.h"
#include "QuandrilApp/Model/Model.h"

namespace Quandril::App {

using namespace SettingsUi;

GoalsSettings::GoalsSettings(AppServices& services, QWidget* parent)
    : SettingsForm(parent)
    , services_(services)
{
    showDrives();
    connect(&services.model, &Model::statusChanged, this, &GoalsSettings::showDrives);
    // The drives mounted now, read off the GUI thread; the sections follow when it arrives.
    services.model.refreshStatus();
}

QWidget* GoalsSettings::goalControl(Model& model, const DriveInfo& drive)
{
    return new GoalPicker(model, drive);
}

void GoalsSettings::showDrives()
{
    const std::vector<DriveInfo>& drives = services_.model.status().drives;
    // A status that lists the same drives leaves the sections (and what is typed in them) alone.
    if (built_ && sameDrives(drives, shown_))
        return;
    built_ = true;
    shown_ = drives;
    for (QWidget* part : parts_) {
        part->hide();
        part->deleteLater();
    }
    parts_.clear();

    if (drives.empty()) {
        QLabel* none = label(QStringLiteral("No drives found yet."), TextStyle::body, Tone::secondary);
        addLoose(none);
        parts_.push_back(none);
        return;
    }
    for (const DriveInfo& drive : drives) {
        QString header = QString::fromStdString(drive.name);
        if (drive.isStartup)
            header += QStringLiteral(" (this Mac)");
        SettingsSection* section = addSection(header);
        QWidget* control = goalControl(services_.model, drive);
        control->setProperty("goalDrive", QString::fromStdString(drive.path));
        section->addRow(control);
        if (drive.isStartup)
            section->addRow(note(QStringLiteral("Defaults to 50 GB free.")));
        parts_.push_back(section);
    }
}

} // namespace Quandril::App
