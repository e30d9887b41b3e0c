// The shapes, text and layer every picture of the Artwork is drawn with (ArtworkPaint.h).
#include "gui-win32/ArtworkPaint.h"

#include <cmath>
#include <vector>

namespace raid::win {

using namespace Gdiplus;

namespace art {

std::wstring oneLine(const std::wstring& caption) {
    std::wstring line = caption;
    for (wchar_t& c : line)
        if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) c = L' ';
    return line;
}

bool isEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

Color darker(const Color& c, int factor) {
    auto d = [factor](BYTE v) { return static_cast<BYTE>(std::clamp(v * 100 / factor, 0, 255)); };
    return Color(c.GetA(), d(c.GetR()), d(c.GetG()), d(c.GetB()));
}

Color mix(const Color& a, const Color& b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    auto m = [t](BYTE x, BYTE y) { return static_cast<BYTE>(std::lround(x + (y - x) * t)); };
    return Color(m(a.GetA(), b.GetA()), m(a.GetR(), b.GetR()), m(a.GetG(), b.GetG()), m(a.GetB(), b.GetB()));
}

Color lighter(const Color& c, int factor) {
    auto l = [factor](BYTE v) { return static_cast<BYTE>(std::clamp(v * factor / 100, 0, 255)); };
    return Color(c.GetA(), l(c.GetR()), l(c.GetG()), l(c.GetB()));
}

double saneScale(double scale) {
    if (!std::isfinite(scale)) return 1.0;
    return std::clamp(scale, 0.25, 8.0);
}

Layer::Layer(HDC dc, const RECT& rect, double scale) : dc_(dc), scale_(saneScale(scale)) {
    if (dc == nullptr || isEmpty(rect)) return;
    // No screen is this wide. A picture laid out for more is a caller's mistake (a
    // garbage rect), and is left undrawn rather than handing GDI+ coordinates where
    // floats lose their half pixels.
    constexpr LONG kLargest = 16384;
    if (static_cast<LONGLONG>(rect.right) - rect.left > kLargest ||
        static_cast<LONGLONG>(rect.bottom) - rect.top > kLargest)
        return;
    RECT visible{};
    const int clip = GetClipBox(dc, &visible);
    if (clip == NULLREGION) return;
    if (clip == ERROR) visible = rect;
    if (!IntersectRect(&shown_, &rect, &visible)) return;
    const LONG w = shown_.right - shown_.left, h = shown_.bottom - shown_.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down, as GDI+ lays out its rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dib_ = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    if (dib_ == nullptr || bits_ == nullptr) return;
    bitmap_ = std::make_unique<Bitmap>(w, h, w * 4, PixelFormat32bppPARGB, static_cast<BYTE*>(bits_));
    if (bitmap_->GetLastStatus() != Ok) return;
    auto graphics = std::make_unique<Graphics>(bitmap_.get());
    if (graphics->GetLastStatus() != Ok) return;
    graphics->SetSmoothingMode(SmoothingModeAntiAlias);
    // Pixel (0,0) covers 0..1 as in Qt, so the design's half-pixel lines are crisp.
    graphics->SetPixelOffsetMode(PixelOffsetModeHalf);
    graphics->SetTextRenderingHint(TextRenderingHintAntiAliasGridFit);
    graphics->SetCompositingQuality(CompositingQualityHighQuality);
    graphics->TranslateTransform(static_cast<REAL>(rect.left - shown_.left), static_cast<REAL>(rect.top - shown_.top));
    graphics->ScaleTransform(static_cast<REAL>(scale_), static_cast<REAL>(scale_));
    width_ = static_cast<float>((rect.right - rect.left) / scale_);
    height_ = static_cast<float>((rect.bottom - rect.top) / scale_);
    graphics_ = std::move(graphics);
}

Layer::~Layer() {
    graphics_.reset();
    bitmap_.reset();
    if (dib_ != nullptr) DeleteObject(dib_);
}

void Layer::fillOpaque(const Color& colour) {
    if (!graphics_) return;
    const UINT32 pixel = 0xFF000000u | (static_cast<UINT32>(colour.GetR()) << 16) |
                         (static_cast<UINT32>(colour.GetG()) << 8) | colour.GetB();
    const std::size_t count = static_cast<std::size_t>(shown_.right - shown_.left) *
                              static_cast<std::size_t>(shown_.bottom - shown_.top);
    std::fill_n(static_cast<UINT32*>(bits_), count, pixel);
}

void Layer::finish(BYTE opacity) {
    if (!graphics_) return;
    graphics_->Flush(FlushIntentionSync);
    graphics_.reset();
    bitmap_.reset();
    HDC mem = CreateCompatibleDC(dc_);
    if (mem == nullptr) return;
    HGDIOBJ old = SelectObject(mem, dib_);
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, opacity, AC_SRC_ALPHA};
    const int w = shown_.right - shown_.left, h = shown_.bottom - shown_.top;
    AlphaBlend(dc_, shown_.left, shown_.top, w, h, mem, 0, 0, w, h, blend);
    SelectObject(mem, old);
    DeleteDC(mem);
}

