// What the native window tests share: a user on a second thread who finds the boxes and
// dialogs the window's thread shows, reads them and presses their buttons, as a person
// (or UI automation) would, by window class, caption and control ID. Waits are bounds,
// never windows of time to wait out, so they can be generous for Wine on a loaded machine.
// GoogleTest is built without threads for mingw: a second thread only notes what it
// saw, and the test's own thread checks it.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/Dialogs.h"
#include "gui-win32/LogWindow.h"
#include "gui-win32/Text.h"
#include "gui-win32/UiThread.h"
#include "gui-win32/WinApp.h"
#include "platform/Scheduler.h"
#include "sim/run/SimRunner.h"

namespace raid::win::test {

// How long a window test waits for an outcome before it gives up: a bound, never a
// window of time a test waits out.
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

// Puts `path` into the open-file dialog's file name field and presses Open.
inline bool chooseInDialog(HWND dialog, const std::wstring& path) {
    // The explorer-style dialog's file name field: combo box 0x47C (edit 0x480 in the
    // older layout).
    HWND field = GetDlgItem(dialog, 0x47C);
    if (!field) field = GetDlgItem(dialog, 0x480);
    if (!field) return false;
    DWORD_PTR r = 0;
    SendMessageTimeoutW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, kWaitMs, &r);
    return press(dialog, IDOK);
}

// The engine on the simulated machine (the default scenario: one healthy RAID1
// enclosure) in real time, on its own thread, as raid-gui-sim runs it with the window;
// this thread is the window's: it owns the owner window, the boxes and the event log
// window, and pumps their messages while it waits.
class EngineRig {
public:
    EngineRig() : logs_(std::filesystem::temp_directory_path() /
                        (L"raid-gui-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial()))) {
        std::filesystem::create_directories(logs_);
        owner_ = makeOwner();
        dialogs_.setOwner(owner_);
    }
    ~EngineRig() {
        dialogs_.shutdown();
        if (host_) host_->stop();
        log_.reset();
        host_.reset();
        runner_.reset();
        DestroyWindow(owner_);
        std::error_code ec;
        std::filesystem::remove_all(logs_, ec);
    }

    void start() {
        sim::RunOptions options;
        options.virtualTime = false;
        options.untilSeconds = 24 * 3600;
        options.logDir = narrow(logs_.wstring());
        options.watchSignals = false;
        host_ = std::make_unique<EngineHost>(makeRealScheduler(), [this, options](Scheduler& s, Controls& c, DialogPort& d) {
            runner_ = std::make_unique<sim::SimRunner>(options, nullptr, s, c, d);
            std::string error;
            return runner_->buildForm(error);
        });
        host_->onCreated = [this](MainForm&) { runner_->afterCreate(); };
        // What the main window does when the engine asks for the event log window.
        host_->onShowLogWindow = [this] {
            ui_.post([this] {
                log_ = std::make_unique<LogWindow>(owner_, poster(), dialogs_, ui_);
                log_->onClosed = [this] { ++closings_; };
            });
        };
        host_->start(dialogs_);
    }

    ActionPoster poster() {
        return [this](EngineAction action) { host_->command(std::move(action)); };
    }

    // Runs `fn` on the engine thread, pumping this thread's messages meanwhile.
    template <class F>
    auto onEngine(F fn) -> std::optional<decltype(fn(std::declval<MainForm&>()))> {
        using T = decltype(fn(std::declval<MainForm&>()));
        auto promise = std::make_shared<std::promise<T>>();
        std::future<T> result = promise->get_future();
        host_->post([promise, fn](MainForm& f) { promise->set_value(fn(f)); });
        if (!pumpUntil([&] { return ready(result); }, kWaitMs)) return std::nullopt;
        return result.get();
    }
    bool pump(const std::function<bool()>& done) { return pumpUntil(done, kWaitMs); }
    void click(const std::string& name) {
        host_->command([name](EngineCommands& f) { f.Click(name); });
    }
    // The first detection found the enclosure and polling is armed.
    bool waitForPolling() {
        return pump([this] {
            return onEngine([](MainForm& f) { return (f.RequestMask & kPollingArmed) != 0; }).value_or(false);
        });
    }

    const std::filesystem::path& logs() const { return logs_; }
    HWND owner() const { return owner_; }
    WinDialogs& dialogs() { return dialogs_; }
    UiThread& ui() { return ui_; }
    EngineHost& host() { return *host_; }
    LogWindow* log() { return log_.get(); }
    void closeLog() { log_.reset(); }
    int closings() const { return closings_; }

private:
    static int& serial() {
        static int n = 0;
        return n;
    }
    std::filesystem::path logs_;
    UiThread ui_;
    HWND owner_ = nullptr;
    WinDialogs dialogs_{ui_};
    std::unique_ptr<sim::SimRunner> runner_;
    std::unique_ptr<EngineHost> host_;
    std::unique_ptr<LogWindow> log_;
    int closings_ = 0;
};

}  // namespace raid::win::test
