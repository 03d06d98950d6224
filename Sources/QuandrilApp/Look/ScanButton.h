#pragma once

// "Scan again" with its symbol; while a scan runs, a turning spinner in place of both, and the
// button disabled.

#include <QPushButton>

namespace Quandril::App {

class Spinner;

class ScanButton : public QPushButton {
    Q_OBJECT
public:
    explicit ScanButton(QWidget* parent = nullptr);

    void setScanning(bool scanning);

private:
    Spinner* spinner_;
};

} // namespace Quandril::App
