// The native window's pictures drawn by GDI+ into real 32-bit DIB sections, at the
// scales of 100, 150 and 200 %: each stays inside its rect (a guard border round it
// keeps its colour), shows something, and says what it is meant to say (each bay look
// and work its own pixels, the rebuild arrow pointing the copy's way, a view out of
// range drawn as the unknown enclosure); then what a careless caller can pass (tiny,
// inverted and huge rects, mad scales, endless captions with control characters) and
// the plain GDI pictures drawn when GDI+ cannot start; the icon and the font cache.
//
// RAID_ARTWORK_DUMP=<folder> also writes every picture there as a PNG, to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "gui-win32/Artwork.h"

namespace raid::win {
namespace {

constexpr UINT32 kGuard = 0xFFFF00FFu;  // opaque magenta round the rect
constexpr UINT32 kPaper = 0xFFFFFFFFu;  // what the window has painted under a picture

// A DIB section with a guard border of `guard` pixels round a rect of `w` x `h`.
class Canvas {
public:
    Canvas(int w, int h, int guard = 6) : w_(w + 2 * guard), h_(h + 2 * guard), guard_(guard) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = w_;
        info.bmiHeader.biHeight = -h_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        dib_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&px_), nullptr, 0);
        old_ = SelectObject(dc_, dib_);
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x) at(x, y) = inside(x, y) ? kPaper : kGuard;
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(dib_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    RECT rect() const { return {guard_, guard_, w_ - guard_, h_ - guard_}; }
    UINT32& at(int x, int y) { return px_[y * w_ + x]; }
    UINT32 at(int x, int y) const { return px_[y * w_ + x]; }
    bool inside(int x, int y) const { return x >= guard_ && y >= guard_ && x < w_ - guard_ && y < h_ - guard_; }

    // Pixels outside the rect that are no longer the guard's.
    int guardTouched() const {
        GdiFlush();
        int n = 0;
        for (int y = 0; y < h_; ++y)
            for (int x = 0; x < w_; ++x)
                if (!inside(x, y) && at(x, y) != kGuard) ++n;
        return n;
    }
    // Pixels inside that are not the paper any more.
    int drawn() const {
        GdiFlush();
        int n = 0;
        for (int y = guard_; y < h_ - guard_; ++y)
            for (int x = guard_; x < w_ - guard_; ++x)
                if (at(x, y) != kPaper) ++n;
        return n;
    }
    // The rect's pixels (colour only), for comparing pictures.
    std::vector<UINT32> pixels() const {
        GdiFlush();
        std::vector<UINT32> out;
        for (int y = guard_; y < h_ - guard_; ++y)
            for (int x = guard_; x < w_ - guard_; ++x) out.push_back(at(x, y) & 0xFFFFFFu);
        return out;
    }
    // A pixel of the picture at a design point.
    UINT32 design(double x, double y, double scale) const {
        GdiFlush();
        return at(guard_ + static_cast<int>(x * scale), guard_ + static_cast<int>(y * scale)) & 0xFFFFFFu;
    }
    void save(const std::filesystem::path& file) const {
        GdiFlush();
        Gdiplus::Bitmap bitmap(w_, h_, w_ * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(px_));
        CLSID png{};
        UINT count = 0, bytes = 0;
        Gdiplus::GetImageEncodersSize(&count, &bytes);
        std::vector<BYTE> buffer(bytes);
        auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
        Gdiplus::GetImageEncoders(count, bytes, codecs);
        for (UINT i = 0; i < count; ++i)
            if (std::wcscmp(codecs[i].MimeType, L"image/png") == 0) png = codecs[i].Clsid;
        bitmap.Save(file.wstring().c_str(), &png, nullptr);
    }

private:
    int w_, h_, guard_;
    HDC dc_ = nullptr;
    HBITMAP dib_ = nullptr;
    HGDIOBJ old_ = nullptr;
    UINT32* px_ = nullptr;
};

using Draw = std::function<void(HDC, const RECT&, double)>;
struct Picture {
    std::string name;
    SIZE size;  // at 96 DPI
    Draw draw;
};

BaysView view(BayController c, BayLook a, BayLook b, BayWork work = BayWork::Idle, int target = 0,
              int percent = 0) {
    BaysView v;
    v.controller = c;
    v.bay[0] = a;
    v.bay[1] = b;
    v.work = work;
    v.target = target;
    v.percent = percent;
    return v;
}

