#include "gui-win32/UiThread.h"

#include <memory>

namespace raid::win {

namespace {

constexpr UINT kRunMessage = WM_APP + 0x101;
constexpr wchar_t kClassName[] = L"RaidGuiUiThread";

void registerClass() {
    static const bool done = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        RegisterClassExW(&wc);
        return true;
    }();
    (void)done;
}

}  // namespace

UiThread::UiThread() : thread_(GetCurrentThreadId()) {
    registerClass();
    hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&UiThread::proc));
}

UiThread::~UiThread() { close(); }

bool UiThread::post(std::function<void()> work) {
    auto* item = new std::function<void()>(std::move(work));
    std::lock_guard<std::mutex> lock(mu_);
    if (hwnd_ && PostMessageW(hwnd_, kRunMessage, 0, reinterpret_cast<LPARAM>(item))) return true;
    delete item;
    return false;
}

void UiThread::close() {
    HWND hwnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(mu_);
        hwnd = hwnd_;
        hwnd_ = nullptr;
    }
    if (!hwnd) return;
    // What is still queued is freed, not run.
    MSG msg;
    while (PeekMessageW(&msg, hwnd, kRunMessage, kRunMessage, PM_REMOVE))
        delete reinterpret_cast<std::function<void()>*>(msg.lParam);
    DestroyWindow(hwnd);
}

LRESULT CALLBACK UiThread::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunMessage) {
        std::unique_ptr<std::function<void()>> work(reinterpret_cast<std::function<void()>*>(lp));
        if (*work) (*work)();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace raid::win
