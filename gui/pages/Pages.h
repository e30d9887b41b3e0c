// The window's pages, one unit each: each lays out its controls on its page of the
// page book through the shared builder. What the controls show comes from the engine.
#pragma once

class QWidget;

namespace raid::gui {

class PageBuilder;

// Page 0: mode, capacity, firmware, the enclosure picture with each drive's name,
// capacity and model under its bay, the centre status, fan and temperature.
void buildStatusPage(PageBuilder& b, QWidget* page);
// Page 2: firmware version, image file, progress and the upgrade button.
void buildUpgradePage(PageBuilder& b, QWidget* page);
// Page 3: the mail server settings and the two alert kinds' recipients and texts.
void buildEmailPage(PageBuilder& b, QWidget* page);
// Page 4: name and version.
void buildAboutPage(PageBuilder& b, QWidget* page);

}  // namespace raid::gui
