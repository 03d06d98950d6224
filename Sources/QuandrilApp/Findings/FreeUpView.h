#pragma once

// The Findings section: where the user frees space on one drive at a time. The header shows the
// drive's gauge, a drive picker (with more than one drive), the goal picker and "Scan again";
// the list shows the routes to the goal, the findings of the last scan by tier, and "Good to
// know"; below it sits the results bar of the last clean-up; the footer says when the scan ran,
// what is chosen, and offers "Select all", "Select none" and "Free up…" (also Return).
//
// The view writes nothing but the model's selection, and starts no engine work but a scan: when
// it comes on screen without a report, and from "Scan again". "Free up…" hands the chosen
// findings on through confirmRequested(); the clean-up starts from the confirmation.
//
// The list builds only the rows in view, so a report of thousands of findings shows at once and
// a change of the selection only touches the rows and labels on screen.

#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "QuandrilApp/Look/ScanButton.h"
#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Scanning/Planner.h"
#include "QuandrilCore/Values/Model.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QShortcut;
class QStackedWidget;
class QVBoxLayout;

namespace Quandril::App {

class ConfirmSheet;
class DriveGauge;
class ElidingLabel;
class GoalPicker;
class GorrinLine;
class ResultsBar;
class RowList;

class FreeUpView : public QWidget {
    Q_OBJECT

public:
    explicit FreeUpView(AppServices& services, QWidget* parent = nullptr);
    ~FreeUpView() override;

    // The drive shown: the one picked while it is mounted, else the startup drive, else none.
    std::optional<DriveInfo> drive() const;
    // What the drive picker does: shows the drive with this path (when it is, or comes back).
    void pickDrive(const std::string& path);

    // "Free up…": when enabled, emits confirmRequested with the chosen findings that the current
    // report holds (report order) and the drive shown. Return anywhere in the window does the
    // same, and is enabled exactly when the button is.
    void confirm();
    bool freeUpEnabled() const;

    // What the list holds, row by row.
    enum class RowKind { routes, tierHeader, finding, asleep, notes };
    struct ListRow {
        RowKind kind = RowKind::finding;
        Tier tier = Tier::rebuilds;
        std::size_t finding = 0; // position in the report's findings (finding rows)
    };
    const std::vector<ListRow>& listRows() const { return rows_; }

    // Parts, for tests and for what joins the view later.
    RowList* list() const { return list_; }
    DriveGauge* gauge() const { return gauge_; }
    GoalPicker* goalPicker() const { return goalPicker_; }
    QComboBox* drivePicker() const { return drivePicker_; }
    QPushButton* scanButton() const { return scanButton_; }
    QPushButton* selectAllButton() const { return selectAll_; }
    QPushButton* selectNoneButton() const { return selectNone_; }
    QPushButton* freeUpButton() const { return freeUp_; }
    const std::vector<QShortcut*>& returnKeys() const { return returnKeys_; }
    // Holds the results bar while the last clean-up has results.
    QWidget* resultsSlot() const { return resultsSlot_; }
    // The confirmation sheet while it is open, else null.
    ConfirmSheet* confirmSheet() const { return sheet_; }

signals:
    // The user asked to free up these findings (ids, in report order) of `drive`.
    void confirmRequested(const std::vector<std::string>& ids, const Quandril::DriveInfo& drive);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildHeader(QVBoxLayout* column);
    void buildFooter(QVBoxLayout* column);
    void refresh();
    void refreshHeader(const std::optional<DriveInfo>& drive);
    void refreshList(const std::optional<DriveInfo>& drive);
    void refreshFooter();
    void refreshResults();
    void rebuildList(const DriveInfo& drive, std::optional<Plan> plan);
    QWidget* makeRow(int index);
    // The page that shows why the last scan failed.
    QWidget* failedPage(const std::string& reason);
    // Opens the confirmation sheet over the window, unless one is open.
    void openConfirmSheet();

    AppServices& services_;
    std::optional<std::string> picked_;

    // What the list was built from: a copy of the report, so rows never read one that was
    // replaced under them, and what else decides its rows.
    struct Shown;
    std::unique_ptr<Shown> shown_;
    bool reportChanged_ = true;
    std::vector<ListRow> rows_;

    QVBoxLayout* gaugeSlot_ = nullptr;
    DriveGauge* gauge_ = nullptr;
    QWidget* drivePickerBox_ = nullptr;
    QComboBox* drivePicker_ = nullptr;
    QHBoxLayout* pickerSlot_ = nullptr;
    GoalPicker* goalPicker_ = nullptr;
    ScanButton* scanButton_ = nullptr;

    QStackedWidget* content_ = nullptr;
    QWidget* waiting_ = nullptr;
    // The line of a scan that ended without a report, and the page that holds it.
    QWidget* failed_ = nullptr;
    GorrinLine* failedLine_ = nullptr;
    RowList* list_ = nullptr;
    QWidget* resultsSlot_ = nullptr;
    ResultsBar* resultsBar_ = nullptr;
    ConfirmSheet* sheet_ = nullptr;

    ElidingLabel* scanned_ = nullptr;
    QPushButton* selectAll_ = nullptr;
    QLabel* chosen_ = nullptr;
    QPushButton* selectNone_ = nullptr;
    QPushButton* freeUp_ = nullptr;
    std::vector<QShortcut*> returnKeys_;
};

} // namespace Quandril::App
