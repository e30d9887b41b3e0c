// The signals a program without a window is told things by (SIGTERM from systemd,
// SIGINT from Ctrl-C, SIGHUP from systemctl reload or when the terminal goes), taken on
// a thread of their own so the handler can do real work: nothing runs inside a signal
// handler. What each one means is the caller's choice.
#pragma once

#include <functional>
#include <memory>

namespace raid::linuxport {

class SignalWatch {
public:
    virtual ~SignalWatch() = default;
};

// Blocks the signals in the calling thread - call it before any other thread starts, so
// every thread inherits the mask - and calls `onSignal` on the watch's thread for each
// one that arrives, until the watch is destroyed. Null when it cannot be set up.
std::unique_ptr<SignalWatch> watchEndSignals(std::function<void(int signal)> onSignal);

}  // namespace raid::linuxport
