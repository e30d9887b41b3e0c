#include "platform/Scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace raid {
namespace {

struct Timer {
    std::int64_t intervalUs = 0;
    std::int64_t dueUs = 0;
    bool enabled = false;
    bool running = false;  // a tick is on the stack (nested processing must not re-enter it)
    bool worker = false;   // virtual: the body of a worker thread, not an engine timer
    unsigned rearmed = 0;  // bumped by setTimerDue
    Scheduler::Task task;
};

// Timer table and post queue shared by both schedulers. All members are guarded
// by `mu` except where noted.
class SchedulerBase : public Scheduler {
public:
    TimerId addTimer(int intervalMs, Task onTick) override {
        std::lock_guard<std::mutex> lock(mu_);
        Timer t;
        t.intervalUs = static_cast<std::int64_t>(intervalMs) * 1000;
        t.task = std::move(onTick);
        timers_.push_back(std::move(t));
        return static_cast<TimerId>(timers_.size() - 1);
    }

    void setTimerEnabled(TimerId id, bool enabled) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
            Timer& t = timers_[static_cast<std::size_t>(id)];
            if (enabled && !t.enabled) t.dueUs = nowUs() + t.intervalUs;
            t.enabled = enabled;
        }
        wake();
    }

    void setTimerDue(TimerId id, std::int64_t dueUs) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return;
            Timer& t = timers_[static_cast<std::size_t>(id)];
            t.dueUs = dueUs;
            t.enabled = true;
            ++t.rearmed;
        }
        wake();
    }

    bool timerEnabled(TimerId id) const override {
        std::lock_guard<std::mutex> lock(mu_);
        if (id < 0 || static_cast<std::size_t>(id) >= timers_.size()) return false;
        return timers_[static_cast<std::size_t>(id)].enabled;
    }

    void post(Task task) override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            posts_.push_back(std::move(task));
        }
        wake();
    }

    bool quitting() const override { return quit_.load(); }

protected:
    virtual void wake() {}

    // Runs every queued post, then every timer already due. Returns whether it ran
    // anything.
    bool runReady() {
        bool ran = false;
        for (;;) {
            Task task;
            {
                std::lock_guard<std::mutex> lock(mu_);
                if (posts_.empty()) break;
                task = std::move(posts_.front());
                posts_.pop_front();
            }
            guarded(task);
            ran = true;
            if (quit_) return ran;
        }
        for (;;) {
            int id = nextDueTimer(nowUs());
            if (id < 0) break;
            runTimer(id);
            ran = true;
            if (quit_) return ran;
        }
        return ran;
    }

    // The enabled, not running timer with the earliest due time at or before
    // `limitUs` (ties go to the older timer); -1 when none.
    int nextDueTimer(std::int64_t limitUs, bool engineOnly = false) {
        std::lock_guard<std::mutex> lock(mu_);
        int best = -1;
        for (std::size_t i = 0; i < timers_.size(); ++i) {
            const Timer& t = timers_[i];
            if (!t.enabled || t.running || t.dueUs > limitUs || (engineOnly && t.worker)) continue;
            if (best < 0 || t.dueUs < timers_[static_cast<std::size_t>(best)].dueUs) best = static_cast<int>(i);
        }
        return best;
    }

    // Earliest due time of any enabled timer, or -1.
    std::int64_t earliestDue() {
        std::lock_guard<std::mutex> lock(mu_);
        std::int64_t best = -1;
        for (const Timer& t : timers_) {
            if (!t.enabled || t.running) continue;
            if (best < 0 || t.dueUs < best) best = t.dueUs;
        }
        return best;
    }

    bool hasPosts() {
        std::lock_guard<std::mutex> lock(mu_);
        return !posts_.empty();
    }

    void runTimer(int id) {
        Task task;
        unsigned rearmed = 0;
        {
            std::lock_guard<std::mutex> lock(mu_);
            Timer& t = timers_[static_cast<std::size_t>(id)];
            t.running = true;
            rearmed = t.rearmed;
            task = t.task;  // a copy: the handler may add timers and grow the table
        }
        guarded(task);
        std::lock_guard<std::mutex> lock(mu_);
        Timer& t = timers_[static_cast<std::size_t>(id)];
        t.running = false;
        // Due again one interval after this tick finished (a late tick is not repeated),
        // unless the tick chose its next time itself.
        if (t.rearmed == rearmed) t.dueUs = nowUs() + t.intervalUs;
    }

    mutable std::mutex mu_;
    std::vector<Timer> timers_;
    std::deque<Task> posts_;
    std::atomic<bool> quit_{false};
};

