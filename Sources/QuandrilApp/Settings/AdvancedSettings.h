#pragma once

// The Advanced pane: where the command-line tool would lie, the History file shown in the file
// manager, and "Reset all settings…", which after a confirmation removes every stored preference
// and the user's never-touch paths. History and everything on the machine stay as they are.

#include <QMessageBox>
#include <QPointer>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilApp/Settings/SettingsForm.h"

namespace Quandril::App {

class AdvancedSettings : public SettingsForm {
    Q_OBJECT
public:
    explicit AdvancedSettings(AppServices& services, QWidget* parent = nullptr);
    // Tests give the app's folder themselves; empty stands for none.
    AdvancedSettings(AppServices& services, const QString& resourceFolder, QWidget* parent = nullptr);

    // The folder that holds the app's resources: the one above the executable's folder (where the
    // rules are installed); empty when the program's place is unknown.
    static QString resourceFolder();
    // The tool's path in `folder`, or "not found" without a folder. Whether a file is there is not
    // looked at.
    static QString cliPath(const QString& folder);

    // The confirmation while it is shown.
    QMessageBox* confirmation() const { return confirmation_; }

private:
    void confirmReset();
    void reset();

    AppServices& services_;
    QString cliPath_;
    QPointer<QMessageBox> confirmation_;
};

} // namespace Quandril::App
