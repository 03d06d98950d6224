#pragma once

// Sheets: dialogs that come down over the window they belong to and keep the user in them until
// they close. Each is window-modal, opened with open() (never exec), a new one each time, and gone
// once it closes. Return does the sheet's main action while its button is enabled; Escape, closing
// the window or "Cancel" change nothing.
//
// Also the window-wide Return key of a view whose main action sits in its footer.

#include <functional>
#include <vector>

class QDialog;
class QObject;
class QPushButton;
class QShortcut;
class QWidget;

namespace Quandril::App::Sheet {

// Makes `sheet` window-modal, `main` its default button and `cancel` its way out. Neither button
// takes Return by merely having the focus.
void setUp(QDialog& sheet, QPushButton& cancel, QPushButton& main);

// Opens `sheet` over its parent's window; once it closes it is deleted and `closed` runs, unless
// `context` has gone first.
void open(QDialog* sheet, const QObject* context, std::function<void()> closed);

// Return and Enter anywhere in `scope`'s window run `action` (held down, once). The two shortcuts
// are `scope`'s children; disabling them stops the keys.
std::vector<QShortcut*> returnKeys(QWidget* scope, std::function<void()> action);

} // namespace Quandril::App::Sheet
