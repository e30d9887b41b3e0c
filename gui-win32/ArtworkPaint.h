// What the picture units of the Artwork share (Artwork.cpp, ArtworkBays.cpp): the
// layer a picture is drawn on, the palette and the GDI+ shapes every picture uses.
// Not for the rest of the window: it draws through gui-win32/Artwork.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <algorithm>

#include <windows.h>
// GDI+ needs COM's declarations, which WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>
#include <gdiplus.h>

namespace raid::win::art {

using Gdiplus::Color;
using Gdiplus::PointF;
using Gdiplus::RectF;

// One palette for every picture, so the pieces read as one design (the Qt window's).
inline const Color kNavy{0x1F, 0x3A, 0x5F};
inline const Color kBlue{0x2E, 0x6D, 0xA4};
inline const Color kInk{0x24, 0x36, 0x4D};
inline const Color kBorder{0xC3, 0xCC, 0xD8};
inline const Color kPanel{0xF2, 0xF5, 0xF9};
inline const Color kAmber{0xF5, 0xB7, 0x00};
inline const Color kAmberTop{0xFF, 0xDA, 0x6A};
inline const Color kAmberEdge{0xC8, 0x92, 0x00};
inline const Color kAmberInk{0x3A, 0x2A, 0x00};
inline const Color kWhite{0xFF, 0xFF, 0xFF};

inline Color withAlpha(const Color& c, int alpha) {
    return Color(static_cast<BYTE>(std::clamp(alpha, 0, 255)), c.GetR(), c.GetG(), c.GetB());
}
// Qt's QColor::darker(f) for the few edges that use it.
Color darker(const Color& c, int factor);
Color lighter(const Color& c, int factor);
// Between `a` (t = 0) and `b` (t = 1).
Color mix(const Color& a, const Color& b, float t);

// A caption as one line: control characters (line breaks, tabs, bells) become spaces.
std::wstring oneLine(const std::wstring& caption);
bool isEmpty(const RECT& r);

// The scale a picture is drawn at: DPI over 96, kept to what a screen can have so
// that a wrong value (0, negative, NaN, a million) still draws something sane.
double saneScale(double scale);

// Whether the pictures are drawn with GDI+ (started, and not turned off for tests).
bool drawing();

// A picture's offscreen layer: the part of `rect` the DC can show (its clip box), as a
// premultiplied 32-bit DIB that GDI+ draws on in 96-DPI design units (origin at the
// rect's top left, `scale` device pixels per unit). finish() blends it onto the DC,
// so nothing outside `rect` is touched and transparent corners keep what was there.
class Layer {
public:
    Layer(HDC dc, const RECT& rect, double scale);
    ~Layer();
    Layer(const Layer&) = delete;
    Layer& operator=(const Layer&) = delete;

    // False when there is nothing to draw (an empty rect, nothing visible, no memory).
    bool ok() const { return graphics_ != nullptr; }
    Gdiplus::Graphics& g() { return *graphics_; }
    // The rect's size in design units.
    float width() const { return width_; }
    float height() const { return height_; }
    double scale() const { return scale_; }
    // Fills the whole layer with an opaque colour, before anything is drawn on it:
    // straight into its pixels, much faster than GDI+ filling a window-sized area.
    void fillOpaque(const Color& colour);
    // Blends the picture onto the DC at `opacity` (255: as drawn; less: faded, for a
    // disabled control).
    void finish(BYTE opacity = 255);

private:
    HDC dc_;
    RECT shown_{};
    HBITMAP dib_ = nullptr;
    void* bits_ = nullptr;
    std::unique_ptr<Gdiplus::Bitmap> bitmap_;
    std::unique_ptr<Gdiplus::Graphics> graphics_;
    float width_ = 0, height_ = 0;
    double scale_ = 1;
};

// Curves are made polygons here, a point every half design pixel: Wine's GDI+
// flattens curves before it scales them (a small circle at 200 % shows corners) and
// recurses out of stack flattening large ones; the same polygons look the same on
// Windows. An arc's points are appended to `points`; angles in degrees, clockwise
// from three o'clock as GDI+ counts them.
void addArc(std::vector<PointF>& points, PointF c, float rx, float ry, float fromDeg, float sweepDeg);
void addPolygon(Gdiplus::GraphicsPath& path, const std::vector<PointF>& points);
// Ellipses by their centre and radii.
void addEllipse(Gdiplus::GraphicsPath& path, PointF c, float rx, float ry);
void fillEllipse(Gdiplus::Graphics& g, const Gdiplus::Brush& brush, PointF c, float rx, float ry);
void drawEllipse(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, PointF c, float rx, float ry);
// A rounded rectangle as Qt draws it (absolute radii, no more than half a side).
void addRounded(Gdiplus::GraphicsPath& path, const RectF& r, float radius);
void fillRounded(Gdiplus::Graphics& g, const Gdiplus::Brush& brush, const RectF& r, float radius);
void drawRounded(Gdiplus::Graphics& g, const Gdiplus::Pen& pen, const RectF& r, float radius);
// A top-to-bottom gradient over `r` that does not wrap round at its edges.
std::unique_ptr<Gdiplus::LinearGradientBrush> vertical(const RectF& r, const Color& top, const Color& bottom);
// A pen with round caps and joins.
std::unique_ptr<Gdiplus::Pen> roundPen(const Color& c, float width);
// A disc of `colour` that fades out towards its rim: solid out to `solid` of the
// radius, transparent at the rim.
void halo(Gdiplus::Graphics& g, PointF centre, float radius, const Color& colour, float solid);

enum class Align { Left, Center, Right };
// One line of text in `box` (design units), vertically centred, never outside the box:
// a caption too wide is drawn smaller (down to three quarters), then cut with "…";
// control characters show as spaces. Anti-aliased, not ClearType (the layer has alpha).
void text(Gdiplus::Graphics& g, const std::wstring& caption, const RectF& box, float pixelSize, bool bold,
          const Color& ink, Align align = Align::Center);

}  // namespace raid::win::art
