#pragma once

// The accessibility tree as an assistive tool walks it, from the application down.

#include <QAccessible>
#include <QStringList>

class QObject;

namespace Quandril::AppTesting {

// The application's accessible child that stands for `object` (an open window or popup), checked
// to name the application as its parent; null when the application doesn't list it.
QAccessibleInterface* applicationChild(const QObject* object);

// The visible part of the tree below `root`, one line per object, indented by depth:
// "<role> <name> [<actions>]", the role by its enum name and the actions only where there are some.
QStringList accessibleTree(QAccessibleInterface* root);

} // namespace Quandril::AppTesting