using C = BayController;
using L = BayLook;
using W = BayWork;

// Every look and work the Status page can show, each meant to look different.
std::vector<std::pair<std::string, BaysView>> bayViews() {
    return {
        {"unknown", BaysView{}},
        {"raid-well", view(C::Raid, L::Present, L::Present)},
        {"raid-failed2", view(C::Raid, L::Present, L::Failed)},
        {"raid-absent1", view(C::Raid, L::Absent, L::Present)},
        {"raid-empty", view(C::Raid, L::Empty, L::Empty)},
        {"raid-unknown2", view(C::Raid, L::Present, L::Unknown)},
        {"none-well", view(C::None, L::Present, L::Present)},
        {"rebuild1-37", view(C::Raid, L::Present, L::Present, W::Rebuild, 1, 37)},
        {"rebuild2-37", view(C::Raid, L::Present, L::Present, W::Rebuild, 2, 37)},
        {"rebuild2-80", view(C::Raid, L::Present, L::Present, W::Rebuild, 2, 80)},
        {"rebuild2-255", view(C::Raid, L::Present, L::Present, W::Rebuild, 2, 255)},
        {"scan1-50", view(C::Raid, L::Present, L::Present, W::Scan, 1, 50)},
        {"scan2-50", view(C::Raid, L::Present, L::Present, W::Scan, 2, 50)},
        {"scan0-50", view(C::Raid, L::Present, L::Present, W::Scan, 0, 50)},
        {"hybrid-well", view(C::Hybrid, L::Present, L::Present)},
        {"hybrid-flush", view(C::Hybrid, L::Present, L::Present, W::Flush)},
    };
}

std::vector<Picture> pictures() {
    std::vector<Picture> out;
    out.push_back({"background", {620, 421}, [](HDC dc, const RECT& r, double s) { Artwork::background(dc, r, s, false); }});
    out.push_back({"background-oem", {620, 421}, [](HDC dc, const RECT& r, double s) { Artwork::background(dc, r, s, true); }});
    const std::pair<NavGlyph, const wchar_t*> navs[] = {{NavGlyph::Status, L"Status"},
                                                        {NavGlyph::Tools, L"Tools"},
                                                        {NavGlyph::Upgrade, L"Upgrade"},
                                                        {NavGlyph::Email, L"E-mail"},
                                                        {NavGlyph::About, L"About"}};
    for (const auto& [glyph, caption] : navs)
        for (int state = 0; state < 3; ++state) {
            const bool lit = state == 1, enabled = state != 2;
            const std::string name = "nav-" + std::to_string(static_cast<int>(glyph)) + "-" +
                                     (lit ? "lit" : enabled ? "plain" : "disabled");
            out.push_back({name, Artwork::kNavSize, [glyph, caption, lit, enabled](HDC dc, const RECT& r, double s) {
                               Artwork::navButton(dc, r, s, caption, glyph, lit, enabled);
                           }});
        }
    for (int state = 0; state < 3; ++state)
        out.push_back({"tab-" + std::to_string(state), {96, 28}, [state](HDC dc, const RECT& r, double s) {
                           Artwork::tab(dc, r, s, L"Device1", state == 0, state != 2);
                       }});
    for (int state = 0; state < 5; ++state)
        out.push_back({"push-" + std::to_string(state), {92, 28}, [state](HDC dc, const RECT& r, double s) {
                           Artwork::pushButton(dc, r, s, L"Event Log", state == 1 || state == 2, state == 2 || state == 3,
                                               state != 4);
                       }});
    for (int state = 0; state < 4; ++state)
        out.push_back({"sign-" + std::to_string(state), {22, 22}, [state](HDC dc, const RECT& r, double s) {
                           Artwork::signButton(dc, r, s, state % 2 == 0, state == 2, state != 3);
                       }});
    out.push_back({"enclosure", {150, 110}, [](HDC dc, const RECT& r, double s) { Artwork::enclosure(dc, r, s); }});
    out.push_back({"enclosure-small", {44, 34}, [](HDC dc, const RECT& r, double s) { Artwork::enclosure(dc, r, s); }});
    for (const auto& [name, v] : bayViews())
        out.push_back({"bays-" + name, Artwork::kBaysSize,
                       [v = v](HDC dc, const RECT& r, double s) { Artwork::bays(dc, r, s, v); }});
    return out;
}

