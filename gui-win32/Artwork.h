// The window's pictures, drawn with GDI+ at the size they are shown.
//
// Nothing is loaded from files: every button, tab, background and drive picture is
// drawn in code, in the look of the Qt window (gui/Artwork), so the program carries
// no image resources. Each function paints into `rect` of `dc` in device pixels;
// `scale` is the window's DPI over 96, by which every line width, radius and font
// size of the 96-DPI design is multiplied, so the pictures stay sharp at any scale.
#pragma once

#include <string>

#include <windows.h>

#include "monitor/StatusBays.h"

namespace raid::win {

enum class NavGlyph { Status, Tools, Upgrade, Email, About };

struct Artwork {
    // Starts GDI+ for the process (once; later calls do nothing). False when it failed:
    // the pictures are then plain GDI rectangles with their captions.
    static bool startup();
    // Ends GDI+ once the last picture has been drawn (a later picture starts it again).
    static void shutdown();
    // Draws the plain GDI pictures even while GDI+ runs: what a system where GDI+
    // cannot start shows (for tests of that fallback).
    static void setPlain(bool plainOnly);

    // The window background: header band with the product name, the navigation column
    // and the card the pages sit on (`oem`: the neutral variant). `rect` is the client area.
    static void background(HDC dc, const RECT& rect, double scale, bool oem);
    // A navigation button: amber when it is the current page, white otherwise.
    static void navButton(HDC dc, const RECT& rect, double scale, const std::wstring& caption, NavGlyph glyph,
                          bool highlighted, bool enabled);
    // A tab along the top of a page (device selectors, e-mail sub-pages).
    static void tab(HDC dc, const RECT& rect, double scale, const std::wstring& caption, bool selected, bool enabled);
    // A push button face; `primary` buttons are filled with the accent colour.
    static void pushButton(HDC dc, const RECT& rect, double scale, const std::wstring& caption, bool primary,
                           bool pressed, bool enabled);
    // A small square button carrying "+" or "-".
    static void signButton(HDC dc, const RECT& rect, double scale, bool plus, bool pressed, bool enabled);
    // The two-bay enclosure, front view (About page).
    static void enclosure(HDC dc, const RECT& rect, double scale);
    // The Status page's enclosure picture (Image0_Bays): each bay in its state and the
    // work between them. A view out of range draws the unknown enclosure.
    static void bays(HDC dc, const RECT& rect, double scale, const BaysView& view);
    // The icon "Z1" at `size` pixels, 16 to 256 (a size outside is drawn at the nearest);
    // the caller destroys it.
    static HICON icon(int size);
    // The window's typeface (Arial) at a 96-DPI pixel height times `scale` (cached for
    // the program's life, one per height and weight; the caller does not delete it).
    // Safe from any thread.
    static HFONT font(int pixelSize, bool bold, double scale);

    // Design sizes (96 DPI) the window lays out.
    static constexpr SIZE kNavSize{169, 44};
    static constexpr SIZE kBaysSize{369, 104};
    static constexpr int kBaysColumnWidth = 119;
};

}  // namespace raid::win