class RealScheduler final : public SchedulerBase {
public:
    RealScheduler() : start_(std::chrono::steady_clock::now()) {}

    ~RealScheduler() override { joinWorkers(); }

    void joinWorkers() override {
        quit();
        for (auto& w : workers_) {
            if (w.joinable()) w.join();
        }
    }

    std::int64_t nowUs() const override {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

    double wallSeconds() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }

    void invokeSync(Task task) override {
        if (isEngineThread()) {
            task();
            return;
        }
        struct Done {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
        };
        auto done = std::make_shared<Done>();
        // Whatever the task does - return or throw - its waiter is told it is over, so
        // a worker never waits for ever on a task that failed.
        struct Finish {
            std::shared_ptr<Done> done;
            ~Finish() {
                std::lock_guard<std::mutex> lock(done->m);
                done->done = true;
                done->cv.notify_all();
            }
        };
        post([task = std::move(task), done] {
            Finish finish{done};
            task();
        });
        std::unique_lock<std::mutex> lock(done->m);
        // The engine may stop while we wait; a worker must never hang on a dead loop.
        while (!done->done && !quit_) done->cv.wait_for(lock, std::chrono::milliseconds(20));
    }

    void startWorker(const char* name, int periodMs, int idleMs, std::function<bool()> hasWork, Task body) override {
        auto w = std::make_shared<EventWorker>();
        w->hasWork = std::move(hasWork);
        {
            std::lock_guard<std::mutex> lock(eventMu_);
            eventWorkers_.push_back(w);
        }
        (void)name;
        workers_.emplace_back([this, w, periodMs, idleMs, body = std::move(body)] {
            while (!quit_) {
                runBody(body);
                // More to do: the usual pace. Nothing: sleep until the engine has some.
                const bool more = w->hasWork();
                std::unique_lock<std::mutex> lock(w->m);
                const auto pause = std::chrono::milliseconds(more ? periodMs : std::max(periodMs, idleMs));
                w->cv.wait_for(lock, pause, [&] { return w->woken || quit_.load(); });
                w->woken = false;
            }
        });
    }

    void startWorker(const char*, int periodMs, Task body) override {
        workers_.emplace_back([this, periodMs, body = std::move(body)] {
            while (!quit_) {
                runBody(body);
                std::unique_lock<std::mutex> lock(workerMu_);
                workerCv_.wait_for(lock, std::chrono::milliseconds(periodMs), [this] { return quit_.load(); });
            }
        });
    }

    // A pause ends early when the scheduler stops, so a long device latency never holds
    // up the end of the program.
    void sleepUs(std::int64_t us) override {
        if (us <= 0) return;
        std::unique_lock<std::mutex> lock(workerMu_);
        workerCv_.wait_for(lock, std::chrono::microseconds(us), [this] { return quit_.load(); });
    }

    void processPending() override {
        runReady();
        nudgeWorkers();
    }

    bool pumpUntil(const std::function<bool()>& done, std::int64_t timeoutUs) override {
        const std::int64_t deadline = nowUs() + timeoutUs;
        while (!done()) {
            if (quit_ || nowUs() >= deadline) return done();
            const bool ran = runReady();
            nudgeWorkers();
            if (!ran) {
                std::unique_lock<std::mutex> lock(waitMu_);
                waitCv_.wait_for(lock, std::chrono::milliseconds(5), [this] { return woken_ || quit_.load(); });
                woken_ = false;
            }
        }
        return true;
    }

