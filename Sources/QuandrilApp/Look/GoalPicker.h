#pragma once

// The one control that sets a drive's free-space goal: "Keep free", a menu of preset goals and
// "No goal", and a field for a goal of the user's own. Goals live only in the preferences, under
// "goal:" + the drive's path; every choice writes there and then has the model announce the
// change, so every view showing the goal follows. Showing the goal never writes anything.

#include <memory>
#include <optional>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Values/Model.h"

class QLineEdit;
class QMenu;
class QPushButton;

namespace Quandril::App {

class Model;

namespace GoalPickerLogic {

// The preset goals as stored: "25GB", "50GB", "75GB", "100GB", "10%", "20%", "30%".
const QStringList& options();
// What a goal reads as: its description ("50 GB", "20% of the drive"), or "No goal".
QString goalTitle(const std::optional<Goal>& goal);
// The text to store for a typed goal: exactly as typed when it parses as a goal, else none.
std::optional<QString> acceptedCustom(const QString& typed);

} // namespace GoalPickerLogic

class GoalPicker : public QWidget {
    Q_OBJECT

public:
    // Starts with an empty custom field.
    GoalPicker(Model& model, DriveInfo drive, QWidget* parent = nullptr);
    ~GoalPicker() override;

    const DriveInfo& drive() const { return drive_; }
    // Shows another drive's goal; the custom field is emptied.
    void setDrive(DriveInfo drive);

    // The menu's title: the drive's goal as it reads now.
    QString title() const;
    QPushButton* menuButton() const { return button_; }
    QMenu* menu() const { return menu_.get(); }
    QLineEdit* customField() const { return custom_; }

    // The user's choices: a preset (its stored text), no goal, or the typed text. Submitting text
    // that is no goal stores nothing and leaves the text for the user to correct.
    void choose(const QString& option);
    void chooseNoGoal();
    void submitCustom();

private:
    void store(const QString& value);
    void refresh();

    Model& model_;
    DriveInfo drive_;
    QPushButton* button_ = nullptr;
    // Made without a parent widget, so that assistive tools reach it from the application while
    // it is open (see Look/PopupAccess.h); the picker owns it.
    std::unique_ptr<QMenu> menu_;
    QLineEdit* custom_ = nullptr;
};

} // namespace Quandril::App
