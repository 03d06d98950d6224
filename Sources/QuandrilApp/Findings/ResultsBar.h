#pragma once

// The last clean-up or put-back the user started: "Last run" with "Dismiss", which forgets it; the
// mascot saying how much came back, when anything did; and one line per requested item with its
// outcome, each on one line. It follows the model's last results by itself. The lines scroll
// within a height of a few lines, so a clean-up of many findings never takes the window from the
// list above it. The free-up view shows it only while there are results.

#include <cstdint>
#include <vector>

#include <QStringList>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ResultLines.h"
#include "QuandrilCore/Cleaner.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Quandril::App {

class GorrinLine;
class Model;
class Preferences;

class ResultsBar : public Band {
    Q_OBJECT
public:
    explicit ResultsBar(Model& model, QWidget* parent = nullptr);

    // The bytes of the results that were done, held at the 64-bit limit; the others count nothing.
    static std::int64_t freedBytes(const std::vector<CleanResult>& results);
    // "Done. <bytes> back, all of it reversible from History.", or, when a result that was done
    // isn't in History, "Done. <bytes> back. Not all of it is in History; the lines below say why."
    static QString doneLine(const std::vector<CleanResult>& results, const Preferences& preferences);

    // One line of the bar: "<title>: <detail>" with its symbol and colour role.
    static ResultLine line(const CleanResult& result);

    // The mascot line; null while nothing came back.
    GorrinLine* mascotLine() const { return mascot_; }
    // One "<symbol> <tone> | <text>" per line, in result order.
    QStringList lines() const;
    QPushButton* dismissButton() const { return dismiss_; }
    // The lines' scrolling, never taller than `maxShownLines` lines.
    QScrollArea* list() const { return scroll_; }
    ResultLines* linesBox() const { return linesBox_; }
    static constexpr int maxShownLines = 3;

private:
    void refresh();

    Model& model_;
    QPushButton* dismiss_;
    QVBoxLayout* body_;
    QScrollArea* scroll_;
    GorrinLine* mascot_ = nullptr;
    ResultLines* linesBox_ = nullptr;
};

} // namespace Quandril::App
