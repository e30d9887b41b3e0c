// The window's pictures with GDI+: start-up, the window's own pictures (background,
// buttons, tabs, the enclosure, the icon), their plain GDI versions, and the fonts.
// The Status page's bays are in ArtworkBays.cpp, the layer, shapes and text every
// picture is drawn with in ArtworkPaint.cpp.
//
// Every picture is drawn in the design's 96-DPI units on an offscreen layer the size of
// what the DC can show of its rect, then blended onto the DC: the pictures have the
// Qt window's transparent rounded corners, a disabled control fades the same way, and
// nothing lands outside the rect whatever a shape or a caption does.
#include "gui-win32/Artwork.h"

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "gui-win32/ArtworkPaint.h"

namespace raid::win {

using namespace Gdiplus;
using art::Align;
using art::Layer;

namespace {

std::mutex gStartLock;
enum class Started { No, Yes, Failed };
Started gStarted = Started::No;
ULONG_PTR gToken = 0;
std::atomic<bool> gPlain{false};

// A disabled control's picture is shown faded, as the Qt window does (0.45).
constexpr BYTE kFaded = 115;

// ---- plain GDI, when GDI+ does not run ----

void plain(HDC dc, const RECT& r, double scale, COLORREF fill, COLORREF edge, COLORREF ink,
           const std::wstring& caption, bool bold) {
    if (art::isEmpty(r)) return;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    HBRUSH frame = CreateSolidBrush(edge);
    FrameRect(dc, &r, frame);
    DeleteObject(frame);
    if (!caption.empty()) {
        const std::wstring line = art::oneLine(caption);
        RECT t = r;
        InflateRect(&t, -2, -1);
        SelectObject(dc, Artwork::font(13, bold, scale));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, ink);
        DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &t,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    }
    RestoreDC(dc, saved);
}

// The header band with the product name and the navigation column, flat.
void plainBackground(HDC dc, const RECT& r, double scale, bool oem) {
    if (art::isEmpty(r)) return;
    plain(dc, r, scale, RGB(0xFF, 0xFF, 0xFF), RGB(0xFF, 0xFF, 0xFF), 0, L"", false);
    const double s = art::saneScale(scale);
    auto at = [s](double design) { return static_cast<LONG>(std::lround(design * s)); };
    const LONG header = std::min(r.bottom, r.top + at(60));
    plain(dc, RECT{r.left, r.top, r.right, header}, scale, oem ? RGB(0x3C, 0x40, 0x46) : RGB(0x1F, 0x3A, 0x5F),
          oem ? RGB(0x3C, 0x40, 0x46) : RGB(0x1F, 0x3A, 0x5F), RGB(0xFF, 0xFF, 0xFF),
          oem ? L"Storage Manager" : L"RAID GUI", true);
    const LONG rule = std::min(r.bottom, header + at(3));
    plain(dc, RECT{r.left, header, r.right, rule}, scale, oem ? RGB(0x9A, 0xA0, 0xA8) : RGB(0xF5, 0xB7, 0x00),
          oem ? RGB(0x9A, 0xA0, 0xA8) : RGB(0xF5, 0xB7, 0x00), 0, L"", false);
    const LONG column = std::min(r.right, r.left + at(201));
    plain(dc, RECT{r.left, rule, column, r.bottom}, scale, RGB(0xF2, 0xF5, 0xF9), RGB(0xF2, 0xF5, 0xF9), 0, L"", false);
}

// ---- the shared glyphs ----

void drawGlyph(Graphics& g, NavGlyph glyph, const RectF& r, const Color& ink) {
    auto pen = art::roundPen(ink, 2.0f);
    const PointF c(r.X + r.Width / 2, r.Y + r.Height / 2);
    const float left = r.X, top = r.Y, right = r.X + r.Width, bottom = r.Y + r.Height;
    switch (glyph) {
        case NavGlyph::Status: {
            // A pulse line inside a ring: "is everything alive".
            art::drawEllipse(g, *pen, c, r.Width / 2 - 1, r.Height / 2 - 1);
            const PointF pulse[] = {{left + 4, c.Y},     {c.X - 4, c.Y},      {c.X - 1, top + 6},
                                    {c.X + 2, bottom - 6}, {c.X + 5, c.Y}, {right - 4, c.Y}};
            g.DrawLines(pen.get(), pulse, 6);
            break;
        }
        case NavGlyph::Tools: {
            art::drawEllipse(g, *pen, c, r.Width / 2 - 3, r.Height / 2 - 3);
            art::drawEllipse(g, *pen, c, 3, 3);
            break;
        }
        case NavGlyph::Upgrade: {
            // A chip with an arrow rising out of it.
            const RectF chip(left + 4, c.Y - 1, r.Width - 8, r.Height / 2 - 2);
            art::drawRounded(g, *pen, chip, 2);
            for (int i = 0; i < 3; ++i) {
                const float x = chip.X + 4 + static_cast<float>(i) * (chip.Width - 8) / 2;
                g.DrawLine(pen.get(), x, chip.Y + chip.Height, x, chip.Y + chip.Height + 3);
            }
            g.DrawLine(pen.get(), c.X, chip.Y - 2, c.X, top + 2);
            g.DrawLine(pen.get(), c.X, top + 2, c.X - 4, top + 6);
            g.DrawLine(pen.get(), c.X, top + 2, c.X + 4, top + 6);
            break;
        }
        case NavGlyph::Email: {
            const RectF env(left + 1, top + 4, r.Width - 2, r.Height - 8);
            art::drawRounded(g, *pen, env, 2);
            const PointF flap[] = {{env.X + 1, env.Y + 1},
                                   {env.X + env.Width / 2, env.Y + env.Height / 2 + 1},
                                   {env.X + env.Width - 1, env.Y + 1}};
            g.DrawLines(pen.get(), flap, 3);
            break;
        }
        case NavGlyph::About: {
            art::drawEllipse(g, *pen, c, r.Width / 2 - 1, r.Height / 2 - 1);
            g.DrawLine(pen.get(), c.X, c.Y - 1, c.X, bottom - 5);
            SolidBrush dot(ink);
            art::fillEllipse(g, dot, PointF(c.X, top + 6), 1.2f, 1.2f);
            break;
        }
    }
}

// The two-bay box of the About page, the header and the icon, in `r` (design units).
void drawEnclosure(Graphics& g, const RectF& r) {
    if (r.Width <= 0 || r.Height <= 0) return;
    auto body = art::vertical(r, Color(0x4A, 0x55, 0x63), Color(0x2B, 0x33, 0x3D));
    art::fillRounded(g, *body, r, r.Height * 0.12f);
    Pen outline(Color(0x1A, 0x1F, 0x26), 1);
    art::drawRounded(g, outline, r, r.Height * 0.12f);
    // Two drive bays, each with its activity light.
    const float m = r.Height * 0.14f;
    const float bayH = (r.Height - 3 * m) / 2;
    if (bayH <= 0) return;
    for (int i = 0; i < 2; ++i) {
        const RectF bay(r.X + m, r.Y + m + static_cast<float>(i) * (bayH + m), r.Width - 2 * m, bayH);
        SolidBrush slot(Color(0x3A, 0x43, 0x4F));
        art::fillRounded(g, slot, bay, 2);
        Pen slotEdge(Color(0x16, 0x1A, 0x20), 1);
        art::drawRounded(g, slotEdge, bay, 2);
        Pen grille(Color(0x56, 0x61, 0x6F), 1);
        for (int k = 1; k <= 3; ++k) {
            const float x = bay.X + bay.Width * 0.12f * static_cast<float>(k);
            g.DrawLine(&grille, x, bay.Y + 2, x, bay.Y + bay.Height - 2);
        }
        const float led = std::max(2.0f, bayH * 0.18f);
        // Qt's glow reaches 1.6 times the light's radius: the light shows its inner part.
        const PointF at(bay.X + bay.Width - bayH * 0.5f, bay.Y + bay.Height / 2);
        GraphicsPath disc;
        art::addEllipse(disc, at, led, led);
        PathGradientBrush light(&disc);
        light.SetCenterPoint(at);
        light.SetCenterColor(Color(0x7C, 0xFF, 0x9A));
        const Color rim = art::mix(Color(0x7C, 0xFF, 0x9A), Color(0x1E, 0xA0, 0x4A), 1 / 1.6f);
        INT one = 1;
        light.SetSurroundColors(&rim, &one);
        g.FillPath(&light, &disc);
    }
}

// A button face with its shadow: the shape every button and tab shares.
void face(Graphics& g, const RectF& r, float radius, const Color& top, const Color& bottom, const Color& edge,
          bool shadow) {
    if (shadow) {
        SolidBrush soft(Color(30, 0, 0, 0));
        art::fillRounded(g, soft, RectF(r.X, r.Y + 1.5f, r.Width, r.Height), radius);
    }
    auto fill = art::vertical(r, top, bottom);
    art::fillRounded(g, *fill, r, radius);
    Pen pen(edge, 1);
    art::drawRounded(g, pen, r, radius);
}

}  // namespace

