#pragma once

// Popups within reach of assistive tools. Qt's accessibility tree leaves popup windows out of the
// application's children, so a screen reader walking down from the application never meets a
// panel or menu while it is open. Once installed, the application's accessible object lists,
// after its other windows, every visible popup made without a parent widget: its accessible parent
// is the application, so the tree reads the same both ways.

class QWidget;

namespace Quandril::App::Look {

// Installs the application's accessible object; call once the application exists and before any
// popup opens (later calls do nothing).
void reachOpenPopups();

// A parentless popup panel of controls: reachable while open (as above), and announced as a
// window named by its title rather than as a nameless pane.
void exposePopupPanel(QWidget& panel);

} // namespace Quandril::App::Look