void addArc(std::vector<PointF>& points, PointF c, float rx, float ry, float fromDeg, float sweepDeg) {
    // A point every half design pixel or so: finer than any screen shows at 200 %.
    constexpr float kPi = 3.14159265f;
    const float length = std::abs(sweepDeg) / 360.0f * 2 * kPi * std::max(rx, ry);
    const int steps = std::clamp(static_cast<int>(std::ceil(length / 0.5f)), 4, 256);
    for (int i = 0; i <= steps; ++i) {
        const float a = (fromDeg + sweepDeg * static_cast<float>(i) / static_cast<float>(steps)) * kPi / 180.0f;
        points.emplace_back(c.X + rx * std::cos(a), c.Y + ry * std::sin(a));
    }
}

void addPolygon(GraphicsPath& path, const std::vector<PointF>& points) {
    if (points.size() >= 3) path.AddPolygon(points.data(), static_cast<INT>(points.size()));
}

void addRounded(GraphicsPath& path, const RectF& r, float radius) {
    radius = std::min({radius, r.Width / 2, r.Height / 2});
    if (radius <= 0.01f) {
        path.AddRectangle(r);
        return;
    }
    const float right = r.X + r.Width - radius, bottom = r.Y + r.Height - radius;
    std::vector<PointF> points;
    addArc(points, PointF(r.X + radius, r.Y + radius), radius, radius, 180, 90);
    addArc(points, PointF(right, r.Y + radius), radius, radius, 270, 90);
    addArc(points, PointF(right, bottom), radius, radius, 0, 90);
    addArc(points, PointF(r.X + radius, bottom), radius, radius, 90, 90);
    addPolygon(path, points);
}

void addEllipse(GraphicsPath& path, PointF c, float rx, float ry) {
    if (rx <= 0 || ry <= 0) return;
    std::vector<PointF> points;
    addArc(points, c, rx, ry, 0, 360);
    points.pop_back();  // the last point is the first
    addPolygon(path, points);
}

void fillEllipse(Graphics& g, const Brush& brush, PointF c, float rx, float ry) {
    GraphicsPath path;
    addEllipse(path, c, rx, ry);
    g.FillPath(&brush, &path);
}

void drawEllipse(Graphics& g, const Pen& pen, PointF c, float rx, float ry) {
    GraphicsPath path;
    addEllipse(path, c, rx, ry);
    g.DrawPath(&pen, &path);
}

void fillRounded(Graphics& g, const Brush& brush, const RectF& r, float radius) {
    if (r.Width <= 0 || r.Height <= 0) return;
    GraphicsPath path;
    addRounded(path, r, radius);
    g.FillPath(&brush, &path);
}

void drawRounded(Graphics& g, const Pen& pen, const RectF& r, float radius) {
    if (r.Width <= 0 || r.Height <= 0) return;
    GraphicsPath path;
    addRounded(path, r, radius);
    g.DrawPath(&pen, &path);
}

