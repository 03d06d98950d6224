#pragma once

// The Drives section: one card per mounted drive, in the order the machine lists them, each with
// the drive's gauge and its goal picker, so every goal can be seen and set in one place. Coming
// on screen it reads the drives again (no scan).

#include <vector>

#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"

class QVBoxLayout;

namespace Quandril::App {

class DriveGauge;
class GoalPicker;

class DrivesView : public QWidget {
    Q_OBJECT

public:
    explicit DrivesView(AppServices& services, QWidget* parent = nullptr);

    struct Card {
        QWidget* frame = nullptr;
        DriveGauge* gauge = nullptr;
        GoalPicker* goalPicker = nullptr;
    };
    const std::vector<Card>& cards() const { return cards_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppServices& services_;
    QVBoxLayout* column_ = nullptr;
    std::vector<Card> cards_;
};

} // namespace Quandril::App
