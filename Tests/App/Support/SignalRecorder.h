#pragma once

// Records every signal an object's own class declares, in the order they arrive, each with a
// snapshot of whatever the test wants to see at that moment ("reportChanged report=1 scanning=0").

#include <functional>

#include <QObject>
#include <QStringList>

namespace Quandril::AppTesting {

class SignalRecorder : public QObject {
    Q_OBJECT

public:
    // `snapshot` is called at each signal; without one only the names are recorded.
    explicit SignalRecorder(QObject* source, std::function<QString()> snapshot = {});

    // "name" or "name snapshot", one per signal.
    const QStringList& entries() const { return entries_; }
    QStringList names() const;
    void clear() { entries_.clear(); }

private slots:
    void record();

private:
    std::function<QString()> snapshot_;
    QStringList entries_;
};

} // namespace Quandril::AppTesting
