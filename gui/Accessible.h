// What the window tells assistive technology (Qt's bridge to AT-SPI) about the
// controls Qt cannot describe itself: the pictures that act as buttons or tabs and the
// panel that opens the history chart. Names and roles come from app/AccessibleText.
#pragma once

class QWidget;

namespace raid::gui {

// Installs the descriptions for the window's own control kinds. Idempotent.
void installAccessibility();
// Gives each of the window's controls under `root` its accessible name.
void nameControls(QWidget* root);

}  // namespace raid::gui
