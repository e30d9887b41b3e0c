// How long the native window's thread keeps a caller waiting.
//
// A thread of the meter's own sends the window WM_NULL every few milliseconds and
// times the round trip: a sent message is handled whenever the window's thread turns
// to its messages (its own loop, a modal box's loop, a pump), so the round trip is how
// long a click or a repaint would have waited at that moment. The longest of them is
// the window's longest stall.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <windows.h>

namespace raid::bench::win {

struct StallFigures {
    std::size_t samples = 0;
    std::size_t overTarget = 0;  // round trips over the target
    std::size_t unanswered = 0;  // not answered within the meter's bound (5 s)
    double median = 0, p99 = 0, max = 0;  // ms
};

class StallMeter {
public:
    using Clock = std::chrono::steady_clock;
    // One round trip: when it was sent, how long it took (ms).
    struct Sample {
        Clock::time_point sent;
        double ms = 0;
    };

    // Starts pinging `window` every `everyMs`.
    explicit StallMeter(HWND window, int everyMs = 2) : window_(window), everyMs_(everyMs) {
        thread_ = std::thread([this] { run(); });
    }
    ~StallMeter() { stop(); }
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;

    // Starts a new series of round trips (the ones so far are dropped).
    void restart() {
        std::lock_guard<std::mutex> lock(mu_);
        samples_.clear();
        unanswered_ = 0;
    }

    // The round trips since the last restart.
    StallFigures figures(double targetMs) {
        std::vector<double> v;
        StallFigures f;
        {
            std::lock_guard<std::mutex> lock(mu_);
            for (const Sample& s : samples_) v.push_back(s.ms);
            f.unanswered = unanswered_;
        }
        f.samples = v.size();
        if (v.empty()) return f;
        std::sort(v.begin(), v.end());
        f.median = v[v.size() / 2];
        f.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
        f.max = v.back();
        f.overTarget = static_cast<std::size_t>(v.end() - std::upper_bound(v.begin(), v.end(), targetMs));
        return f;
    }

    // The `n` longest round trips since the last restart, longest first.
    std::vector<Sample> longest(std::size_t n) {
        std::vector<Sample> v;
        {
            std::lock_guard<std::mutex> lock(mu_);
            v = samples_;
        }
        n = std::min(n, v.size());
        std::partial_sort(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n), v.end(),
                          [](const Sample& a, const Sample& b) { return a.ms > b.ms; });
        v.resize(n);
        return v;
    }

    // Window's thread: its messages are handled until the last ping is answered, so
    // that stopping never waits on itself (and the meter's own wait is not counted).
    void stop() {
        stop_ = true;
        while (!finished_) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        if (thread_.joinable()) thread_.join();
    }

private:
    void run() {
        while (!stop_) {
            const auto start = Clock::now();
            DWORD_PTR result = 0;
            // SMTO_NORMAL: a window thread that is waiting for something else still
            // takes the message as soon as it turns to its messages.
            const LRESULT answered = SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (stop_) break;  // answered while the window's thread was stopping the meter
            {
                std::lock_guard<std::mutex> lock(mu_);
                samples_.push_back({start, ms});
                if (!answered) ++unanswered_;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs_));
        }
        finished_ = true;
    }

    HWND window_;
    int everyMs_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::mutex mu_;
    std::vector<Sample> samples_;
    std::size_t unanswered_ = 0;
    std::thread thread_;
};

}  // namespace raid::bench::win
