#pragma once

// The autopilot: when switched on, it keeps the startup drive at its goal by cleaning what rebuilds
// itself, and tells the user what it freed. Views read its last note and hear `changed()`.

#include <optional>

#include <QObject>
#include <QString>

#include "QuandrilApp/Platform/AppClock.h"

namespace Quandril::App {

class Autopilot : public QObject {
    Q_OBJECT

public:
    explicit Autopilot(QObject* parent = nullptr);

    // The sentence written at the end of the latest run; absent until the first run. Not stored.
    const std::optional<QString>& lastRunNote() const { return lastRunNote_; }
    // When the latest run started; restored from "autopilotLastRunAt".
    const std::optional<TimePoint>& lastRunAt() const { return lastRunAt_; }

signals:
    // After lastRunNote or lastRunAt changed.
    void changed();

protected:
    std::optional<QString> lastRunNote_;
    std::optional<TimePoint> lastRunAt_;
};

} // namespace Quandril::App
