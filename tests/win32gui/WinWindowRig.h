// A real native window on a real engine thread, on a simulated enclosure.
//
// Each test plays a scenario (or the built-in default enclosure) through the
// simulator, opens the window through WinSession exactly as raid-gui-sim.exe does, and
// drives it the way the user's input would arrive: real messages to controls found by
// their control names. It waits on outcomes with a generous bound, pumping messages.
#pragma once

#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include "app/ControlNames.h"
#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui-win32/MainWindow.h"
#include "gui-win32/Text.h"
#include "gui-win32/UiThread.h"
#include "WindowRig.h"
#include "gui-win32/Dialogs.h"
#include "gui-win32/WinApp.h"
#include "platform/Scheduler.h"
#include "sim/run/SimRunner.h"

namespace raid::win::test {


// Every box the engine raises, answered by the session's own dialogs after it is noted.
class BoxRecorder final : public DialogPort {
public:
    DialogPort* inner = nullptr;
    int messageBox(const std::string& text, const std::string& caption, int buttons) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            boxes_.push_back(caption + ": " + text);
        }
        return inner ? inner->messageBox(text, caption, buttons) : Ok;
    }
    bool chooseFile(const std::string& filter, std::string& path) override {
        return inner && inner->chooseFile(filter, path);
    }
    std::vector<std::string> boxes() const {
        std::lock_guard<std::mutex> lock(mu_);
        return boxes_;
    }

private:
    mutable std::mutex mu_;
    std::vector<std::string> boxes_;
};

