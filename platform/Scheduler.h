// The clock and scheduler port.
//
// Everything that happens "on the window's thread" runs on the engine thread that
// owns a Scheduler: timer ticks, posted commands and synchronous hand-overs from the
// worker threads. Two implementations exist: RealScheduler follows wall time and
// runs workers on their own threads; VirtualScheduler jumps from event to event on a
// single thread so an hour of enclosure life plays in milliseconds, with every timer
// still firing at its exact virtual moment.
#pragma once

#include <cstdint>
#include <functional>
#include <exception>
#include <memory>
#include <string>

namespace raid {

class Scheduler {
public:
    using Task = std::function<void()>;
    using TimerId = int;

    virtual ~Scheduler() = default;

    // Microseconds since the scheduler was created (monotonic).
    virtual std::int64_t nowUs() const = 0;
    std::int64_t nowMs() const { return nowUs() / 1000; }
    // Wall-clock time in seconds since the Unix epoch (virtual: start + elapsed).
    virtual double wallSeconds() const = 0;

    // Timers are created disabled; enabling (re)starts the interval. Ticks run on the
    // engine thread. A tick that runs late is not repeated: the next one is due one
    // interval after the late tick, as a GUI toolkit timer behaves.
    virtual TimerId addTimer(int intervalMs, Task onTick) = 0;
    virtual void setTimerEnabled(TimerId id, bool enabled) = 0;
    virtual bool timerEnabled(TimerId id) const = 0;
    // Enables a timer for one tick at the absolute time `dueUs` (scheduler
    // microseconds); after that tick it is due one interval later as usual, unless the
    // tick itself set a new due time.
    virtual void setTimerDue(TimerId id, std::int64_t dueUs) = 0;

    // Queue a task for the engine thread (thread-safe, FIFO).
    virtual void post(Task task) = 0;
    // Run a task on the engine thread and wait until it has run. Called from the
    // engine thread itself it runs the task inline.
    virtual void invokeSync(Task task) = 0;
    // A worker loop: `body` runs, then the worker sleeps `periodMs`, until the
    // scheduler stops. Real: its own thread. Virtual: a tick on the engine thread.
    virtual void startWorker(const char* name, int periodMs, Task body) = 0;
    // A worker whose work the engine hands it: `hasWork` (thread-safe, cheap) tells
    // whether the body has something to do. Real: the thread sleeps until the engine,
    // after one of its steps, finds work for it, or at the latest `idleMs`; while work
    // remains it runs every `periodMs` as above. An idle program then wakes for its
    // timers only. Virtual: the same as the plain worker (the ticks are the timeline).
    virtual void startWorker(const char* name, int periodMs, int idleMs, std::function<bool()> hasWork, Task body) {
        (void)idleMs;
        (void)hasWork;
        startWorker(name, periodMs, std::move(body));
    }
    // A pause inside the current flow of work (for example the settle time after a
    // bus rescan). Virtual: the clock moves on; no timer runs during the pause.
    virtual void sleepUs(std::int64_t us) = 0;
    void sleepMs(std::int64_t ms) { sleepUs(ms * 1000); }

    // "Let the window process its messages": run queued tasks and due timers now,
    // from inside a handler that waits for something. Engine thread only.
    virtual void processPending() = 0;
    // Keeps processing (queued tasks, timers, worker wake-ups) until `done` holds or
    // `timeoutUs` has passed; returns whether `done` held. Engine thread only. The
    // virtual scheduler moves its clock from event to event while it waits.
    virtual bool pumpUntil(const std::function<bool()>& done, std::int64_t timeoutUs) = 0;
    // Makes the calling thread the engine thread (before run(), when the engine
    // does work on its thread before entering the loop).
    virtual void adoptCurrentThread() = 0;

    // Run the engine loop on the calling thread until quit() (real) or until there is
    // nothing left to do before `untilUs` (virtual; negative = no limit).
    virtual void run(std::int64_t untilUs = -1) = 0;
    virtual void quit() = 0;
    // Stops the worker loops and waits for any body still running (a detection pass
    // finishes its current work first). Call after the loop ended and before
    // destroying what the workers use.
    virtual void joinWorkers() = 0;
    // What to do with an exception that escapes a task or timer tick; the loop goes
    // on. Without a handler the exception is dropped.
    void setExceptionHandler(std::function<void(const std::string&)> handler) { exceptionHandler_ = std::move(handler); }
    virtual bool quitting() const = 0;
    virtual bool isEngineThread() const = 0;

protected:
    // Runs a task, handing any exception it throws to the handler.
    void guarded(const Task& task) {
        try {
            task();
        } catch (const std::exception& e) {
            if (exceptionHandler_) exceptionHandler_(e.what());
        } catch (...) {
            if (exceptionHandler_) exceptionHandler_("");
        }
    }

private:
    std::function<void(const std::string&)> exceptionHandler_;
};

std::unique_ptr<Scheduler> makeRealScheduler();
// startWallSeconds: the wall time at virtual time 0.
std::unique_ptr<Scheduler> makeVirtualScheduler(double startWallSeconds);

}  // namespace raid
