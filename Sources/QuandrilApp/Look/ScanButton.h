#pragma once

// "Scan again" with its symbol; while a scan runs, a turning spinner in place of both, and the
// button disabled.

#include <string>

#include <QPushButton>
#include <QString>

namespace Quandril::App {

class Spinner;

class ScanButton : public QPushButton {
    Q_OBJECT
public:
    explicit ScanButton(QWidget* parent = nullptr);

    void setScanning(bool scanning);

    // What a view says of a scan that ended without a result: "<scan> didn't finish. <reason>
    // Press "Scan again" to try once more.", the reason ended with a full stop.
    static QString failedLine(const QString& scan, const std::string& reason);

private:
    Spinner* spinner_;
};

} // namespace Quandril::App
