// Image0_Bays with GDI+: the enclosure on the Status page, its two drive bays each in
// the state the engine reports, and the work running between them (a rebuild with its
// direction, a surface scan on one bay, the hybrid cache flush), as the Qt window
// draws it (gui/pages/BaysPicture).
#include <algorithm>
#include <string>

#include "gui-win32/Artwork.h"
#include "gui-win32/ArtworkPaint.h"

namespace raid::win {

using namespace Gdiplus;
using art::Align;

namespace {

// One colour per meaning: green is healthy, red failed, amber a rebuild under way,
// blue the controller's own work (scan, flush).
const Color kMuted(0x8A, 0x96, 0xA5);
const Color kGreen(0x2E, 0xAD, 0x5B);
const Color kRed(0xD6, 0x45, 0x41);
const Color kTrack(0xE1, 0xE6, 0xEC);

constexpr float kColumn = static_cast<float>(Artwork::kBaysColumnWidth);
constexpr float kWorkRow = 52;  // the row the arrows between the bays run along

enum class Glyph { Hdd, Ssd };

// A disc with a white mark: the verdict at a glance.
void badge(Graphics& g, PointF c, float r, const Color& fill, bool check) {
    SolidBrush disc(fill);
    art::fillEllipse(g, disc, c, r, r);
    auto mark = art::roundPen(art::kWhite, r * 0.24f);
    if (check) {
        const PointF tick[] = {{c.X - r * 0.45f, c.Y + r * 0.02f},
                               {c.X - r * 0.12f, c.Y + r * 0.35f},
                               {c.X + r * 0.48f, c.Y - r * 0.32f}};
        g.DrawLines(mark.get(), tick, 3);
    } else {
        g.DrawLine(mark.get(), c.X, c.Y - r * 0.5f, c.X, c.Y + r * 0.12f);
        SolidBrush dot(art::kWhite);
        const float d = r * 0.14f;
        art::fillEllipse(g, dot, PointF(c.X, c.Y + r * 0.47f), d, d);
    }
}

void led(Graphics& g, PointF c, const Color& colour, bool lit) {
    // Lit, it glows out to twice its radius (its lighter core is under the dot).
    if (lit) art::halo(g, c, 6, colour, 0.5f);
    SolidBrush dot(lit ? colour : Color(0xC4, 0xCB, 0xD4));
    art::fillEllipse(g, dot, c, 3, 3);
}

// The drive's kind on its tray: a platter for an HDD, a chip for the SSD.
void glyph(Graphics& g, PointF c, Glyph kind, const Color& ink) {
    Pen pen(ink, 1.4f);
    if (kind == Glyph::Hdd) {
        art::drawEllipse(g, pen, c, 12, 12);
        SolidBrush hub(ink);
        art::fillEllipse(g, hub, c, 2.5f, 2.5f);
        g.DrawLine(&pen, c.X + 9, c.Y + 10, c.X + 3, c.Y + 3);
        return;
    }
    const RectF chip(c.X - 9, c.Y - 9, 18, 18);
    art::drawRounded(g, pen, chip, 2);
    g.DrawRectangle(&pen, chip.X + 5, chip.Y + 5, chip.Width - 10, chip.Height - 10);
    const float bottom = chip.Y + chip.Height, right = chip.X + chip.Width;
    for (int i = 0; i < 3; ++i) {
        const float o = -5.0f + 5.0f * static_cast<float>(i);
        g.DrawLine(&pen, c.X + o, chip.Y, c.X + o, chip.Y - 3);
        g.DrawLine(&pen, c.X + o, bottom, c.X + o, bottom + 3);
        g.DrawLine(&pen, chip.X, c.Y + o, chip.X - 3, c.Y + o);
        g.DrawLine(&pen, right, c.Y + o, right + 3, c.Y + o);
    }
}

// Fills from the left, or from the right when `fromRight` (a copy running leftwards).
void progressTrack(Graphics& g, const RectF& r, int percent, const Color& fill, bool fromRight = false) {
    if (r.Width <= 0 || r.Height <= 0) return;
    SolidBrush track(kTrack);
    art::fillRounded(g, track, r, r.Height / 2);
    // The record's byte can say more than 100; the bar stops at full.
    const float share = static_cast<float>(std::clamp(percent, 0, 100)) / 100.0f;
    if (share <= 0) return;
    RectF done = r;
    done.Width = std::min(r.Width, std::max(r.Height, r.Width * share));
    if (fromRight) done.X = r.X + r.Width - done.Width;
    SolidBrush bar(fill);
    art::fillRounded(g, bar, done, r.Height / 2);
}

void percentText(Graphics& g, const RectF& r, int percent, const Color& ink, float pixelSize) {
    art::text(g, std::to_wstring(percent) + L"%", r, pixelSize, true, ink);
}

// A horizontal arrow from `from` to `to` (the head at `to`).
void arrow(Graphics& g, PointF from, PointF to, const Color& colour) {
    const float dir = to.X > from.X ? 1.0f : -1.0f;
    auto shaft = art::roundPen(colour, 4);
    g.DrawLine(shaft.get(), from.X, from.Y, to.X - dir * 8, to.Y);
    const PointF head[] = {to, {to.X - dir * 13, to.Y - 8}, {to.X - dir * 13, to.Y + 8}};
    SolidBrush fill(colour);
    g.FillPolygon(&fill, head, 3);
    g.DrawPolygon(art::roundPen(colour, 1.5f).get(), head, 3);
}

struct BayPaint {
    BayLook look = BayLook::Unknown;
    Glyph kind = Glyph::Hdd;
    bool rebuildTarget = false;
    bool scanned = false;
    int percent = 0;
};

void drawBay(Graphics& g, const RectF& slot, const BayPaint& b) {
    if (slot.Width <= 0 || slot.Height <= 0) return;
    // The recess every bay has, drive or not.
    auto recess = art::vertical(slot, Color(0xD9, 0xDF, 0xE6), Color(0xE6, 0xEA, 0xEF));
    art::fillRounded(g, *recess, slot, 7);
    Pen recessEdge(Color(0xB4, 0xBE, 0xCA), 1);
    art::drawRounded(g, recessEdge, slot, 7);

    const RectF tray(slot.X + 4, slot.Y + 4, slot.Width - 8, slot.Height - 8);
    const float trayRight = tray.X + tray.Width, trayBottom = tray.Y + tray.Height;
    const PointF glyphAt(tray.X + 40, tray.Y + tray.Height / 2);
    const PointF ledAt(trayRight - 10, trayBottom - 10);

    switch (b.look) {
        case BayLook::Unknown:
            art::text(g, L"?", slot, 24, true, kMuted);
            return;
        case BayLook::Empty:
            // Nothing is known to be in it: the bare recess says so.
            return;
        case BayLook::Absent: {
            // The drive that was here has gone: its outline stays, greyed.
            Pen dashed(Color(0xA8, 0xB3, 0xC0), 1.2f);
            const REAL pattern[] = {4, 2};
            dashed.SetDashPattern(pattern, 2);
            art::drawRounded(g, dashed, tray, 5);
            glyph(g, glyphAt, b.kind, Color(0xB8, 0xC1, 0xCC));
            led(g, ledAt, kGreen, false);
            return;
        }
        case BayLook::Present:
        case BayLook::Failed:
            break;
    }

    const bool failed = b.look == BayLook::Failed;
    auto face = failed ? art::vertical(tray, Color(0xFF, 0xF3, 0xF2), Color(0xF8, 0xD8, 0xD6))
                       : art::vertical(tray, art::kWhite, Color(0xE8, 0xED, 0xF3));
    art::fillRounded(g, *face, tray, 5);
    Pen edge(failed ? kRed : Color(0xA3, 0xAF, 0xBD), failed ? 1.6f : 1.0f);
    if (b.rebuildTarget) {
        edge.SetColor(art::kAmber);
        edge.SetWidth(2.2f);
    }
    art::drawRounded(g, edge, tray, 5);

    // Grip ridges at the tray's handle.
    auto ridge = art::roundPen(failed ? Color(0xE2, 0xA5, 0xA2) : Color(0xC3, 0xCC, 0xD8), 1.2f);
    for (int i = 0; i < 3; ++i) {
        const float x = tray.X + 9 + 4 * static_cast<float>(i);
        if (trayBottom - 12 > tray.Y + 12) g.DrawLine(ridge.get(), x, tray.Y + 12, x, trayBottom - 12);
    }
    glyph(g, glyphAt, b.kind, failed ? kRed : Color(0x6B, 0x7A, 0x8C));

    if (failed) {
        led(g, ledAt, kRed, true);
        return;
    }
    if (b.scanned) {
        percentText(g, RectF(tray.X + 56, tray.Y + 8, tray.Width - 60, tray.Height - 26), b.percent, art::kBlue, 15);
        progressTrack(g, RectF(tray.X + 8, trayBottom - 11, tray.Width - 30, 5), b.percent, art::kBlue);
        led(g, ledAt, art::kBlue, true);
        return;
    }
    led(g, ledAt, b.rebuildTarget ? art::kAmber : kGreen, true);
}

// Without GDI+: each bay a box in its state's colour, the work as its words.
void plainBays(HDC dc, const RECT& rect, double scale, const BaysView& v) {
    if (rect.right <= rect.left || rect.bottom <= rect.top) return;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, rect.left, rect.top, rect.right, rect.bottom);
    HBRUSH front = CreateSolidBrush(RGB(0xF2, 0xF5, 0xF9));
    FillRect(dc, &rect, front);
    DeleteObject(front);
    const int col = static_cast<int>(kColumn * art::saneScale(scale));
    const int inset = static_cast<int>(8 * art::saneScale(scale));
    auto fillFor = [](BayLook look) {
        switch (look) {
            case BayLook::Present: return RGB(0xFF, 0xFF, 0xFF);
            case BayLook::Failed: return RGB(0xF8, 0xD8, 0xD6);
            case BayLook::Absent: return RGB(0xE6, 0xEA, 0xEF);
            case BayLook::Empty: return RGB(0xD9, 0xDF, 0xE6);
            case BayLook::Unknown: break;
        }
        return RGB(0xC4, 0xCB, 0xD4);
    };
    const RECT bays[2] = {{rect.left + inset, rect.top + inset, rect.left + col - inset, rect.bottom - inset},
                          {rect.right - col + inset, rect.top + inset, rect.right - inset, rect.bottom - inset}};
    SelectObject(dc, Artwork::font(15, true, scale));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0x24, 0x36, 0x4D));
    for (int i = 0; i < 2; ++i) {
        HBRUSH b = CreateSolidBrush(fillFor(v.bay[i]));
        FillRect(dc, &bays[i], b);
        DeleteObject(b);
        RECT t = bays[i];
        if (v.bay[i] == BayLook::Unknown)
            DrawTextW(dc, L"?", 1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    std::wstring words;
    switch (v.work) {
        case BayWork::Rebuild: words = std::to_wstring(v.percent) + (v.target == 1 ? L"% <<<<" : L"% >>>>"); break;
        case BayWork::Scan: words = std::to_wstring(v.percent) + L"%"; break;
        case BayWork::Flush: words = L"->"; break;
        case BayWork::Idle: break;
    }
    if (!words.empty()) {
        RECT t{rect.left + col, rect.top, rect.right - col, rect.bottom};
        DrawTextW(dc, words.c_str(), -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    RestoreDC(dc, saved);
}

}  // namespace

void Artwork::bays(HDC dc, const RECT& rect, double scale, const BaysView& given) {
    // A view out of range says nothing about the drives: show that we do not know.
    const BaysView v = baysInRange(given) ? given : BaysView{};
    if (!art::drawing()) {
        plainBays(dc, rect, scale, v);
        return;
    }
    art::Layer layer(dc, rect, scale);
    if (!layer.ok()) return;
    Graphics& g = layer.g();
    const float w = layer.width(), h = layer.height();

    // The enclosure: a light aluminium front with a soft shadow under it.
    const RectF body(0.5f, 0.5f, w - 1, h - 4);
    SolidBrush shadow(Color(22, 0x1F, 0x3A, 0x5F));
    art::fillRounded(g, shadow, RectF(body.X, body.Y + 2.5f, body.Width, body.Height), 11);
    auto front = art::vertical(body, Color(0xFA, 0xFB, 0xFD), Color(0xE8, 0xEC, 0xF1));
    art::fillRounded(g, *front, body, 10);
    Pen frontEdge(art::kBorder, 1);
    art::drawRounded(g, frontEdge, body, 10);

    const RectF bayRects[2] = {RectF(8, 8, kColumn - 16, body.Height - 15),
                               RectF(w - kColumn + 8, 8, kColumn - 16, body.Height - 15)};
    const bool rebuild = v.work == BayWork::Rebuild, scan = v.work == BayWork::Scan;
    for (int i = 0; i < 2; ++i) {
        BayPaint b;
        b.look = v.bay[i];
        b.kind = v.controller == BayController::Hybrid && i == 0 ? Glyph::Ssd : Glyph::Hdd;
        b.rebuildTarget = rebuild && v.target == i + 1;
        b.scanned = scan && v.target == i + 1;
        b.percent = v.percent;
        drawBay(g, bayRects[i], b);
    }

    // Between the bays: the work under way, or the verdict when there is none.
    const RectF between(kColumn + 6, 8, w - 2 * kColumn - 12, body.Height - 15);
    const PointF left(bayRects[0].X + bayRects[0].Width + 10, kWorkRow), right(bayRects[1].X - 10, kWorkRow);
    switch (v.work) {
        case BayWork::Rebuild:
            percentText(g, RectF(between.X, between.Y + 6, between.Width, 24), v.percent, art::kInk, 17);
            // The copy runs from the healthy bay into the one being rebuilt.
            if (v.target == 1) arrow(g, right, left, art::kAmber);
            if (v.target == 2) arrow(g, left, right, art::kAmber);
            progressTrack(g, RectF(between.X + 6, kWorkRow + 16, between.Width - 12, 6), v.percent, art::kAmber,
                          v.target == 1);
            break;
        case BayWork::Scan:
            // The percentage stands on the scanned bay; a scan the record does not
            // place on either bay shows it here.
            if (v.target == 0)
                percentText(g, RectF(between.X, between.Y + 20, between.Width, 28), v.percent, art::kBlue, 17);
            break;
        case BayWork::Flush:
            // The cache empties from the SSD into the HDD.
            arrow(g, left, right, art::kBlue);
            break;
        case BayWork::Idle: {
            const PointF c(w / 2, between.Y + between.Height / 2);
            const bool anyFailed = v.bay[0] == BayLook::Failed || v.bay[1] == BayLook::Failed;
            const bool anyAbsent = v.bay[0] == BayLook::Absent || v.bay[1] == BayLook::Absent;
            const bool allWell = v.bay[0] == BayLook::Present && v.bay[1] == BayLook::Present;
            if (v.controller == BayController::None) break;
            if (anyFailed)
                badge(g, c, 15, kRed, false);
            else if (anyAbsent)
                badge(g, c, 15, art::kAmberEdge, false);
            else if (allWell)
                badge(g, c, 15, kGreen, true);
            break;
        }
    }
    layer.finish();
}

}  // namespace raid::win