    void adoptCurrentThread() override { engineThread_ = std::this_thread::get_id(); }

    void run(std::int64_t untilUs) override {
        // Workers may already ask isEngineThread(): the thread id is an atomic.
        engineThread_ = std::this_thread::get_id();
        while (!quit_) {
            runReady();
            nudgeWorkers();
            if (quit_) break;
            if (untilUs >= 0 && nowUs() >= untilUs) break;
            std::unique_lock<std::mutex> lock(waitMu_);
            if (woken_) {
                woken_ = false;
                continue;
            }
            std::int64_t due = earliestDue();
            std::int64_t limit = untilUs;
            if (due >= 0 && (limit < 0 || due < limit)) limit = due;
            if (limit < 0) {
                waitCv_.wait(lock, [this] { return woken_ || quit_.load(); });
            } else {
                std::int64_t wait = limit - nowUs();
                if (wait > 0)
                    waitCv_.wait_for(lock, std::chrono::microseconds(wait), [this] { return woken_ || quit_.load(); });
            }
            woken_ = false;
        }
    }

    void quit() override {
        quit_ = true;
        wake();
        {
            std::lock_guard<std::mutex> lock(workerMu_);
            workerCv_.notify_all();
        }
        std::lock_guard<std::mutex> lock(eventMu_);
        for (const auto& w : eventWorkers_) {
            std::lock_guard<std::mutex> wl(w->m);
            w->cv.notify_all();
        }
    }

    bool isEngineThread() const override { return std::this_thread::get_id() == engineThread_; }

protected:
    void wake() override {
        std::lock_guard<std::mutex> lock(waitMu_);
        woken_ = true;
        waitCv_.notify_all();
    }

private:
    struct EventWorker {
        std::function<bool()> hasWork;
        std::mutex m;
        std::condition_variable cv;
        bool woken = false;  // guarded by m
    };

    void runBody(const Task& body) {
        try {
            body();
        } catch (const std::exception& e) {
            // Shown on the engine thread, like an exception of any handler.
            const std::string what = e.what();
            post([what] { throw std::runtime_error(what); });
        } catch (...) {
            post([] { throw std::runtime_error(""); });
        }
    }

    // After an engine step: wakes each worker the step gave work to.
    void nudgeWorkers() {
        std::lock_guard<std::mutex> lock(eventMu_);
        for (const auto& w : eventWorkers_) {
            if (!w->hasWork()) continue;
            std::lock_guard<std::mutex> wl(w->m);
            if (w->woken) continue;
            w->woken = true;
            w->cv.notify_all();
        }
    }

    std::mutex eventMu_;
    std::vector<std::shared_ptr<EventWorker>> eventWorkers_;
    std::chrono::steady_clock::time_point start_;
    std::atomic<std::thread::id> engineThread_{std::this_thread::get_id()};
    std::vector<std::thread> workers_;
    std::mutex workerMu_;
    std::condition_variable workerCv_;
    std::mutex waitMu_;
    std::condition_variable waitCv_;
    bool woken_ = false;
};

class VirtualScheduler final : public SchedulerBase {
public:
    explicit VirtualScheduler(double startWall) : startWall_(startWall) {}

    std::int64_t nowUs() const override { return now_.load(); }
    double wallSeconds() const override { return startWall_ + static_cast<double>(now_.load()) / 1e6; }

