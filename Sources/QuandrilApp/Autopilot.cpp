#include "QuandrilApp/Autopilot.h"

namespace Quandril::App {

Autopilot::Autopilot(QObject* parent)
    : QObject(parent)
{
}

} // namespace Quandril::App
