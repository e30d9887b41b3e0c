#include "platform/win32/WinDeviceChange.h"

#include <dbt.h>

#include "platform/win32/WinPlatform.h"

namespace raid::win32 {
namespace {

constexpr char kWindowClass[] = "RaidGuiDeviceChange";
// Ends the window's message loop. A message of the port's own, so that an outside
// WM_CLOSE cannot silence the notifications.
constexpr UINT kStopMessage = WM_APP + 0x52;

// Device-interface classes whose arrival and removal the window is told of: USB
// devices (an enclosure's bridge coming and going), disks (enclosures on any bus) and
// volumes (a message-only window gets no broadcast, so letters come through here).
const GUID kInterfaceClasses[] = {
    {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}},  // USB device
    {0x53f56307, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}},  // disk
    {0x53f5630d, 0xb6bf, 0x11d0, {0x94, 0xf2, 0x00, 0xa0, 0xc9, 0x1e, 0xfb, 0x8b}},  // volume
};

// The filter the system is given: 32 bytes, device type 5 (DBT_DEVTYP_DEVICEINTERFACE).
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32 && DBT_DEVTYP_DEVICEINTERFACE == 5);

void callSafely(const std::function<void()>& onChange) {
    if (!onChange) return;
    try {
        onChange();
    } catch (...) {
        // A throwing receiver must not take the window's thread (and the process) down.
    }
}

}  // namespace

WinDeviceChange::~WinDeviceChange() { stop(); }

LRESULT CALLBACK WinDeviceChange::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    auto* self = reinterpret_cast<WinDeviceChange*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
        case WM_DEVICECHANGE:
            // Every device change restarts the countdown; what changed is found out by
            // counting the drives again when it runs out.
            if (self) callSafely(self->onChange_);
            return 0;
        case WM_CLOSE:
            return 0;
        case kStopMessage:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcA(window, message, wParam, lParam);
    }
}

void WinDeviceChange::run(HANDLE ready) {
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WinDeviceChange::windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    // Several ports in one process share the class.
    if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ::SetEvent(ready);
        return;
    }
    window_ = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
    if (!window_) {
        ::SetEvent(ready);
        return;
    }
    for (const GUID& interfaceClass : kInterfaceClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        if (HDEVNOTIFY n = ::RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
            notifications_.push_back(n);
    }
    ::SetEvent(ready);

    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    for (HDEVNOTIFY n : notifications_) ::UnregisterDeviceNotification(n);
    ::DestroyWindow(window_);
}

void WinDeviceChange::start(std::function<void()> onChange) {
    stop();
    HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ready) return;
    onChange_ = std::move(onChange);
    thread_ = std::thread([this, ready] { run(ready); });
    ::WaitForSingleObject(ready, INFINITE);
    ::CloseHandle(ready);
}

void WinDeviceChange::stop() {
    if (thread_.joinable()) {
        // A full queue (any program on the desktop may post to the window; Windows
        // holds 10000 messages a queue) refuses the message for a moment; the window's
        // thread is draining it meanwhile, and the window lives until its loop ends.
        while (window_ && !::PostMessageA(window_, kStopMessage, 0, 0) && ::IsWindow(window_)) ::Sleep(10);
        thread_.join();
    }
    window_ = nullptr;
    notifications_.clear();
    onChange_ = nullptr;
}

std::unique_ptr<DeviceChangePort> makeDeviceChange() { return std::make_unique<WinDeviceChange>(); }

}  // namespace raid::win32
