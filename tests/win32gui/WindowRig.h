// What the native window tests share: a user on a second thread who finds the boxes and
// dialogs the window's thread shows, reads them and presses their buttons, as a person
// (or UI automation) would, by window class, caption and control ID. Waits are bounds,
// never windows of time to wait out, so they can be generous for Wine on a loaded machine.
// GoogleTest is built without threads for mingw: a second thread only notes what it
// saw, and the test's own thread checks it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "gui-win32/Text.h"

namespace raid::win::test {

constexpr int kWaitMs = 120000;

// Polls `done` (on this thread, without pumping) until it holds or `ms` pass.
inline bool waitOn(const std::function<bool()>& done, int ms = kWaitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

template <class T>
bool ready(std::future<T>& f) {
    return f.valid() && f.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

inline std::wstring windowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

// The visible dialog windows (class "#32770") of this process captioned `caption`.
inline std::vector<HWND> dialogsCaptioned(const std::string& caption) {
    struct Search {
        std::wstring caption;
        std::vector<HWND> found;
    } s{widen(caption), {}};
    EnumWindows(
        [](HWND w, LPARAM lp) -> BOOL {
            auto* search = reinterpret_cast<Search*>(lp);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            wchar_t cls[16] = {};
            GetClassNameW(w, cls, 16);
            if (pid == GetCurrentProcessId() && IsWindowVisible(w) && std::wstring(cls) == L"#32770" &&
                windowText(w) == search->caption)
                search->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

inline HWND waitForDialog(const std::string& caption, int ms = kWaitMs) {
    HWND found = nullptr;
    waitOn(
        [&] {
            const std::vector<HWND> all = dialogsCaptioned(caption);
            found = all.empty() ? nullptr : all.front();
            return found != nullptr;
        },
        ms);
    return found;
}

// A message box's text (its static control 0xFFFF).
inline std::string boxText(HWND box) { return narrow(windowText(GetDlgItem(box, 0xFFFF))); }

// Presses button `id` of a dialog as a click does.
inline bool press(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) return false;
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, kWaitMs, &result) != 0;
}

// A plain top-level window to own boxes and the event log window.
inline HWND makeOwner() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
        wc.lpszClassName = L"RaidGuiTestOwner";
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    HWND w = CreateWindowExW(0, L"RaidGuiTestOwner", L"RAID GUI test", WS_OVERLAPPEDWINDOW, 40, 40, 620, 440, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(w, SW_SHOW);
    return w;
}

}  // namespace raid::win::test
