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
    // Engine thread: publishes FoundDevices and the fresh pages as a finished pass
    // would (a client window, whose list comes from the service).
    void publishFound() { publishList(); }

    // A pass is requested or running: it owns the drives.
    bool busy() const { return handOver_.busy(); }
    // The start-up text ("Drive detecting", "No Drive found! "): what it says and whether
    // it shows are kept here and published to StaticText1 (engine thread).
    void setBannerText(const std::string& text);
    void setBannerVisible(bool visible);
    DetectionPhase phase() const { return handOver_.phase(); }
    // When each pass started (scheduler microseconds).
    std::vector<std::int64_t> passTimesUs() const;
    // When the latest pass began (-1: none yet).
    std::int64_t lastPassBeganUs() const;

    // Passes published or dropped as failed since start-up (engine thread).
    unsigned passesEnded() const { return passesEnded_; }

    int keptLogicalCount = 0;
    int keptPhysicalCount = 0;

    // While a pass had to skip a drive another RAID GUI holds, a new pass follows this
    // often (scheduler time), so this program takes the drive over when the other ends.
    static constexpr std::int64_t kLockRetryUs = 5'000'000;

private:
    void publish();
    void publishList();
    void dropFailedPass();
    // Engine thread, after a pass was taken: the lock of every drive of the
    // published list is kept (taken again with `retake`), all others are let go.
    void holdPublishedLocks(bool retake);
    // The lock and rights messages of the pass just taken; arms the retry.
    void reportDrivesAccess();
    // The pass found exactly the published list again.
    bool sameAsPublished() const;

    MainForm& form_;
    unsigned passesEnded_ = 0;
    DetectionHandOver handOver_;
    mutable std::mutex mu_;  // guards the two below (written by the worker)
    std::vector<std::int64_t> passTimesUs_;
    std::string failure_;
    // Engine thread only.
    std::int64_t retryAtUs_ = -1;  // when the next lock retry pass is due; -1: none
    bool retryPass_ = false;       // the pass under way is such a retry
    std::string lockProblemShown_;
    std::string busyShown_;
    std::string refusedShown_;
    std::string bannerText_;
    bool bannerVisible_ = true;
};

}  // namespace raid
