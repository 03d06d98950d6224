#pragma once

// The Drives pane: which drives the gauge and the autopilot watch ("watchedDrives", their paths
// joined by ","), and which external drive moves go to by default ("defaultMoveToDrive", its
// name). It reads the drives afresh when it is made and follows the drive status after that.

#include <vector>

#include <QStringList>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class DrivesSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit DrivesSettings(AppServices& services, QWidget* parent = nullptr);

    // The watched paths a stored text stands for: every listed drive while it is empty, else its
    // non-empty texts between its commas as they are (not trimmed), in order, each once.
    static QStringList watched(const QString& stored, const std::vector<DriveInfo>& drives);
    // What to store once the user ticks (`on`) or unticks the drive at `path`. The startup drive's
    // path always goes with it, so the text never becomes empty, which would read as every drive.
    static QString toggled(const QString& stored, const std::vector<DriveInfo>& drives, const QString& path, bool on);

private:
    void showDrives();

    AppServices& services_;
    std::vector<DriveInfo> shown_;
    bool built_ = false;
    SettingsSection* watch_ = nullptr;
    SettingsSection* moving_ = nullptr;
};

} // namespace Quandril::App
