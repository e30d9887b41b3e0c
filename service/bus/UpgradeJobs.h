// A firmware upgrade as an object on the bus, from StartUpgrade to a minute after its
// end: who started it, the Upgrade page's texts and progress as it goes, the outcome.
//
//   /org/qxraidgui/Monitor1/job/N  org.qxraidgui.Monitor1.Upgrade
//     properties (read-only): Enclosure o, Operation s ("upgrade"), Owner s (the
//       caller's unique bus name), OwnerUid u, Running b, Title s, PanelText s,
//       ProgressValue u, ProgressMaximum u, Succeeded b, Outcome s ("" while it runs),
//       BackupPath s
//     signal: Finished(b succeeded, s outcome)
//
// The properties change at most every BusService::kJobChangeUs while it runs, and at
// once when the step or the panel changes and at the end. The caller leaving the bus
// does not end the job: the engine runs it to its end.
#pragma once

#include <cstdint>
#include <string>

#include "service/bus/BusState.h"

typedef struct sd_event_source sd_event_source;

namespace raid::bus {

struct UpgradeJob {
    void* owner = nullptr;  // the service's bus side (the timer's way back)
    unsigned number = 0;
    int slot = -1;
    std::string sender;
    std::uint32_t uid = 0;
    UpgradeReport state;  // running until the finished report
    bool finished = false;
    bool changed = false;          // properties changed since they were last sent
    std::uint64_t sentAtUs = 0;    // when they were last sent (CLOCK_MONOTONIC)
    sd_event_source* timer = nullptr;  // the next send while running; the removal after

    UpgradeJob() = default;
    UpgradeJob(const UpgradeJob&) = delete;
    UpgradeJob& operator=(const UpgradeJob&) = delete;
    ~UpgradeJob();

    std::string path() const { return std::string(kJobPrefix) + "/" + std::to_string(number); }
};

}  // namespace raid::bus
