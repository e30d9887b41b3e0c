// Ctrl-C, Ctrl-Break, closing the console, log-off and shutdown end a program without
// a window. The system calls the console handler on a thread it makes for the
// purpose; the handler only passes the signal on to the watch's own thread, which
// calls the program. For closing, log-off and shutdown the system ends the process
// as soon as the handler returns, so the handler waits (a few seconds at most, less
// than the system allows) until the program has let the watch go, that is, until it
// has ended its work.
#include <windows.h>

#include <atomic>
#include <thread>

#include "platform/Platform.h"
#include "platform/win32/WinEndSignals.h"

namespace raid {

namespace {

// Lives for the whole process: the system may call the handler at any moment, even
// while a watch is being taken down.
struct Signals {
    HANDLE arrived = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);  // a signal to pass on
    HANDLE stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);      // the watch is going
    HANDLE ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);     // the watch is gone
    std::atomic<int> pending{0};
};

Signals& signals() {
    static Signals* s = new Signals;  // never freed: see above
    return *s;
}

constexpr DWORD kEndWait = 4500;  // the system gives a closing console about 5 s

}  // namespace

bool win32::onConsoleEvent(unsigned long event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: break;
        default: return false;
    }
    Signals& s = signals();
    s.pending.fetch_add(1);
    ::SetEvent(s.arrived);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        ::WaitForSingleObject(s.ended, kEndWait);
    return true;
}

namespace {

BOOL WINAPI consoleHandler(DWORD event) { return win32::onConsoleEvent(event) ? TRUE : FALSE; }

class ConsoleWatch final : public EndWatch {
public:
    explicit ConsoleWatch(std::function<void(EndSignal)> onSignal)
        : onSignal_(std::move(onSignal)), thread_([this] { loop(); }) {}

    ~ConsoleWatch() override {
        Signals& s = signals();
        ::SetConsoleCtrlHandler(consoleHandler, FALSE);
        ::SetEvent(s.stop);
        thread_.join();
        ::SetEvent(s.ended);
    }

private:
    void loop() {
        Signals& s = signals();
        const HANDLE both[2] = {s.stop, s.arrived};
        for (;;) {
            const DWORD w = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
            if (w != WAIT_OBJECT_0 + 1) return;
            while (s.pending.load() > 0) {
                s.pending.fetch_sub(1);
                onSignal_(EndSignal::end);
            }
        }
    }

    std::function<void(EndSignal)> onSignal_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<EndWatch> watchEndSignals(std::function<void(EndSignal)> onSignal) {
    Signals& s = signals();
    if (!s.arrived || !s.stop || !s.ended) return nullptr;
    ::ResetEvent(s.stop);
    ::ResetEvent(s.ended);
    s.pending.store(0);
    // Ctrl-C must not have been switched off for this process (a parent can start it so).
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    auto watch = std::make_unique<ConsoleWatch>(std::move(onSignal));
    if (!::SetConsoleCtrlHandler(consoleHandler, TRUE)) return nullptr;
    return watch;
}

}  // namespace raid
