// Placeholder: the bare window until the native front end lands.
#include "gui-win32/WinApp.h"

#include "gui-win32/ControlIds.h"
#include "gui-win32/UiThread.h"
#include "gui-win32/Text.h"

namespace raid::win {

struct WinSession::Parts {
    HWND window = nullptr;
    struct : DialogPort {
        int messageBox(const std::string&, const std::string&, int) override { return Ok; }
    } dialogs;
};

namespace {
LRESULT CALLBACK formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE) {
        auto* host = reinterpret_cast<EngineHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (host) host->command([](EngineCommands& f) { f.CloseRequest(); });
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
}  // namespace

WinSession::WinSession(EngineHost& host) : host_(host), ui_(std::make_unique<UiThread>()), parts_(std::make_unique<Parts>()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = formProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"TForm1";
    RegisterClassExW(&wc);
    parts_->window = CreateWindowExW(0, L"TForm1", L"", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, 620, 440, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(parts_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host_));
    UiThread* ui = ui_.get();
    HWND w = parts_->window;
    host.controls().addListener([ui, w](const ControlChange& c) {
        if (c.control != names::TForm1) return;
        const std::wstring caption = widen(c.state.text);
        ui->post([w, caption] { SetWindowTextW(w, caption.c_str()); });
    });
    host.onQuit = [this] {
        ui_->post([this] {
            quitRequested_ = true;
            if (quitHandler_) quitHandler_(); else PostQuitMessage(0);
        });
    };
}

WinSession::~WinSession() {
    host_.stop();
    host_.onQuit = nullptr;
    ui_->close();
    DestroyWindow(parts_->window);
}

void WinSession::start() {
    ShowWindow(parts_->window, SW_SHOW);
    host_.start(parts_->dialogs);
}

HWND WinSession::window() const { return parts_->window; }
HWND WinSession::control(const std::string& name) const { return findControl(parts_->window, name); }
HWND WinSession::logWindow() const { return nullptr; }

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

int runWindow(EngineHost& host) {
    WinSession session(host);
    session.start();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace raid::win
