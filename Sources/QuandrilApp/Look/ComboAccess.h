#pragma once

// A picker that assistive tools name by its label. On Linux Qt names a combo box by the item it
// shows (its label is only a "labelled by" relation), so a screen reader announces "5 GB" where the
// window says "A chunk at a time". A picker named here answers its label as its name and the item
// it shows as its value; its list and its actions stay as they were.

class QComboBox;
class QString;

namespace Quandril::App::Look {

void nameByLabel(QComboBox& picker, const QString& label);

} // namespace Quandril::App::Look