class WinWindowRig : public ::testing::Test {
protected:
    void SetUp() override {
        logs_ = std::filesystem::temp_directory_path() /
                ("raid-win-window-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()));
        std::filesystem::create_directories(logs_);
    }

    // `scenario`: a file of docs/scenarios, or "" for the built-in default enclosure.
    void start(const std::string& scenario, double scale = 0, const std::string& settingsPath = {}) {
        options_.scenarioPath = scenario.empty() ? std::string() : std::string(RAID_SOURCE_DIR) + "/docs/scenarios/" + scenario;
        options_.virtualTime = false;
        options_.untilSeconds = 3600;
        options_.logDir = options_.fallbackLogDir = logs_.string() + "\\";
        options_.settingsPath = settingsPath;
        options_.watchSignals = false;
        host_ = std::make_unique<EngineHost>(makeRealScheduler(), [this](Scheduler& s, Controls& c, DialogPort& d) {
            boxes_.inner = &d;
            runner_ = std::make_unique<sim::SimRunner>(options_, nullptr, s, c, boxes_);
            std::string error;
            auto form = runner_->buildForm(error);
            EXPECT_TRUE(form) << error;
            if (!form) return form;
            if (configureForm) configureForm(*form);
            // What reaches the engine's handlers, in order.
            auto click = form->onClick;
            form->onClick = [this, click](const std::string& n) {
                record("click " + n);
                if (click) click(n);
            };
            auto box = form->onCheckBox;
            form->onCheckBox = [this, box](const std::string& n, bool on) {
                record("tick " + n + (on ? "=on" : "=off"));
                if (box) box(n, on);
            };
            return form;
        });
        host_->onCreated = [this](MainForm&) { runner_->afterCreate(); };
        session_ = std::make_unique<WinSession>(*host_, scale);
        session_->setQuitHandler([this] { ++quits_; });
        // Boxes are noted by the recorder and answered Ok here, not left for a user.
        session_->dialogs().setTestHook([](const std::string&, const std::string&, int) { return DialogPort::Ok; });
        session_->start();
    }

    // Closes the window and ends the engine and the simulated machine.
    void stop() {
        // A detection pass still running on its own thread is let finish first.
        if (host_ && host_->running())
            (void)pumpUntil([this] { return onEngine([](MainForm& f) { return !f.detection().busy(); }).value_or(true); },
                            kWaitMs);
        session_.reset();
        host_.reset();
        runner_.reset();
    }

    void TearDown() override {
        stop();
        std::error_code ec;
        std::filesystem::remove_all(logs_, ec);
    }

    HWND control(const std::string& name) {
        HWND h = session_->control(name);
        EXPECT_NE(h, nullptr) << name;
        return h;
    }
    static std::string textOf(HWND h) {
        const int n = GetWindowTextLengthW(h);
        std::wstring t(static_cast<std::size_t>(n) + 1, L'\0');
        t.resize(static_cast<std::size_t>(GetWindowTextW(h, t.data(), n + 1)));
        return narrow(t);
    }
    std::string text(const std::string& name) { return textOf(control(name)); }
    std::string caption() { return textOf(session_->window()); }
    std::string panel(int i) {
        HWND bar = control("StatusBar1");
        const auto len = LOWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0));
        std::wstring t(static_cast<std::size_t>(len) + 1, L'\0');
        SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t.data()));
        t.resize(len);
        return narrow(t);
    }
    bool shown(const std::string& name) {
        HWND h = control(name);
        return h && IsWindowVisible(h);
    }
    // The page a page book shows (its visible page, in the order they were made).
    int shownPage(const std::string& book) {
        int index = 0, found = -1;
        for (HWND p = GetWindow(control(book), GW_CHILD); p; p = GetWindow(p, GW_HWNDNEXT), ++index)
            if (GetWindowLongPtrW(p, GWL_STYLE) & WS_VISIBLE) found = found < 0 ? index : -2;
        return found;
    }

    bool waitFor(const std::function<bool()>& condition) { return pumpUntil(condition, kWaitMs); }

    // Runs `fn` on the engine thread and returns its result; nullopt if the engine did
    // not get to it in time.
    template <class F>
    auto onEngine(F fn) -> std::optional<decltype(fn(std::declval<MainForm&>()))> {
        using T = decltype(fn(std::declval<MainForm&>()));
        auto promise = std::make_shared<std::promise<T>>();
        std::future<T> result = promise->get_future();
        host_->post([promise, fn](MainForm& f) { promise->set_value(fn(f)); });
        if (!pumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, kWaitMs))
            return std::nullopt;
        return result.get();
    }
    std::string engineText(const std::string& name) {
        return onEngine([name](MainForm& f) { return f.controls().text(name); }).value_or("<no answer>");
    }
    // Everything the engine had queued before now has run, and the changes it made have
    // reached the window.
    void settle() {
        ASSERT_TRUE(onEngine([](MainForm&) { return 0; }).has_value());
        // The engine posted its changes to the window's thread before it answered: a
        // mark posted now runs after them.
        auto applied = std::make_shared<bool>(false);
        session_->ui().post([applied] { *applied = true; });
        ASSERT_TRUE(pumpUntil([applied] { return *applied; }, kWaitMs));
    }
    int currentPage() { return onEngine([](MainForm& f) { return f.CurrentPage; }).value_or(-1); }

    // The user clicks an image, button or check box (a disabled one does not react).
    void click(const std::string& name) {
        SendMessageW(control(name), BM_CLICK, 0, 0);
        settle();
    }
    // The user selects the field's text and types (or pastes) `text` over it.
    void type(const std::string& name, const std::string& text) {
        HWND h = control(name);
        SendMessageW(h, EM_SETSEL, 0, -1);
        SendMessageW(h, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(widen(text).c_str()));
        settle();
    }

    // Waits for the first detection and the first Status page drawn from it (a hybrid
    // enclosure's poll soon writes its own texts over "Detected OK").
    bool waitForDetection() {
        if (waitFor([this] { return onEngine([](MainForm& f) { return !f.dev.FirstPass; }).value_or(false); }))
            return true;
        ADD_FAILURE() << "the first Status page was never drawn; panel 1 shows \"" << panel(1) << "\"";
        return false;
    }

    void record(const std::string& what) {
        std::lock_guard<std::mutex> lock(actionsMu_);
        actions_.push_back(what);
    }
    std::vector<std::string> actions() {
        std::lock_guard<std::mutex> lock(actionsMu_);
        return actions_;
    }

    // Runs on the engine thread as the form is built (a test's own history source...).
    std::function<void(MainForm&)> configureForm;
    std::mutex actionsMu_;
    std::vector<std::string> actions_;
    sim::RunOptions options_;
    std::filesystem::path logs_;
    BoxRecorder boxes_;
    std::unique_ptr<sim::SimRunner> runner_;
    std::unique_ptr<EngineHost> host_;
    std::unique_ptr<WinSession> session_;
    std::atomic<int> quits_{0};
};

}  // namespace raid::win::test
