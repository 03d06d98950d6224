#pragma once

// The first section of the findings list: the routes toward the drive's goal. A heading with the
// goal and the free space now, one row per route (whether it reaches the goal, its title, what it
// frees and leaves free, and "Choose", which makes its findings the whole selection), the line on
// the Trash and the plan's notes.

#include <vector>

#include <QWidget>

#include "QuandrilApp/Model/AppServices.h"
#include "QuandrilCore/Scanning/Planner.h"

class QPushButton;

namespace Quandril::App {

class RoutesSection : public QWidget {
    Q_OBJECT

public:
    RoutesSection(AppServices& services, Plan plan, QWidget* parent = nullptr);

    const Plan& plan() const { return plan_; }
    // One "Choose" button per route, in the plan's order.
    const std::vector<QPushButton*>& chooseButtons() const { return choose_; }

private:
    AppServices& services_;
    Plan plan_;
    std::vector<QPushButton*> choose_;
};

} // namespace Quandril::App
