// What the main window's units share: its colours, the engine's colour names, texts
// as the window shows them, and painting without flicker. Internal to gui-win32.
#pragma once

#include <cwctype>
#include <string>
#include <string_view>

#include <windows.h>

#include "gui-win32/Text.h"

namespace raid::win {

class MainWindow;

namespace detail {

inline constexpr COLORREF kRuleColour = RGB(0xD5, 0xDD, 0xE7);
// A label's text is drawn up to this much smaller to fit whole; past that it is cut
// with an ellipsis.
inline constexpr int kMostShrinkPx = 3;
inline constexpr UINT kCut = DT_END_ELLIPSIS;
inline constexpr COLORREF kGreyed = RGB(0xA3, 0xAD, 0xB9);

// The engine's colour names.
inline bool namedColour(const std::string& name, COLORREF& out) {
    if (name == "red") out = RGB(0xFF, 0x00, 0x00);
    else if (name == "blue") out = RGB(0x00, 0x00, 0xFF);
    else if (name == "navy") out = RGB(0x00, 0x00, 0x80);
    else if (name == "grey" || name == "gray") out = RGB(0x80, 0x80, 0x80);
    else return false;
    return true;
}

inline constexpr wchar_t kFormClass[] = L"TForm1";

// The main window a control belongs to; nullptr for the windows of other kinds (the
// event log and the chart keep their own objects where the main window keeps its).
inline MainWindow* windowOf(HWND hwnd) {
    HWND root = GetAncestor(hwnd, GA_ROOT);
    wchar_t cls[16] = {};
    if (!root || GetClassNameW(root, cls, 16) == 0 || std::wstring_view(cls) != kFormClass) return nullptr;
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(root, GWLP_USERDATA));
}

inline std::wstring windowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(n > 0 ? n : 0) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

// What a label shows of a text: no trailing blanks, a one-line label's line breaks and
// other control characters as spaces, and no more characters than any box can show
// (a huge text is cut before it is measured, so whatever arrives, drawing stays cheap).
inline std::wstring shownText(const std::wstring& text, UINT format) {
    std::wstring s = text.substr(0, 4096);
    while (!s.empty() && (iswspace(s.back()) || s.back() < 0x20)) s.pop_back();
    for (wchar_t& c : s)
        if (c < 0x20 && !(c == L'\n' && !(format & DT_SINGLELINE))) c = L' ';
    return s;
}

inline std::size_t utf8Bytes(const std::wstring& text) { return narrow(text).size(); }

// A memo holds Windows line ends; the engine's texts have "\n" only.
inline std::wstring toWindowsLines(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out += L'\r';
        out += text[i];
    }
    return out;
}

inline std::wstring toEngineLines(const std::wstring& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')) out += text[i];
    return out;
}

// Paints through a memory bitmap, so a redraw never flickers.
template <class Paint>
void buffered(HDC dc, const RECT& r, Paint paint) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bmp = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    SetViewportOrgEx(mem, -r.left, -r.top, nullptr);
    paint(mem);
    SetViewportOrgEx(mem, 0, 0, nullptr);
    BitBlt(dc, r.left, r.top, w, h, mem, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
}

inline void fill(HDC dc, const RECT& r, COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    FillRect(dc, &r, b);
    DeleteObject(b);
}

}  // namespace detail
}  // namespace raid::win
