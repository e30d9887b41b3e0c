// Turns each refreshed status record into event lines and alerts.
//
// Runs on the engine thread after every poll cycle. It compares every refreshed record
// with what it saw before (drive states, fan and temperature alarms, hybrid flush, scan
// and rebuild progress, bad sectors), writes the information block when the log asks
// for one, and saves the log when the pass changed it. It never fails: it reads only
// the in-memory buffers.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/DeviceState.h"
#include "monitor/DeviceListCompare.h"
#include "monitor/EventLog.h"
#include "monitor/StatusRecord.h"
#include "monitor/TimeLeft.h"

namespace raid {

constexpr int kDecoderDevices = 4;

// Alert kinds the decoder raises.
constexpr int kAlertDriveFailure = 1;
constexpr int kAlertOverHeat = 3;
constexpr int kAlertFanFailure = 4;

struct DeviceEventState {
    std::uint8_t previousFlags = 0;
    std::uint8_t previousProgress = 0xFF;  // 0xFF = no scan or rebuild running
    std::uint8_t previousBadCount = 0;
    std::uint8_t scanRunning = 0;
    std::uint8_t scanDrive = 0;
};

// What one pass reads and where it reports, all owned by the engine.
struct DecoderContext {
    DeviceState& dev;
    EventLog& log;
    // Set by the action command sent without ActionAbort; cleared at every pass end.
    std::array<bool, kDecoderDevices>& userAbort;
    // The main window's FirstPass flag.
    const std::atomic<bool>& FirstPass;
    // The event time of the pass is stored here (the main window's ClockNow).
    double& ClockNow;
    // The pass time: wall seconds since the Unix epoch.
    std::function<double()> now;
    RaiseAlertFn raiseAlert;
    // Whether a device's firmware reports surface scans. Empty: decided from the
    // device's identity revision.
    std::function<bool(int deviceIndex)> scanCapable = {};
};

class StatusDecoder {
public:
    explicit StatusDecoder(DecoderContext context) : ctx_(std::move(context)) {}

    // Bit i of `mask` set: device index i was refreshed in this cycle.
    void decode(std::uint8_t mask);

    const std::array<DeviceEventState, kDecoderDevices>& states() const { return states_; }
    std::array<DeviceEventState, kDecoderDevices>& states() { return states_; }
    // Bit 7: a hybrid flush was seen (the poll clock slows down then); bits 0..6: polls
    // since the last marker line.
    std::uint8_t flushCounter() const { return flushCounter_; }
    std::uint8_t previousAlarms() const { return previousAlarms_; }
    // The time left on device index i's rebuild or scan, as of its last refreshed record.
    // Each estimate belongs to the enclosure it was measured on: another enclosure at the
    // same index starts a new one.
    const TimeLeft& timeLeft(int index) const { return timeLeft_[static_cast<std::size_t>(index & 3)]; }
    std::string timeLeftText(int index) const;
    // The estimate the service made for device index i (a client window decodes nothing).
    void adoptTimeLeft(int index, WorkKind kind, const TimeLeftEstimate& e) {
        timeLeft_[static_cast<std::size_t>(index & 3)].adopt(kind, e);
    }

private:
    struct Pass;
    void informationBlock(Pass& pass, int index);
    void driveChanges(Pass& pass, int index);
    void fanAndTemperature(Pass& pass, int index);
    void hybridFlush(Pass& pass, int index);
    void scanAndRebuild(Pass& pass, int index);
    void scanAndRebuildLines(Pass& pass, int index);
    std::optional<FinishedWork> trackTime(int index, double now);
    void badSectors(Pass& pass, int index);
    bool deviceScanCapable(int index) const;
    void add(Pass& pass, std::string line);
    void raise(int kind, int index, int port);

    DecoderContext ctx_;
    std::array<DeviceEventState, kDecoderDevices> states_{};
    std::uint8_t previousAlarms_ = 0;
    std::uint8_t flushCounter_ = 0;
    std::array<TimeLeft, kDecoderDevices> timeLeft_{};
    std::array<Sector, kDecoderDevices> timeLeftOwner_{};
};

}  // namespace raid
