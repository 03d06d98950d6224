#pragma once

// The last step before files leave iCloud: what is chosen (largest first), how much leaves iCloud
// and how much must be downloaded first, what happens to each file, and, when a chosen file has a
// caution, the agreement that "Start" waits for. "Start" asks the model for the cleanup and closes
// the sheet; "Cancel", Escape or closing the sheet changes nothing. Each opening is a new sheet,
// so the agreement starts off every time. Everything shown is derived again whenever the model
// announces a change.
//
// A window-modal dialog over the results view, opened with open().

#include <cstdint>

#include <QDialog>

#include "QuandrilApp/ICloud/CloudConfirmModel.h"
#include "QuandrilApp/ICloud/CloudResultsLogic.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Quandril::App {

class ElidingLabel;
class Model;

class CloudConfirmSheet : public QDialog {
    Q_OBJECT
public:
    CloudConfirmSheet(Model& model, CloudResultsLogic::ParkTarget drive, std::int64_t chunk, QWidget* parent = nullptr);

    bool agreed() const { return agreed_; }
    const CloudConfirmModel& shown() const { return shown_; }
    QString titleText() const;
    QString summaryText() const;
    QString explanationText() const;
    // One "<size> | <whole path>" per listed item, in the order shown.
    QStringList listed() const;
    QCheckBox* agreement() const { return agreement_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* cancelButton() const { return cancel_; }
    QScrollArea* list() const { return scroll_; }

protected:
    bool event(QEvent* event) override;

private:
    void refresh();
    void fitHeight();
    void rebuildList();

    Model& model_;
    CloudResultsLogic::ParkTarget drive_;
    std::int64_t chunk_;
    bool agreed_ = false;
    CloudConfirmModel shown_;

    QLabel* title_;
    QLabel* summary_;
    QScrollArea* scroll_;
    QWidget* rows_ = nullptr;
    QLabel* explanation_;
    QWidget* agreementRow_;
    QCheckBox* agreement_;
    QPushButton* cancel_;
    QPushButton* start_;
};

} // namespace Quandril::App
