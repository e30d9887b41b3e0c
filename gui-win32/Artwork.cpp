// Placeholder pictures: plain GDI until the drawn artwork lands.
#include "gui-win32/Artwork.h"

namespace raid::win {

namespace {
void plain(HDC dc, const RECT& r, COLORREF fill, const std::wstring& caption) {
    HBRUSH b = CreateSolidBrush(fill);
    FillRect(dc, &r, b);
    DeleteObject(b);
    RECT t = r;
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, caption.c_str(), -1, &t, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}
}  // namespace

bool Artwork::startup() { return false; }
void Artwork::shutdown() {}
void Artwork::background(HDC dc, const RECT& rect, double, bool) { plain(dc, rect, RGB(255, 255, 255), L""); }
void Artwork::navButton(HDC dc, const RECT& rect, double, const std::wstring& caption, NavGlyph, bool highlighted,
                        bool) {
    plain(dc, rect, highlighted ? RGB(255, 200, 60) : RGB(255, 255, 255), caption);
}
void Artwork::tab(HDC dc, const RECT& rect, double, const std::wstring& caption, bool selected, bool) {
    plain(dc, rect, selected ? RGB(255, 200, 60) : RGB(240, 240, 240), caption);
}
void Artwork::pushButton(HDC dc, const RECT& rect, double, const std::wstring& caption, bool, bool, bool) {
    plain(dc, rect, RGB(220, 230, 240), caption);
}
void Artwork::signButton(HDC dc, const RECT& rect, double, bool plus, bool, bool) {
    plain(dc, rect, RGB(220, 230, 240), plus ? L"+" : L"-");
}
void Artwork::enclosure(HDC dc, const RECT& rect, double) { plain(dc, rect, RGB(60, 60, 60), L""); }
void Artwork::bays(HDC dc, const RECT& rect, double, const BaysView&) { plain(dc, rect, RGB(200, 200, 200), L""); }
HICON Artwork::icon(int) { return LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)); }
HFONT Artwork::font(int, bool, double) { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

}  // namespace raid::win
