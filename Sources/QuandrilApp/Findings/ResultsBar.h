#pragma once

// The results band of the last clean-up or put-back the user started: "Last run" with "Dismiss",
// which forgets it; the mascot saying how much came back, when anything did; and one line per
// requested item with its outcome. It follows the model's last results by itself. The free-up
// view shows it only while there are results.

#include <cstdint>
#include <vector>

#include "QuandrilApp/Look/ResultsBand.h"
#include "QuandrilCore/Cleaning/Cleaner.h"

namespace Quandril::App {

class GorrinLine;
class Model;
class Preferences;

class ResultsBar : public ResultsBand {
    Q_OBJECT
public:
    explicit ResultsBar(Model& model, QWidget* parent = nullptr);

    // The bytes of the results that were done, held at the 64-bit limit; the others count nothing.
    static std::int64_t freedBytes(const std::vector<CleanResult>& results);
    // "Done. <bytes> back, all of it reversible from History.", or, when a result that was done
    // isn't in History, "Done. <bytes> back. Not all of it is in History; the lines below say why.",
    // and "None of it" in place of "Not all of it" when no result that was done is.
    static QString doneLine(const std::vector<CleanResult>& results, const Preferences& preferences);

    // One line of the bar: "<title>: <detail>" with its symbol and colour role.
    static ResultLine line(const CleanResult& result);

    // The mascot line; null while nothing came back.
    GorrinLine* mascotLine() const { return mascot_; }

private:
    void refresh();

    Model& model_;
    GorrinLine* mascot_ = nullptr;
};

} // namespace Quandril::App
