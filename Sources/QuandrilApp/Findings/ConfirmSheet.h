#pragma once

// The last step before a clean-up: the chosen findings, largest first, with what will be done to
// each that the app acts on itself and what the user should do about each it leaves alone; the
// drive to move files to when a finding needs one; the cautions, with the agreement that lets
// cautioned findings be done; and "Free up", which asks the model for the clean-up of what the app
// can do and closes the sheet. What is left to the user stays chosen.
//
// A window-modal dialog over the findings, opened with open(). "Cancel", Escape and closing the
// window change nothing. Each opening is a new sheet: the agreement starts off and the drive
// picker starts from its preset. Everything shown is derived again whenever the model announces
// a change; the drive picked stays picked. Whether History can take a line is asked anew at each
// opening, and the note under the list says so when it can't.

#include <string>

#include <QDialog>

#include "QuandrilApp/Findings/ConfirmLogic.h"
#include "QuandrilApp/Model/AppServices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Quandril::App {

class ConfirmSheet : public QDialog {
    Q_OBJECT
public:
    explicit ConfirmSheet(AppServices& services, QWidget* parent = nullptr);

    const ConfirmLogic::Split& shown() const { return split_; }
    bool agreed() const { return agreed_; }
    // The path of the drive picked for moves; empty for none.
    const std::string& drivePath() const { return drivePath_; }

    QString titleText() const;
    QComboBox* drivePicker() const { return picker_; }
    QWidget* pickerRow() const { return pickerRow_; }
    QCheckBox* agreement() const { return agreement_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* freeUpButton() const { return freeUp_; }
    QScrollArea* list() const { return scroll_; }

protected:
    bool event(QEvent* event) override;

private:
    void refresh();
    void rebuildList();
    void fitHeight();
    void refreshPicker();
    void refreshCautions();
    void freeUp();
    void askHistory();

    AppServices& services_;
    ConfirmLogic::Split split_;
    bool agreed_ = false;
    std::string drivePath_;
    bool pickerInView_ = false;
    std::string historyLineWhyNot_; // why History can't take a line now; empty when it can or until known
    int listHeight_ = 0;            // the list's height where the screen has room
    QStringList listed_;            // what the list was built from, to rebuild it only when that changes

    QLabel* title_;
    QScrollArea* scroll_;
    QWidget* rows_ = nullptr;
    QWidget* pickerRow_;
    QComboBox* picker_;
    QWidget* cautions_;
    QVBoxLayout* cautionLines_;
    QCheckBox* agreement_;
    QLabel* note_;
    QPushButton* cancel_;
    QPushButton* freeUp_;
};

} // namespace Quandril::App
