// The window's pictures, painted once at start-up.
//
// Nothing here is loaded from files: every button, tab, background and drive picture
// is drawn with QPainter, so the program carries no image resources and looks the
// same on every desktop. Sizes are the ones the window lays out; callers never scale.
#pragma once

#include <QIcon>
#include <QFont>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace raid::gui {

enum class NavGlyph { Status, Tools, Upgrade, Email, About };

struct Artwork {
    static constexpr QSize kNavSize{169, 44};
    static constexpr QSize kBackgroundSize{620, 421};

    // A navigation button: amber when it is the current page, white otherwise.
    static QPixmap navButton(const QString& caption, NavGlyph glyph, bool highlighted);
    // A tab along the top of a page (device selectors, e-mail sub-pages).
    static QPixmap tab(const QString& caption, QSize size, bool selected);
    // A push button face; `primary` buttons are filled with the accent colour.
    static QPixmap pushButton(const QString& caption, QSize size, bool primary);
    // A small square button carrying "+" or "-".
    static QPixmap signButton(bool plus, QSize size);
    // The window background: header band with the product name, the navigation
    // column and the card the pages sit on. `oem` is the neutral variant.
    static QPixmap background(bool oem);
    // A 3.5" drive seen from above.
    static QPixmap drive(QSize size);
    // The bay a drive sits in on the Status page.
    static QPixmap bay(QSize size);
    // The two-bay enclosure, front view (About page, header).
    static QPixmap enclosure(QSize size);
    // Window and application icon "Z1".
    static QIcon icon();
    // One size of that icon, painted at `size` px (the desktop's icon theme gets these).
    static QPixmap iconPixmap(int size);
    // The window's typeface (Arial, sans-serif fallback) at a pixel size.
    static QFont font(int pixelSize, bool bold = false);
};

}  // namespace raid::gui
