#pragma once

// What the iCloud section shows while iCloud cleanup is on: a header with the scan's totals, "Scan
// again" and "Turn off"; the copies and the biggest files (or a reading line until the first scan
// arrives); the last run's results bar; and a footer that picks the drive to park on and the chunk
// size and opens the confirmation sheet, or, while a cleanup runs, shows its progress and offers
// to stop after the current file.
//
// The view keeps three choices of its own (the drive, the chunk size, whether the sheet is open);
// everything else lives in the model. Each time it is shown it starts a scan when there is none,
// and, with no drive chosen yet, takes the default drive. A new view starts from no drive, a
// chunk of 5 GB and no sheet.

#include <cstdint>
#include <string>
#include <vector>

#include <QPointer>
#include <QWidget>

#include "QuandrilApp/ICloud/CloudResultsLogic.h"
#include "QuandrilApp/Look/ScanButton.h"

class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace Quandril::App {

class CloudConfirmSheet;
class CloudItemRow;
class CloudResultsBar;
class CopyGroupRow;
class ElidingLabel;
class Model;
class SelectAllHeader;
class SymbolLabel;

class ICloudResults : public QWidget {
    Q_OBJECT
public:
    // `drive` is the chosen drive's path ("" for none).
    ICloudResults(Model& model, std::string drive = {}, std::int64_t chunk = CloudResultsLogic::defaultChunk,
                  bool confirming = false, QWidget* parent = nullptr);

    // The view's own choices.
    const std::string& drive() const { return drive_; }
    std::int64_t chunk() const { return chunk_; }
    bool confirming() const { return confirming_; }
    CloudConfirmSheet* sheet() const;

    // What is shown.
    QString totalsText() const; // "" while there is no scan
    bool showsList() const;     // false while the reading line shows
    CloudResultsLogic::Footer footerShown() const { return footerCase_; }
    QString progressText() const; // the footer's whole progress line; "" unless a cleanup runs
    QString chosenText() const;   // "" while nothing is chosen
    std::vector<SelectAllHeader*> headers() const;
    std::vector<CopyGroupRow*> groupRows() const;
    std::vector<CloudItemRow*> bigFileRows() const;
    QLabel* nothingFoundRow() const { return nothingFound_; }
    CloudResultsBar* resultsBar() const { return bar_; }
    QComboBox* parkPicker() const { return park_; }
    QComboBox* chunkPicker() const { return chunkPicker_; }
    QPushButton* scanButton() const { return scan_; }
    QPushButton* turnOffButton() const { return turnOff_; }
    QPushButton* selectNoneButton() const { return selectNone_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeMiddle();
    QWidget* makeFooter();
    void appear();
    void rebuildList();
    void refresh();
    void refreshPickers();
    void openSheet();

    Model& model_;
    std::string drive_;
    std::int64_t chunk_;
    bool confirming_ = false;
    QPointer<CloudConfirmSheet> sheet_;
    CloudResultsLogic::Footer footerCase_ = CloudResultsLogic::Footer::plugIn;
    std::vector<CloudResultsLogic::ParkEntry> parkEntries_;

    // Header.
    QLabel* totals_ = nullptr;
    ScanButton* scan_ = nullptr;
    QPushButton* turnOff_ = nullptr;
    // Middle.
    QStackedWidget* middle_ = nullptr;
    QScrollArea* list_ = nullptr;
    QWidget* listBox_ = nullptr;
    QLabel* nothingFound_ = nullptr;
    Spinner* readingSpinner_ = nullptr;
    QLabel* readingText_ = nullptr;
    CloudResultsBar* bar_ = nullptr;
    // Footer.
    QWidget* footer_ = nullptr;
    ElidingLabel* progress_ = nullptr;
    QPushButton* stop_ = nullptr;
    QComboBox* park_ = nullptr;
    QComboBox* chunkPicker_ = nullptr;
    QLabel* chosen_ = nullptr;
    QPushButton* selectNone_ = nullptr;
    QPushButton* start_ = nullptr;
};

} // namespace Quandril::App
