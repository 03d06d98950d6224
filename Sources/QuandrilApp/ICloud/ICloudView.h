#pragma once

// The main window's iCloud section. iCloud cleanup is opt-in: while "icloudEnabled" is off the
// section shows the intro (what switching on does, and the button that does it); while on, the
// results view. The section reads the switch again each time the model announces a change, and
// only then: a value written without an announcement shows at the next one. Each switch to "on"
// makes a new results view, so its drive, chunk size and sheet start afresh.

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Quandril::App {

class ICloudResults;
class Model;

class ICloudIntro : public QWidget {
    Q_OBJECT
public:
    explicit ICloudIntro(Model& model, QWidget* parent = nullptr);

    // Every text shown, top to bottom; the four points as "<symbol> <text>".
    QStringList texts() const;
    QPushButton* turnOnButton() const { return turnOn_; }

private:
    void turnOn();

    Model& model_;
    QWidget* content_;
    QPushButton* turnOn_;
};

class ICloudView : public QWidget {
    Q_OBJECT
public:
    explicit ICloudView(Model& model, QWidget* parent = nullptr);

    // The view shown now; exactly one of the two is not null.
    ICloudIntro* intro() const;
    ICloudResults* results() const;

private:
    void follow();

    Model& model_;
    QVBoxLayout* layout_;
    QPointer<ICloudIntro> intro_;
    QPointer<ICloudResults> results_;
};

} // namespace Quandril::App
