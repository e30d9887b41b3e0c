// The detection cycle: DriveDetectThread's body and Timer4's.
//
// Timer4 waits out device changes, counts the drives again, asks for a pass when a
// count changed, and publishes a finished pass on the engine thread; the pass itself
// runs on DriveDetectThread. The two sides meet only through the hand-over's phase,
// so a pass is published only when it has finished and no later pass has begun.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "device/DetectionHandOver.h"

namespace raid {

class MainForm;

class DetectionCycle {
public:
    explicit DetectionCycle(MainForm& form) : form_(form) {}

    // Engine thread: asks for a pass (start-up, a changed re-count).
    void request();
    // DriveDetectThread: one wake-up; runs a requested pass.
    void workerWake();
    // Timer4 (engine thread).
    void tick();

    // A pass is requested or running: it owns the drives.
    bool busy() const { return handOver_.busy(); }
    DetectionPhase phase() const { return handOver_.phase(); }
    // When each pass started (scheduler microseconds).
    std::vector<std::int64_t> passTimesUs() const;

    // Passes published or dropped as failed since start-up (engine thread).
    unsigned passesEnded() const { return passesEnded_; }

    int keptLogicalCount = 0;
    int keptPhysicalCount = 0;

private:
    void publish();
    void dropFailedPass();

    MainForm& form_;
    unsigned passesEnded_ = 0;
    DetectionHandOver handOver_;
    mutable std::mutex mu_;  // guards the two below (written by the worker)
    std::vector<std::int64_t> passTimesUs_;
    std::string failure_;
};

}  // namespace raid