int scaled(LONG design, double scale) { return static_cast<int>(std::lround(static_cast<double>(design) * scale)); }

std::filesystem::path dumpFolder() {
    const char* dir = std::getenv("RAID_ARTWORK_DUMP");
    if (dir == nullptr || *dir == '\0') return {};
    std::filesystem::create_directories(dir);
    return dir;
}

// Amber, as the rebuild arrow is drawn (allowing for anti-aliasing).
bool amber(UINT32 bgr) {
    const int r = (bgr >> 16) & 0xFF, g = (bgr >> 8) & 0xFF, b = bgr & 0xFF;
    return r > 200 && g > 140 && g < 220 && b < 90;
}

TEST(Artwork, EveryPictureAtEveryScaleStaysInItsRectAndShowsWhatItMeans) {
    ASSERT_TRUE(Artwork::startup());
    ASSERT_TRUE(Artwork::startup());  // a second start changes nothing
    const std::filesystem::path dump = dumpFolder();
    for (double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        std::map<std::vector<UINT32>, std::string> seen;
        std::vector<UINT32> unknown;
        for (const Picture& p : pictures()) {
            SCOPED_TRACE(p.name);
            Canvas canvas(scaled(p.size.cx, scale), scaled(p.size.cy, scale));
            p.draw(canvas.dc(), canvas.rect(), scale);
            EXPECT_EQ(canvas.guardTouched(), 0);
            EXPECT_GT(canvas.drawn(), canvas.pixels().size() / 10);
            std::vector<UINT32> px = canvas.pixels();
            px.push_back(static_cast<UINT32>(p.size.cx));
            // Every picture of the list is a different look: no two alike.
            const auto [it, fresh] = seen.emplace(px, p.name);
            EXPECT_TRUE(fresh) << "looks like " << it->second;
            if (p.name == "bays-unknown") unknown = canvas.pixels();

            // The same picture again is the same pixels.
            Canvas again(scaled(p.size.cx, scale), scaled(p.size.cy, scale));
            p.draw(again.dc(), again.rect(), scale);
            EXPECT_EQ(again.pixels(), canvas.pixels());
            if (!dump.empty()) canvas.save(dump / (p.name + "@" + std::to_string(static_cast<int>(scale * 100)) + ".png"));
        }

        if (!dump.empty()) {
            // All pictures and the icon on one sheet, to look at side by side.
            const int sheetW = scaled(1300, scale);
            Canvas sheet(sheetW, scaled(1400, scale), 0);
            int x = 0, y = 0, row = 0;
            for (const Picture& p : pictures()) {
                const int w = scaled(p.size.cx, scale) + 4, h = scaled(p.size.cy, scale) + 4;
                if (x + w > sheetW) x = 0, y += row, row = 0;
                p.draw(sheet.dc(), RECT{x + 2, y + 2, x + w - 2, y + h - 2}, scale);
                x += w;
                row = std::max(row, h);
            }
            y += row;
            x = 0;
            for (int size : {16, 32, 48, 256}) {
                HICON icon = Artwork::icon(size);
                DrawIconEx(sheet.dc(), x, y, icon, size, size, 0, nullptr, DI_NORMAL);
                DestroyIcon(icon);
                x += size + 8;
            }
            sheet.save(dump / ("sheet@" + std::to_string(static_cast<int>(scale * 100)) + ".png"));
        }

        // The rebuild copies from the healthy bay into the one rebuilt: the arrow's head
        // is at bay 1 for "<<<<" and at bay 2 for ">>>>"; the flush runs to the HDD.
        const auto arrowAt = [scale](const BaysView& v, double x) {
            Canvas c(scaled(Artwork::kBaysSize.cx, scale), scaled(Artwork::kBaysSize.cy, scale));
            Artwork::bays(c.dc(), c.rect(), scale, v);
            return c.design(x, 47, scale);
        };
        const BaysView toBay1 = view(C::Raid, L::Present, L::Present, W::Rebuild, 1, 37);
        const BaysView toBay2 = view(C::Raid, L::Present, L::Present, W::Rebuild, 2, 37);
        EXPECT_TRUE(amber(arrowAt(toBay1, 129)));
        EXPECT_FALSE(amber(arrowAt(toBay1, 240)));
        EXPECT_TRUE(amber(arrowAt(toBay2, 240)));
        EXPECT_FALSE(amber(arrowAt(toBay2, 129)));

        // A view out of range (from another process, a test) is the unknown enclosure.
        BaysView wrong[7];
        wrong[0] = wrong[1] = wrong[2] = wrong[3] = wrong[4] = wrong[5] = wrong[6] = toBay2;
        wrong[0].controller = static_cast<BayController>(9);
        wrong[1].bay[0] = static_cast<BayLook>(-1);
        wrong[2].work = static_cast<BayWork>(7);
        wrong[3].target = 3;
        wrong[4].target = -1;
        wrong[5].percent = 256;
        wrong[6].percent = -1;
        for (const BaysView& v : wrong) {
            Canvas c(scaled(Artwork::kBaysSize.cx, scale), scaled(Artwork::kBaysSize.cy, scale));
            Artwork::bays(c.dc(), c.rect(), scale, v);
            EXPECT_EQ(c.pixels(), unknown);
        }
    }
}

