// The hand-over of one detection pass between the engine and DriveDetectThread.
//
// One atomic phase instead of three flags, so that no reader can ever see a
// combination that never existed (a finished pass and a new request at once), and
// each transition has exactly one writer:
//
//   engine:  Idle | Done | Failed  -> Requested    request(): a new pass is wanted
//   worker:  Requested             -> Running      begin(): the pass starts
//   worker:  Running               -> Done|Failed  finish()
//   engine:  Done | Failed         -> Idle         take(): the result is published or dropped
//
// A request made while an earlier pass is done but unpublished drops that result: a
// pass over the newer set of drives follows, and only a pass that finished with no
// later pass begun over it is ever published. While the phase is Requested or
// Running the pass owns the device command objects and the fresh side of the tables.
#pragma once

#include <atomic>
#include <cstdint>

namespace raid {

enum class DetectionPhase : std::uint8_t { Idle, Requested, Running, Done, Failed };

class DetectionHandOver {
public:
    // Engine. Refused (false) while a pass is requested or running.
    bool request() {
        DetectionPhase p = phase_.load();
        while (p != DetectionPhase::Requested && p != DetectionPhase::Running) {
            if (phase_.compare_exchange_weak(p, DetectionPhase::Requested)) return true;
        }
        return false;
    }
    // Worker: takes a waiting request.
    bool begin() {
        DetectionPhase expected = DetectionPhase::Requested;
        return phase_.compare_exchange_strong(expected, DetectionPhase::Running);
    }
    // Worker: the pass ended (ok) or threw.
    void finish(bool ok) {
        DetectionPhase expected = DetectionPhase::Running;
        phase_.compare_exchange_strong(expected, ok ? DetectionPhase::Done : DetectionPhase::Failed);
    }
    // Engine: takes a finished pass; returns its phase (Done or Failed), or Idle when
    // there is nothing to take.
    DetectionPhase take() {
        DetectionPhase p = phase_.load();
        if (p != DetectionPhase::Done && p != DetectionPhase::Failed) return DetectionPhase::Idle;
        phase_.compare_exchange_strong(p, DetectionPhase::Idle);
        return p;
    }

    DetectionPhase phase() const { return phase_.load(); }
    // A pass is requested or running: nobody else may use the devices.
    bool busy() const {
        const DetectionPhase p = phase_.load();
        return p == DetectionPhase::Requested || p == DetectionPhase::Running;
    }

private:
    std::atomic<DetectionPhase> phase_{DetectionPhase::Idle};
};

}  // namespace raid
