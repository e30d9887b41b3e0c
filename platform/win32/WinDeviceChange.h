// "A storage device arrived or left", from the system's device notifications: a
// message-only window on a thread of its own receives WM_DEVICECHANGE and tells the
// detection countdown.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>
#include <vector>

#include "platform/DeviceChangePort.h"

namespace raid::win32 {

class WinDeviceChange final : public DeviceChangePort {
public:
    WinDeviceChange() = default;
    ~WinDeviceChange() override;
    WinDeviceChange(const WinDeviceChange&) = delete;
    WinDeviceChange& operator=(const WinDeviceChange&) = delete;

    // Returns once the window exists (or could not be made: then no change is ever
    // reported, as on a system without notifications).
    void start(std::function<void()> onChange) override;
    // Closes the window and joins its thread; safe to call again.
    void stop() override;

    // The window that receives the notifications (null while stopped), for tests.
    HWND window() const { return window_; }
    // How many device-interface classes the window is registered for.
    int registrations() const { return static_cast<int>(notifications_.size()); }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void run(HANDLE ready);

    std::function<void()> onChange_;
    std::thread thread_;
    HWND window_ = nullptr;
    std::vector<HDEVNOTIFY> notifications_;
};

}  // namespace raid::win32