    void invokeSync(Task task) override {
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(d) { ++depth; }
            ~Depth() { --depth; }
        } depth(engineDepth_);
        task();
    }

    void startWorker(const char*, int periodMs, Task body) override {
        // A worker wakes at once and then every period, like its thread would. While
        // its body runs as a worker (not handed over to the engine), its pauses let
        // the engine's timers run, as they would beside a real thread.
        TimerId id = addTimer(periodMs, [this, body = std::move(body)] {
            struct InWorker {
                bool& flag;
                bool outer;
                explicit InWorker(bool& f) : flag(f), outer(f) { flag = true; }
                ~InWorker() { flag = outer; }
            } in(inWorker_);
            body();
        });
        std::lock_guard<std::mutex> lock(mu_);
        Timer& t = timers_[static_cast<std::size_t>(id)];
        t.enabled = true;
        t.worker = true;
        t.dueUs = now_;
    }

    void sleepUs(std::int64_t us) override {
        if (us <= 0 || atLimit_) return;
        std::int64_t target = now_ + us;
        // The run ends at its limit, however long the device would keep us waiting: the
        // rest of the work in hand finishes at that moment.
        bool reachesLimit = false;
        if (limitUs_ >= 0 && target >= limitUs_) {
            target = std::max<std::int64_t>(limitUs_, now_);
            reachesLimit = true;
        }
        if (inWorker_ && engineDepth_ == 0) {
            // The engine thread goes on while a worker waits for its device.
            inWorker_ = false;
            ++engineDepth_;
            for (;;) {
                while (hasPosts()) runReadyPostsOnly();
                const int id = nextDueTimer(target, true);
                if (id < 0 || quit_) break;
                {
                    std::lock_guard<std::mutex> lock(mu_);
                    const std::int64_t due = timers_[static_cast<std::size_t>(id)].dueUs;
                    if (due > now_) now_ = due;
                }
                runTimer(id);
            }
            --engineDepth_;
            inWorker_ = true;
        }
        if (now_ < target) now_ = target;
        if (reachesLimit) atLimit_ = true;
    }

    void processPending() override { runReady(); }

    bool pumpUntil(const std::function<bool()>& done, std::int64_t timeoutUs) override {
        std::int64_t deadline = now_.load() + timeoutUs;
        if (limitUs_ >= 0 && deadline > limitUs_) deadline = std::max<std::int64_t>(limitUs_, now_);
        while (!done()) {
            if (quit_ || atLimit_) return done();
            if (runReady()) continue;
            const std::int64_t due = earliestDue();
            if (due < 0 || due > deadline) {
                if (now_ < deadline) now_ = deadline;
                return done();
            }
            if (due > now_) now_ = due;
        }
        return true;
    }

    void adoptCurrentThread() override {}

    void run(std::int64_t untilUs) override {
        limitUs_ = untilUs;
        atLimit_ = false;
        while (!quit_ && !atLimit_) {
            if (runReady()) continue;
            if (quit_ || atLimit_) break;
            std::int64_t due = earliestDue();
            if (due < 0 || (untilUs >= 0 && due > untilUs)) {
                if (untilUs >= 0 && now_ < untilUs) now_ = untilUs;
                return;
            }
            if (due > now_) now_ = due;
        }
    }

    void quit() override { quit_ = true; }
    void joinWorkers() override { quit_ = true; }
    bool isEngineThread() const override { return true; }

private:
    void runReadyPostsOnly() {
        Task task;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (posts_.empty()) return;
            task = std::move(posts_.front());
            posts_.pop_front();
        }
        guarded(task);
    }

    bool inWorker_ = false;
    int engineDepth_ = 0;
    std::int64_t limitUs_ = -1;  // the end of the current run (-1: none)
    bool atLimit_ = false;       // a pause reached it: nothing more happens in this run
    double startWall_;
    std::atomic<std::int64_t> now_{0};
};

}  // namespace

std::unique_ptr<Scheduler> makeRealScheduler() { return std::make_unique<RealScheduler>(); }
std::unique_ptr<Scheduler> makeVirtualScheduler(double startWallSeconds) {
    return std::make_unique<VirtualScheduler>(startWallSeconds);
}

}  // namespace raid