TEST(Artwork, CarelessCallersAndTheFallbackStayInsideTheRect) {
    ASSERT_TRUE(Artwork::startup());
    const std::vector<Picture> all = pictures();
    for (bool plainOnly : {false, true}) {
        SCOPED_TRACE(plainOnly ? "plain GDI" : "GDI+");
        Artwork::setPlain(plainOnly);
        for (const Picture& p : all) {
            SCOPED_TRACE(p.name);
            // Tiny, empty and inverted rects, and scales no screen has.
            for (SIZE size : {SIZE{1, 1}, SIZE{3, 2}, SIZE{0, 0}, SIZE{12, 5}})
                for (double scale : {1.0, 0.0, -2.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e9}) {
                    Canvas c(static_cast<int>(size.cx), static_cast<int>(size.cy));
                    p.draw(c.dc(), c.rect(), scale);
                    EXPECT_EQ(c.guardTouched(), 0) << size.cx << "x" << size.cy << " at " << scale;
                }
            Canvas inverted(20, 20);
            const RECT r = inverted.rect();
            p.draw(inverted.dc(), RECT{r.right, r.bottom, r.left, r.top}, 1.0);
            EXPECT_EQ(inverted.guardTouched() + inverted.drawn(), 0);
            // A rect larger than the DC shows: only what is visible is drawn. One larger
            // than any screen is not drawn at all.
            for (LONG half : {6000, 400000}) {
                Canvas huge(300, 200);
                IntersectClipRect(huge.dc(), huge.rect().left, huge.rect().top, huge.rect().right, huge.rect().bottom);
                p.draw(huge.dc(), RECT{-half, -half, half, half}, 2.0);
                EXPECT_EQ(huge.guardTouched(), 0);
            }
            // At the design size the fallback draws too.
            Canvas normal(scaled(p.size.cx, 1.5), scaled(p.size.cy, 1.5));
            p.draw(normal.dc(), normal.rect(), 1.5);
            EXPECT_EQ(normal.guardTouched(), 0);
            EXPECT_GT(normal.drawn(), 0);
        }

        // A caption far too long, with control characters and text from elsewhere,
        // stays in its box: the button's frame is as it is without a caption.
        const std::wstring endless =
            L"Ereignisprotokoll \x00E4\x00F6\x00FC \x65E5\x672C\x8A9E\r\n\t\x0007 " + std::wstring(300, L'W');
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(kind);
            const SIZE size = kind == 0 ? SIZE{92, 28} : kind == 1 ? Artwork::kNavSize : SIZE{96, 28};
            const double scale = 1.5;
            auto draw = [&](Canvas& c, const std::wstring& caption) {
                if (kind == 0) Artwork::pushButton(c.dc(), c.rect(), scale, caption, false, false, true);
                if (kind == 1) Artwork::navButton(c.dc(), c.rect(), scale, caption, NavGlyph::Email, true, true);
                if (kind == 2) Artwork::tab(c.dc(), c.rect(), scale, caption, true, true);
            };
            Canvas bare(scaled(size.cx, scale), scaled(size.cy, scale)), full(scaled(size.cx, scale), scaled(size.cy, scale));
            draw(bare, L"");
            draw(full, endless);
            EXPECT_EQ(full.guardTouched(), 0);
            EXPECT_NE(full.pixels(), bare.pixels());  // the caption is drawn
            // The edge columns (and, on the navigation button, the chevron) keep no ink.
            const int edge = plainOnly ? 1 : kind == 1 ? 15 : 3;
            const int w = scaled(size.cx, scale), h = scaled(size.cy, scale);
            int differ = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int gx = full.rect().left + x, gy = full.rect().top + y;
                    if ((x < edge || x >= w - edge) && full.at(gx, gy) != bare.at(gx, gy)) ++differ;
                }
            EXPECT_EQ(differ, 0);
        }
    }
    Artwork::setPlain(false);
}