namespace art {
bool drawing() { return !gPlain.load() && Artwork::startup(); }
}  // namespace art


// ---- Artwork ----

bool Artwork::startup() {
    std::lock_guard<std::mutex> lock(gStartLock);
    if (gStarted == Started::No) {
        GdiplusStartupInput input;
        gStarted = GdiplusStartup(&gToken, &input, nullptr) == Ok ? Started::Yes : Started::Failed;
    }
    return gStarted == Started::Yes;
}

void Artwork::shutdown() {
    std::lock_guard<std::mutex> lock(gStartLock);
    if (gStarted == Started::Yes) GdiplusShutdown(gToken);
    gStarted = Started::No;
    gToken = 0;
}

void Artwork::setPlain(bool plainOnly) { gPlain = plainOnly; }

void Artwork::background(HDC dc, const RECT& rect, double scale, bool oem) {
    if (!art::drawing()) {
        plainBackground(dc, rect, scale, oem);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    const float w = layer.width(), h = layer.height();
    const float headerH = 60;
    layer.fillOpaque(art::kWhite);
    SolidBrush white(art::kWhite);

    // Header band with the product name.
    LinearGradientBrush band(PointF(0, 0), PointF(std::max(w, 1.0f), 0),
                             oem ? Color(0x3C, 0x40, 0x46) : art::kNavy, oem ? Color(0x6A, 0x70, 0x78) : art::kBlue);
    band.SetWrapMode(WrapModeTileFlipXY);
    g.FillRectangle(&band, 0.0f, 0.0f, w, headerH);
    // A faint arc gives the band some depth without noise. Only its lower part is in
    // the picture: the ellipse is cut at the top edge, which spares GDI+ filling the
    // much larger part above it.
    {
        std::vector<PointF> points;
        art::addArc(points, PointF(470, -140), 260, 190, 0, 360);
        for (PointF& p : points) p.Y = std::max(p.Y, -1.0f);
        GraphicsPath path;
        art::addPolygon(path, points);
        SolidBrush arc(Color(18, 255, 255, 255));
        g.FillPath(&arc, &path);
    }
    SolidBrush rule(oem ? Color(0x9A, 0xA0, 0xA8) : art::kAmber);
    g.FillRectangle(&rule, 0.0f, headerH, w, 3.0f);

    drawEnclosure(g, RectF(19, (headerH - 34) / 2 + 1, 42, 32));
    art::text(g, oem ? L"Storage Manager" : L"RAID GUI", RectF(74, 8, 300, 30), 24, true, art::kWhite, Align::Left);
    art::text(g, L"Dual-bay storage enclosure monitor", RectF(75, 36, 320, 18), 12, false, Color(190, 255, 255, 255),
              Align::Left);

    // Navigation column.
    SolidBrush panel(art::kPanel);
    g.FillRectangle(&panel, 0.0f, headerH + 3, 201.0f, h - headerH - 3);
    SolidBrush divider(Color(0xDD, 0xE3, 0xEA));
    g.FillRectangle(&divider, 201.0f, headerH + 3, 1.0f, h - headerH - 3);

    // The card the pages sit on (the page book is at 216,74 sized 385 x 321).
    const RectF card(210.5f, 69.5f, 396, 332);
    for (int i = 3; i >= 1; --i) {
        // Only the band outside the card shows (the card is opaque): a stroke over that
        // band costs GDI+ far less than filling the whole card three times.
        const float k = static_cast<float>(i), ring = k + 1;
        const RectF shadow(card.X - k, card.Y - k + 1, card.Width + 2 * k, card.Height + 2 * k);
        Pen pen(Color(static_cast<BYTE>(7 * (4 - i)), 0x1F, 0x3A, 0x5F), ring);
        art::drawRounded(g, pen,
                         RectF(shadow.X + ring / 2, shadow.Y + ring / 2, shadow.Width - ring, shadow.Height - ring),
                         10 + k - ring / 2);
    }
    art::fillRounded(g, white, card, 10);
    Pen cardEdge(Color(0xD5, 0xDD, 0xE7), 1);
    art::drawRounded(g, cardEdge, card, 10);
    layer.finish();
}

void Artwork::navButton(HDC dc, const RECT& rect, double scale, const std::wstring& caption, NavGlyph glyph,
                        bool highlighted, bool enabled) {
    if (!art::drawing()) {
        plain(dc, rect, scale, highlighted ? RGB(0xF5, 0xB7, 0x00) : RGB(0xFF, 0xFF, 0xFF),
              highlighted ? RGB(0xC8, 0x92, 0x00) : RGB(0xC3, 0xCC, 0xD8),
              enabled ? RGB(0x24, 0x36, 0x4D) : RGB(0x8A, 0x96, 0xA5), caption, true);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    const RectF r(1.5f, 1.5f, layer.width() - 3, layer.height() - 4);
    if (highlighted)
        face(g, r, 8, art::kAmberTop, art::kAmber, art::kAmberEdge, true);
    else
        face(g, r, 8, art::kWhite, Color(0xEA, 0xEF, 0xF5), art::kBorder, true);

    // The glyph sits in a disc at the left, the caption beside it.
    const RectF disc(r.X + 9, r.Y + r.Height / 2 - 13, 26, 26);
    SolidBrush discFill(highlighted ? Color(110, 255, 255, 255) : Color(0xDD, 0xE6, 0xF0));
    art::fillEllipse(g, discFill, PointF(disc.X + 13, disc.Y + 13), 13, 13);
    drawGlyph(g, glyph, RectF(disc.X + 4, disc.Y + 4, disc.Width - 8, disc.Height - 8),
              highlighted ? art::kAmberInk : art::kBlue);
    const float textLeft = disc.X + disc.Width + 10;
    art::text(g, caption, RectF(textLeft, r.Y, r.X + r.Width - 14 - textLeft, r.Height), 15, true,
              highlighted ? art::kAmberInk : art::kInk, Align::Left);
    if (highlighted) {
        // A small chevron says "you are here".
        const float x = r.X + r.Width - 14, y = r.Y + r.Height / 2;
        const PointF chevron[] = {{x - 3, y - 5}, {x + 2, y}, {x - 3, y + 5}};
        g.DrawLines(art::roundPen(art::kAmberInk, 2).get(), chevron, 3);
    }
    layer.finish(enabled ? 255 : kFaded);
}

void Artwork::tab(HDC dc, const RECT& rect, double scale, const std::wstring& caption, bool selected, bool enabled) {
    if (!art::drawing()) {
        plain(dc, rect, scale, selected ? RGB(0xF5, 0xB7, 0x00) : RGB(0xF0, 0xF3, 0xF7), RGB(0xC3, 0xCC, 0xD8),
              enabled ? RGB(0x24, 0x36, 0x4D) : RGB(0x8A, 0x96, 0xA5), caption, selected);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    const RectF r(0.5f, 0.5f, layer.width() - 1, layer.height() - 0.5f);
    const float k = std::min({6.0f, r.Width / 2, r.Height});
    // Rounded at the top, open at the bottom where it meets the page.
    GraphicsPath path;
    const float right = r.X + r.Width, bottom = r.Y + r.Height;
    std::vector<PointF> points{{r.X, bottom}};
    art::addArc(points, PointF(r.X + k, r.Y + k), k, k, 180, 90);
    art::addArc(points, PointF(right - k, r.Y + k), k, k, 270, 90);
    points.emplace_back(right, bottom);
    art::addPolygon(path, points);
    auto fill = selected ? art::vertical(r, art::kAmberTop, art::kAmber)
                         : art::vertical(r, art::kWhite, Color(0xE6, 0xEC, 0xF3));
    g.FillPath(fill.get(), &path);
    Pen edge(selected ? art::kAmberEdge : art::kBorder, 1);
    g.DrawPath(&edge, &path);
    art::text(g, caption, RectF(r.X + 3, r.Y, r.Width - 6, r.Height), 13, selected,
              selected ? art::kAmberInk : art::kInk);
    layer.finish(enabled ? 255 : kFaded);
}

void Artwork::pushButton(HDC dc, const RECT& rect, double scale, const std::wstring& caption, bool primary,
                         bool pressed, bool enabled) {
    if (!art::drawing()) {
        plain(dc, rect, scale, primary ? RGB(0x2E, 0x6D, 0xA4) : RGB(0xE4, 0xEA, 0xF1),
              primary ? RGB(0x1F, 0x3A, 0x5F) : RGB(0xB1, 0xB9, 0xC4),
              !enabled ? RGB(0x8A, 0x96, 0xA5) : primary ? RGB(0xFF, 0xFF, 0xFF) : RGB(0x24, 0x36, 0x4D), caption, true);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    // Pressed: the face sits down onto its shadow and darkens a little.
    const float down = pressed ? 1.0f : 0.0f;
    const RectF r(1, 1 + down, layer.width() - 2, layer.height() - 3);
    if (primary)
        face(g, r, 6, pressed ? art::kBlue : Color(0x3D, 0x84, 0xC4), pressed ? art::kNavy : art::kBlue, art::kNavy,
             !pressed);
    else
        face(g, r, 6, pressed ? Color(0xE4, 0xEA, 0xF1) : art::kWhite,
             pressed ? Color(0xD2, 0xDA, 0xE4) : Color(0xE4, 0xEA, 0xF1), art::darker(art::kBorder, 110), !pressed);
    art::text(g, caption, RectF(r.X + 4, r.Y, r.Width - 8, r.Height), 13, true, primary ? art::kWhite : art::kInk);
    layer.finish(enabled ? 255 : kFaded);
}

void Artwork::signButton(HDC dc, const RECT& rect, double scale, bool plus, bool pressed, bool enabled) {
    if (!art::drawing()) {
        plain(dc, rect, scale, RGB(0xE4, 0xEA, 0xF1), RGB(0xB1, 0xB9, 0xC4),
              !enabled ? RGB(0x8A, 0x96, 0xA5) : plus ? RGB(0x2E, 0x8B, 0x57) : RGB(0xC0, 0x39, 0x2B), plus ? L"+" : L"-",
              true);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    const RectF r(1, 1, layer.width() - 2, layer.height() - 2);
    face(g, r, 4, pressed ? Color(0xE4, 0xEA, 0xF1) : art::kWhite,
         pressed ? Color(0xD2, 0xDA, 0xE4) : Color(0xE4, 0xEA, 0xF1), art::darker(art::kBorder, 110), false);
    auto pen = art::roundPen(plus ? Color(0x2E, 0x8B, 0x57) : Color(0xC0, 0x39, 0x2B), 2.2f);
    const PointF c(r.X + r.Width / 2, r.Y + r.Height / 2);
    const float a = std::min(r.Width, r.Height) / 4;
    g.DrawLine(pen.get(), c.X - a, c.Y, c.X + a, c.Y);
    if (plus) g.DrawLine(pen.get(), c.X, c.Y - a, c.X, c.Y + a);
    layer.finish(enabled ? 255 : kFaded);
}

void Artwork::enclosure(HDC dc, const RECT& rect, double scale) {
    if (!art::drawing()) {
        plain(dc, rect, scale, RGB(0x3A, 0x43, 0x4F), RGB(0x1A, 0x1F, 0x26), RGB(0xFF, 0xFF, 0xFF), L"", false);
        return;
    }
    Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    drawEnclosure(layer.g(), RectF(1, 1, layer.width() - 2, layer.height() - 2));
    layer.finish();
}

HICON Artwork::icon(int size) {
    // Windows' icons run from 16 to 256 pixels; a size outside is drawn at the nearest.
    const int s = std::clamp(size, 16, 256);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = s;
    info.bmiHeader.biHeight = -s;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (colour == nullptr || bits == nullptr) return nullptr;
    auto* pixels = static_cast<UINT32*>(bits);
    if (art::drawing()) {
        // An icon's colours are not premultiplied: GDI+ draws straight ARGB here.
        Bitmap bitmap(s, s, s * 4, PixelFormat32bppARGB, static_cast<BYTE*>(bits));
        Graphics g(&bitmap);
        g.SetSmoothingMode(SmoothingModeAntiAlias);
        g.SetPixelOffsetMode(PixelOffsetModeHalf);
        const RectF tile(0, 0, static_cast<REAL>(s), static_cast<REAL>(s));
        auto fill = art::vertical(tile, art::kBlue, art::kNavy);
        art::fillRounded(g, *fill, tile, static_cast<float>(s) * 0.22f);
        // "Z1": the enclosure on a rounded blue tile, legible down to 16 px.
        const float bw = static_cast<float>(s * 3 / 4), bh = static_cast<float>(s * 9 / 16);
        const float bx = static_cast<float>((s - s * 3 / 4) / 2), by = static_cast<float>((s - s * 9 / 16) / 2);
        drawEnclosure(g, RectF(bx + 1, by + 1, bw - 2, bh - 2));
        g.Flush(FlushIntentionSync);
    } else {
        // Without GDI+: the tile and the box as plain squares.
        for (int y = 0; y < s; ++y)
            for (int x = 0; x < s; ++x) {
                const bool box = x >= s / 8 && x < s - s / 8 && y >= s * 7 / 32 && y < s - s * 7 / 32;
                pixels[y * s + x] = box ? 0xFF3A434Fu : 0xFF2E6DA4u;
            }
    }
    // The mask is unused where the colour bitmap has alpha, but must be there and clear.
    const std::size_t maskBytes = static_cast<std::size_t>((s + 15) / 16 * 2) * static_cast<std::size_t>(s);
    std::unique_ptr<BYTE[]> maskBits(new BYTE[maskBytes]());
    HBITMAP mask = CreateBitmap(s, s, 1, 1, maskBits.get());
    ICONINFO ii{};
    ii.fIcon = TRUE;
    ii.hbmColor = colour;
    ii.hbmMask = mask;
    HICON icon = mask != nullptr ? CreateIconIndirect(&ii) : nullptr;
    DeleteObject(colour);
    if (mask != nullptr) DeleteObject(mask);
    return icon;
}

namespace {
// The window's fonts for its lifetime: made once per size and weight, deleted when the
// program ends (the window keeps using them until then).
struct FontCache {
    std::mutex lock;
    std::map<std::pair<int, bool>, HFONT> fonts;
    ~FontCache() {
        for (auto& [key, font] : fonts) DeleteObject(font);
    }
};
FontCache& fontCache() {
    static FontCache cache;
    return cache;
}
}  // namespace

HFONT Artwork::font(int pixelSize, bool bold, double scale) {
    // Heights are kept to what a window can use, so that no size asked for makes the
    // cache grow without bound (at most 2 x 400 fonts).
    const double wanted = std::clamp(static_cast<double>(pixelSize), 1.0, 200.0) * art::saneScale(scale);
    const int height = std::clamp(static_cast<int>(std::lround(wanted)), 1, 400);
    FontCache& cache = fontCache();
    std::lock_guard<std::mutex> lock(cache.lock);
    HFONT& font = cache.fonts[{height, bold}];
    if (font == nullptr)
        font = CreateFontW(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Arial");
    if (font == nullptr) {
        cache.fonts.erase({height, bold});
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    return font;
}

}  // namespace raid::win