std::unique_ptr<LinearGradientBrush> vertical(const RectF& r, const Color& top, const Color& bottom) {
    const float h = std::max(r.Height, 0.01f);
    auto brush = std::make_unique<LinearGradientBrush>(PointF(r.X, r.Y), PointF(r.X, r.Y + h), top, bottom);
    // Beyond its ends the gradient mirrors instead of starting over, so the shape's
    // anti-aliased edge pixels keep the colour next to them.
    brush->SetWrapMode(WrapModeTileFlipXY);
    return brush;
}

std::unique_ptr<Pen> roundPen(const Color& c, float width) {
    auto pen = std::make_unique<Pen>(c, width);
    pen->SetLineCap(LineCapRound, LineCapRound, DashCapRound);
    pen->SetLineJoin(LineJoinRound);
    return pen;
}

void halo(Graphics& g, PointF c, float radius, const Color& colour, float solid) {
    if (radius <= 0) return;
    GraphicsPath disc;
    addEllipse(disc, c, radius, radius);
    PathGradientBrush brush(&disc);
    brush.SetCenterPoint(c);
    brush.SetCenterColor(colour);
    const Color rim = withAlpha(colour, 0);
    INT one = 1;
    brush.SetSurroundColors(&rim, &one);
    // The centre colour fills the inner share; the fade runs from there to the rim.
    // (Two colours and a focus, not a preset blend: Wine's GDI+ draws no preset blend.)
    brush.SetFocusScales(solid, solid);
    g.FillPath(&brush, &disc);
}

namespace {
// Arial where the system has it, else a sans-serif face it does have (Wine without
// Microsoft's fonts), so captions are never left undrawn for want of a family.
std::wstring familyName() {
    for (const wchar_t* name : {L"Arial", L"Liberation Sans", L"DejaVu Sans"}) {
        FontFamily family(name);
        if (family.IsAvailable()) return name;
    }
    GpFontFamily* generic = nullptr;
    WCHAR name[LF_FACESIZE] = L"Arial";
    if (DllExports::GdipGetGenericFontFamilySansSerif(&generic) == Ok && generic != nullptr) {
        DllExports::GdipGetFamilyName(generic, name, LANG_NEUTRAL);
        DllExports::GdipDeleteFontFamily(generic);
    }
    return name;
}
}  // namespace

void text(Graphics& g, const std::wstring& caption, const RectF& box, float pixelSize, bool bold, const Color& ink,
          Align align) {
    if (caption.empty() || box.Width <= 0.5f || box.Height <= 0.5f || pixelSize <= 0) return;
    static const std::wstring kFamily = familyName();
    const std::wstring line = oneLine(caption);
    const int length = static_cast<int>(std::min<std::size_t>(line.size(), 4096));
    FontFamily family(kFamily.c_str());
    const INT style = bold ? FontStyleBold : FontStyleRegular;
    StringFormat format(StringFormatFlagsNoWrap);
    format.SetAlignment(align == Align::Left    ? StringAlignmentNear
                        : align == Align::Right ? StringAlignmentFar
                                                : StringAlignmentCenter);
    format.SetLineAlignment(StringAlignmentCenter);
    format.SetTrimming(StringTrimmingEllipsisCharacter);
    format.SetHotkeyPrefix(HotkeyPrefixNone);

    // The largest size up to the design's that fits the box's height, and its width
    // down to three quarters of the design's; what is still too wide is cut.
    float size = std::min(pixelSize, box.Height / 1.15f);
    const float smallest = std::min(size, pixelSize * 0.75f);
    for (int tries = 0; tries < 4 && size > smallest; ++tries) {
        Font font(&family, size, style, UnitPixel);
        RectF need;
        if (g.MeasureString(line.c_str(), length, &font, PointF(0, 0), &format, &need) != Ok) break;
        if (need.Width <= box.Width) break;
        size = std::max(smallest, size * box.Width / need.Width * 0.98f);
    }
    if (size < 1.0f) return;
    Font font(&family, size, style, UnitPixel);
    SolidBrush brush(ink);
    // The layout box clips what is drawn (no StringFormatFlagsNoClip).
    g.DrawString(line.c_str(), length, &font, box, &format, &brush);
}

}  // namespace art

}  // namespace raid::win