TEST(Artwork, IconAndFontsAreRealHandlesMadeOnceFromAnyThread) {
    // Started from several threads at once, GDI+ starts once and the fonts are shared.
    std::vector<std::thread> threads;
    std::vector<HFONT> fromThreads(4);
    std::vector<int> started(4);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([i, &fromThreads, &started] {
            started[i] = Artwork::startup() ? 1 : 0;
            fromThreads[i] = Artwork::font(13, i % 2 == 1, 1.5);
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(started[i], 1);
        EXPECT_EQ(fromThreads[i], Artwork::font(13, i % 2 == 1, 1.5));
    }
    // Ended, GDI+ starts again for a later picture, which is drawn as before; the
    // fonts outlive it.
    Canvas before(92, 28), after(92, 28);
    Artwork::pushButton(before.dc(), before.rect(), 1.0, L"OK", true, false, true);
    Artwork::shutdown();
    EXPECT_EQ(fromThreads[0], Artwork::font(13, false, 1.5));
    Artwork::pushButton(after.dc(), after.rect(), 1.0, L"OK", true, false, true);
    EXPECT_EQ(after.pixels(), before.pixels());

    HFONT regular = Artwork::font(13, false, 1.0);
    EXPECT_EQ(regular, Artwork::font(13, false, 1.0));
    EXPECT_NE(regular, Artwork::font(13, true, 1.0));
    EXPECT_NE(regular, Artwork::font(13, false, 1.5));
    LOGFONTW lf{};
    ASSERT_EQ(GetObjectW(Artwork::font(13, true, 1.5), sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
    EXPECT_EQ(lf.lfHeight, -20);  // 13 x 1.5, rounded
    EXPECT_EQ(lf.lfWeight, FW_BOLD);
    EXPECT_STREQ(lf.lfFaceName, L"Arial");
    // Sizes and scales no window asks for still give a usable font of bounded height.
    for (auto [size, scale] : {std::pair{0, 1.0}, std::pair{-40, 2.0}, std::pair{1 << 30, 1e300},
                              std::pair{13, std::nan("")}}) {
        HFONT f = Artwork::font(size, false, scale);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(GetObjectW(f, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
        EXPECT_GE(-lf.lfHeight, 1);
        EXPECT_LE(-lf.lfHeight, 400);
    }

    for (int asked : {16, 32, 48, 256, 0, -5, 100000}) {
        SCOPED_TRACE(asked);
        const int size = asked < 16 ? 16 : asked > 256 ? 256 : asked;
        HICON icon = Artwork::icon(asked);
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm{};
        ASSERT_NE(GetObjectW(info.hbmColor, sizeof(bm), &bm), 0);
        EXPECT_EQ(bm.bmWidth, size);
        EXPECT_EQ(bm.bmHeight, size);
        // Its rounded tile: clear in the corner, opaque in the middle, blue at the rim.
        std::vector<UINT32> px(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = size;
        bi.bmiHeader.biHeight = -size;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        HDC dc = CreateCompatibleDC(nullptr);
        ASSERT_EQ(GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(size), px.data(), &bi, DIB_RGB_COLORS), size);
        DeleteDC(dc);
        EXPECT_EQ(px[0] >> 24, 0u);
        EXPECT_EQ(px[static_cast<std::size_t>(size / 2 * size + size / 2)] >> 24, 0xFFu);
        const UINT32 rim = px[static_cast<std::size_t>(size / 2 * size + 1)];
        EXPECT_GT(rim & 0xFF, (rim >> 16) & 0xFF);  // more blue than red
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        EXPECT_TRUE(DestroyIcon(icon));
    }
}

}  // namespace
}  // namespace raid::win
