// The colours every picture and page of the window shares, so the pieces read as one
// design.
#pragma once

#include <QColor>

namespace raid::gui::palette {

inline const QColor kInk(0x24, 0x36, 0x4D);
inline const QColor kBlue(0x2E, 0x6D, 0xA4);
inline const QColor kBorder(0xC3, 0xCC, 0xD8);
inline const QColor kAmber(0xF5, 0xB7, 0x00);
inline const QColor kAmberEdge(0xC8, 0x92, 0x00);

}  // namespace raid::gui::palette
