#pragma once

// The last iCloud cleanup run: "Last run: <moved> of <total> out of iCloud, <bytes>", a "Dismiss"
// that forgets the run, and one line per file with its outcome (at most 120 points tall, then it
// scrolls). It follows the model's iCloud results by itself; the results view shows it only while
// there are results.

#include <QStringList>

#include "QuandrilApp/Look/Look.h"
#include "QuandrilApp/Look/ResultLines.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace Quandril::App {

class Model;

class CloudResultsBar : public Band {
    Q_OBJECT
public:
    explicit CloudResultsBar(Model& model, QWidget* parent = nullptr);

    QString summaryText() const;
    // One "<symbol> <tone> | <title>: <detail>" per line, in run order.
    QStringList lines() const;
    QPushButton* dismissButton() const { return dismiss_; }
    QScrollArea* list() const { return scroll_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void fitList();

    Model& model_;
    QLabel* summary_;
    QPushButton* dismiss_;
    QScrollArea* scroll_;
    ResultLines* linesBox_ = nullptr;
};

} // namespace Quandril::App
