#pragma once

// The results band of the last iCloud cleanup run: "Last run: <moved> of <total> out of iCloud,
// <bytes>", a "Dismiss" that forgets the run, and one line per file with its outcome. It follows
// the model's iCloud results by itself; the results view shows it only while there are results.

#include "QuandrilApp/Look/ResultsBand.h"

namespace Quandril::App {

class Model;

class CloudResultsBar : public ResultsBand {
    Q_OBJECT
public:
    explicit CloudResultsBar(Model& model, QWidget* parent = nullptr);

    QString summaryText() const { return title(); }

private:
    void refresh();

    Model& model_;
};

} // namespace Quandril::App
