// Runs work on the window's thread.
//
// The engine publishes from its own thread, and a Win32 window may only be touched by
// the thread that made it. A message-only window made on the window's thread takes
// each posted function as a message and runs it there, in order. Once closed, posts
// are dropped (and freed), so an engine that publishes while the window goes away
// never reaches a destroyed window.
#pragma once

#include <functional>
#include <mutex>

#include <windows.h>

namespace raid::win {

class UiThread {
public:
    // Window's thread.
    UiThread();
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // Any thread: runs `work` on the window's thread, later. False when closed.
    bool post(std::function<void()> work);
    // Window's thread: drops what is queued and every later post.
    void close();
    bool onThisThread() const { return GetCurrentThreadId() == thread_; }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    std::mutex mu_;
    HWND hwnd_ = nullptr;
    DWORD thread_ = 0;
};

}  // namespace raid::win
