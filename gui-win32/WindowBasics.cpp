#include "gui-win32/WindowBasics.h"

#include <cmath>
#include <mutex>
#include <set>
#include <string>

namespace raid::win {

UINT windowDpi(HWND hwnd) {
    using Fn = UINT(WINAPI*)(HWND);
    static const Fn forWindow = [] {
        const FARPROC p = GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
        return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(p));
    }();
    if (forWindow && hwnd)
        if (const UINT dpi = forWindow(hwnd)) return dpi;
    HDC dc = GetDC(nullptr);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int px(int design, double scale) { return static_cast<int>(std::lround(design * scale)); }

void registerPlainClass(const wchar_t* name) {
    static std::mutex mu;
    static std::set<std::wstring> registered;
    std::lock_guard<std::mutex> lock(mu);
    if (!registered.insert(name).second) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

}  // namespace raid::win
