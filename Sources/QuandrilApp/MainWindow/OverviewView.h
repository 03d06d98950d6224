#pragma once

// The Overview section, shown by default: in the app's own voice, whether the startup drive is
// short of its goal; a gauge for every drive; buttons to the findings, the drives and the
// advisor; what the last scan found; and what the Trash holds. Coming on screen it reads the
// drives and the Trash again (no scan); it changes nothing on disk.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

#include "QuandrilApp/Look/Mascot.h"
#include "QuandrilApp/MainWindow/MainSection.h"
#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Values/Model.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Quandril::App {

class DriveGauge;

namespace OverviewLogic {

using Bytes = std::function<QString(std::int64_t)>;

struct Texts {
    GorrinSlot headlineSlot = GorrinSlot::idle;
    QString headline;
    // The report line: the scanning sentence beside the mascot, a plain summary, or nothing.
    enum class ReportLine { none, scanning, summary };
    ReportLine reportLine = ReportLine::none;
    QString report;
    // Empty when the Trash holds nothing.
    QString trash;

    friend bool operator==(const Texts&, const Texts&) = default;
};

// "The Trash holds <bytes>; emptying it frees that.", or empty when the Trash holds nothing.
QString trashLine(std::int64_t trashBytes, const Bytes& bytes);

// `shortBy`: how far the startup drive is below its goal (Model::startupShort).
Texts texts(std::optional<std::int64_t> shortBy, const std::optional<ScanReport>& report, bool scanning,
            std::int64_t trashBytes, const Bytes& bytes);

} // namespace OverviewLogic

class OverviewView : public QWidget {
    Q_OBJECT

public:
    // `select` makes another section the chosen one (the main window stores it).
    OverviewView(AppServices& services, std::function<void(MainSection)> select, QWidget* parent = nullptr);

    const OverviewLogic::Texts& texts() const { return texts_; }
    const std::vector<DriveGauge*>& gauges() const { return gauges_; }
    // "See findings", "Drives and goals", "Mac settings advisor".
    const std::vector<QPushButton*>& buttons() const { return buttons_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppServices& services_;
    std::function<void(MainSection)> select_;
    OverviewLogic::Texts texts_;

    QVBoxLayout* column_ = nullptr;
    GorrinLine* headline_ = nullptr;
    QVBoxLayout* gaugeColumn_ = nullptr;
    std::vector<DriveGauge*> gauges_;
    std::vector<QPushButton*> buttons_;
    GorrinLine* scanningLine_ = nullptr;
    QLabel* summary_ = nullptr;
    QWidget* trashLine_ = nullptr;
    QLabel* trashText_ = nullptr;
};

} // namespace Quandril::App
