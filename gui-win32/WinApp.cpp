#include "gui-win32/WinApp.h"

#include <atomic>
#include <climits>
#include <mutex>

#include "gui-win32/Artwork.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/Dialogs.h"
#include "gui-win32/HistoryWindow.h"
#include "gui-win32/LogWindow.h"
#include "gui-win32/MainWindow.h"
#include "gui-win32/UiThread.h"

namespace raid::win {

namespace {

// Runs one message the way the window's loop does: Enter on an image button clicks
// it, and Tab, the arrow keys and Space move through and work the controls of the
// window the message is for.
void dispatch(MSG& msg) {
    if (MainWindow::translateKey(msg)) return;
    if (msg.hwnd) {
        HWND root = GetAncestor(msg.hwnd, GA_ROOT);
        if (root && (GetWindowLongPtrW(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) && IsDialogMessageW(root, &msg))
            return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

}  // namespace

// The engine publishes on its thread; a change reaches the window through the
// window's thread, and not at all once the session has let go of the window.
struct Link {
    std::mutex mu;
    UiThread* ui = nullptr;
    MainWindow* window = nullptr;
};

struct WinSession::Parts {
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<WinDialogs> dialogs;
    std::unique_ptr<LogWindow> log;  // while the event log window is open
    std::unique_ptr<HistoryWindow> history;  // while the history chart window is open
    std::shared_ptr<Link> link = std::make_shared<Link>();
    bool asking = false;  // a session end is being asked
};

WinSession::WinSession(EngineHost& host, double scale)
    : host_(host), ui_(std::make_unique<UiThread>()), parts_(std::make_unique<Parts>()) {
    ActionPoster post = [&host](EngineAction action) { host.command(std::move(action)); };
    parts_->window = std::make_unique<MainWindow>(post, scale);
    MainWindow* window = parts_->window.get();
    parts_->dialogs = std::make_unique<WinDialogs>(*ui_);
    parts_->dialogs->setOwner(window->hwnd());
    {
        std::lock_guard<std::mutex> lock(parts_->link->mu);
        parts_->link->ui = ui_.get();
        parts_->link->window = window;
    }
    std::shared_ptr<Link> link = parts_->link;
    host.controls().addListener([link](const ControlChange& change) {
        std::lock_guard<std::mutex> lock(link->mu);
        if (!link->ui) return;
        MainWindow* w = link->window;
        link->ui->post([w, change] { w->applyChange(change); });
    });
    window->onQueryEndSession = [this] { return queryEndSession(); };

    UiThread* ui = ui_.get();
    // Called on the engine thread; the program ends on the window's thread.
    host.onQuit = [this, ui] {
        ui->post([this] {
            quitRequested_ = true;
            if (quitHandler_)
                quitHandler_();
            else
                PostQuitMessage(0);
        });
    };
    host.onHintHidePause = [ui, window](int ms) { ui->post([window, ms] { window->setHintHidePause(ms); }); };
    // Asked on the engine thread (Image0_Log); the window is made on the window's.
    host.onShowLogWindow = [this, ui] { ui->post([this] { showLogWindow(); }); };
    host.onShowHistoryWindow = [this, ui] { ui->post([this] { showHistoryWindow(); }); };
    host.onHistoryChart = [this, ui](const HistoryChart& chart) { ui->post([this, chart] { showHistoryChart(chart); }); };
}

WinSession::~WinSession() {
    // An engine waiting for a box would never see it answered now: release it first,
    // then the engine can be stopped and joined.
    parts_->dialogs->shutdown();
    host_.stop();
    {
        std::lock_guard<std::mutex> lock(parts_->link->mu);
        parts_->link->ui = nullptr;
        parts_->link->window = nullptr;
    }
    host_.onQuit = nullptr;
    host_.onHintHidePause = nullptr;
    host_.onShowLogWindow = nullptr;
    host_.onShowHistoryWindow = nullptr;
    host_.onHistoryChart = nullptr;
    // Whatever is still queued for the window is dropped before the window goes.
    ui_->close();
    parts_->log.reset();
    parts_->history.reset();
    parts_->window.reset();
}

void WinSession::start() {
    parts_->window->show();
    host_.start(*parts_->dialogs);
}

HWND WinSession::window() const { return parts_->window->hwnd(); }
MainWindow& WinSession::mainWindow() { return *parts_->window; }
void WinSession::setScale(double scale) { parts_->window->setScale(scale); }

HWND WinSession::control(const std::string& name) const {
    if (HWND h = parts_->window->control(name)) return h;
    if (HWND log = logWindow()) return findControl(log, name);
    return nullptr;
}

HWND WinSession::logWindow() const { return parts_->log ? parts_->log->hwnd() : nullptr; }

WinDialogs& WinSession::dialogs() { return *parts_->dialogs; }

void WinSession::showLogWindow() {
    // One event log window at a time: a second request brings the open one forward.
    if (HWND open = logWindow()) {
        SetForegroundWindow(open);
        return;
    }
    ActionPoster post = [this](EngineAction action) { host_.command(std::move(action)); };
    parts_->log = std::make_unique<LogWindow>(window(), post, *parts_->dialogs, *ui_);
    // The window tells the engine itself that it has closed; what is left here is to
    // let go of it, later, once its own message handling has returned.
    parts_->log->onClosed = [this] {
        ui_->post([this] {
            if (parts_->log && !parts_->log->hwnd()) parts_->log.reset();
        });
    };
}

HistoryWindow* WinSession::historyWindow() const {
    return parts_->history && parts_->history->hwnd() ? parts_->history.get() : nullptr;
}

void WinSession::showHistoryWindow() {
    if (HistoryWindow* open = historyWindow()) {
        SetForegroundWindow(open->hwnd());
        return;
    }
    ActionPoster post = [this](EngineAction action) { host_.command(std::move(action)); };
    parts_->history = std::make_unique<HistoryWindow>(window(), post);
    // Let go of it later, once its own message handling has returned.
    parts_->history->onClosed = [this] {
        ui_->post([this] {
            if (parts_->history && !parts_->history->hwnd()) parts_->history.reset();
        });
    };
}

void WinSession::showHistoryChart(const HistoryChart& chart) {
    // A chart on its way when the window closed finds no window.
    if (HistoryWindow* open = historyWindow()) open->setChart(chart);
}

bool WinSession::queryEndSession() {
    // A second request while one is being answered is the same session end.
    if (parts_->asking) return false;
    if (!host_.running()) return true;
    parts_->asking = true;
    // Written on the window's thread only (the answer comes back through it).
    auto answer = std::make_shared<int>(-1);
    UiThread* ui = ui_.get();
    host_.command([answer, ui](EngineCommands& f) {
        const bool mayEnd = f.QueryEndSession();
        ui->post([answer, mayEnd] { *answer = mayEnd ? 1 : 0; });
    });
    // The window keeps painting meanwhile, and a box the engine raises ("Firmware is
    // upgrading, please wait a moment.") can be shown and answered.
    pumpUntil([&] { return *answer >= 0 || quitRequested_ || !host_.running(); }, INT_MAX);
    parts_->asking = false;
    // Leaving without an answer means the program is ending: the engine said yes and
    // asked for the end before its answer could arrive.
    return *answer >= 0 ? *answer == 1 : true;
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Not ours to take: the loop that runs the program sees it too.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            dispatch(msg);
        }
    }
    return true;
}

int runWindow(EngineHost& host) {
    {
        WinSession session(host);
        session.start();
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    }
    // The window is gone: no picture is drawn any more.
    Artwork::shutdown();
    return 0;
}

}  // namespace raid::win
