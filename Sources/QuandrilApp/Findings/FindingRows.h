#pragma once

// The rows of the findings list under each tier's SelectAllHeader: one row per finding (checkbox,
// title and size, reason, how to get it back, caution and status lines, "Show in Finder" and, for a
// hand-off, the button that opens its app). Each keeps copies of what it shows, so it never reads a
// report that has been replaced, and follows the model's selection by itself.

#include <string>
#include <vector>

#include <QPushButton>
#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Values/Model.h"

class QCheckBox;
class QLabel;

namespace Quandril::App {

class AppLauncher;
class SymbolView;

// "Open <app>"; once the app could not be opened, "<app> isn't installed", disabled.
class OpenAppButton : public QPushButton {
    Q_OBJECT

public:
    OpenAppButton(AppLauncher& apps, const QString& app, QWidget* parent = nullptr);

    const QString& app() const { return app_; }
    bool missing() const { return missing_; }

private:
    void open();

    AppLauncher& apps_;
    QString app_;
    bool missing_ = false;
};

class FindingRow : public QWidget {
    Q_OBJECT

public:
    FindingRow(AppServices& services, Finding finding, QWidget* parent = nullptr);

    const Finding& finding() const { return finding_; }
    QCheckBox* checkBox() const { return check_; }
    // The status icon; null for a finding the clean-up carries out itself.
    SymbolView* statusIcon() const { return status_; }
    QPushButton* showInFinder() const { return reveal_; }
    // Null unless the finding is handed to an app.
    OpenAppButton* openApp() const { return openApp_; }

private:
    void refresh();
    void toggle(bool on);

    AppServices& services_;
    Finding finding_;
    QCheckBox* check_ = nullptr;
    SymbolView* status_ = nullptr;
    QPushButton* reveal_ = nullptr;
    OpenAppButton* openApp_ = nullptr;
};

} // namespace Quandril::App
