// The console's end signals (Ctrl-C, Ctrl-Break, closing the console, log-off,
// shutdown), passed on to the program by watchEndSignals (platform/Platform.h).
#pragma once

namespace raid::win32 {

// The handler the system calls on a thread of its own for console event `event`
// (CTRL_C_EVENT ...): true when the event is taken. For closing, log-off and
// shutdown it returns only once the watch is gone or a few seconds have passed.
bool onConsoleEvent(unsigned long event);

}  // namespace raid::win32
