#pragma once

// "Good to know", the last section of the findings list: the scan's notes as written, and the
// folders it did not look into because a cloud drive syncs them. Absent (no rows at all) when the
// report has neither.

#include <QStringList>
#include <QWidget>

#include "QuandrilCore/Machine/Mac.h"
#include "QuandrilCore/Values/Model.h"

namespace Quandril::App {

class NotesSection : public QWidget {
    Q_OBJECT

public:
    NotesSection(const ScanReport& report, const Mac& mac, QWidget* parent = nullptr);

    // Whether the section shows anything for this report.
    static bool hasContent(const ScanReport& report, const Mac& mac);
    const QStringList& lines() const { return lines_; }

private:
    QStringList lines_;
};

} // namespace Quandril::App
