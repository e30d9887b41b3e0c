#include "app/DetectionCycle.h"

#include <exception>

#include "app/MainForm.h"
#include "monitor/DeviceListCompare.h"
#include "platform/Platform.h"

namespace raid {

std::vector<std::int64_t> DetectionCycle::passTimesUs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return passTimesUs_;
}

std::int64_t DetectionCycle::lastPassBeganUs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return passTimesUs_.empty() ? -1 : passTimesUs_.back();
}

void DetectionCycle::request() {
    retryPass_ = false;
    form_.discovery().statusSearchLimit = form_.statusSearchLimit;
    handOver_.request();
}

void DetectionCycle::workerWake() {
    if (!handOver_.begin()) return;
    {
        std::lock_guard<std::mutex> lock(mu_);
        passTimesUs_.push_back(form_.scheduler().nowUs());
    }
    bool ok = false;
    try {
        form_.discovery().DetectionPass();
        ok = true;
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(mu_);
        failure_ = e.what();
    } catch (...) {
        std::lock_guard<std::mutex> lock(mu_);
        failure_.clear();
    }
    // Always ends the pass, so a throwing pass can never keep everybody else away
    // from the drives for good.
    handOver_.finish(ok);
}

void DetectionCycle::tick() {
    MainForm& f = form_;
    Controls& c = f.controls();
    if (f.DeviceChangeCountdown != 0) {
        // A pass that began after the latest change saw the drives as they are now, so
        // it is published without waiting for the machine to settle: a device that
        // never settles would otherwise keep every pass from being published.
        if (handOver_.phase() == DetectionPhase::Done && lastPassBeganUs() > f.LastDeviceChangeUs) {
            if (handOver_.take() == DetectionPhase::Done) publish();
            return;
        }
        const bool forced = f.DeviceChangeCountdown < 26 && f.DeviceChangesRecountDue();
        if (f.DeviceChangeCountdown < 26 && !forced) {
            f.DeviceChangeCountdown = static_cast<std::uint8_t>(f.DeviceChangeCountdown + 1);
            return;
        }
        // A pass still running owns the drives: the re-count waits for it (the countdown
        // stays at 26), or both would send commands at once.
        if (handOver_.busy()) return;
        c.setEnabled(names::Image2_Upgrade, false);
        if (f.MaintenanceBusy) {
            c.setEnabled(names::Image2_Upgrade, true);
            return;
        }
        f.dev.DetectionPending = true;
        f.DeviceChangeCountdown = 0;
        f.DeviceChangeRecountUs = f.scheduler().nowUs();
        Scheduler& sched = f.scheduler();
        auto turn = [&sched] { sched.processPending(); };
        const int letters = f.discovery().EnumerateLetters(turn);
        const int physical = f.discovery().CountPhysicalDrives(turn);
        if (letters == keptLogicalCount && physical == keptPhysicalCount) {
            c.setEnabled(names::Image2_Upgrade, true);
            // A pass that finished during the countdown is still the newest picture of
            // the drives: it is published by the next tick, or at once when the machine
            // keeps changing (the next change would come before that tick).
            if (forced && handOver_.take() == DetectionPhase::Done)
                publish();
            else if (handOver_.phase() != DetectionPhase::Done)
                f.dev.DetectionPending = false;
            return;
        }
        keptLogicalCount = letters;
        keptPhysicalCount = physical;
        // A finished but unpublished pass is dropped here: it saw the drives before
        // this change.
        request();
        if (f.dev.ActiveCount == 0) setBannerText("Drive detecting");
        return;
    }
    switch (handOver_.take()) {
        case DetectionPhase::Done: publish(); return;
        case DetectionPhase::Failed: dropFailedPass(); return;
        default: break;
    }
    if (retryAtUs_ >= 0 && !handOver_.busy() && !f.MaintenanceBusy && f.scheduler().nowUs() >= retryAtUs_) {
        retryAtUs_ = -1;
        // As for a device change: the pass reads the status of what it probes, and
        // polls wait for its result.
        f.dev.DetectionPending = true;
        request();
        retryPass_ = true;
        return;
    }
    if (handOver_.busy() && bannerText_ == "Drive detecting") setBannerVisible(!bannerVisible_);
}

void DetectionCycle::setBannerText(const std::string& text) {
    bannerText_ = text;
    form_.controls().setText(names::StaticText1, text);
}

void DetectionCycle::setBannerVisible(bool visible) {
    bannerVisible_ = visible;
    form_.controls().setVisible(names::StaticText1, visible);
}

void DetectionCycle::dropFailedPass() {
    MainForm& f = form_;
    std::string what;
    {
        std::lock_guard<std::mutex> lock(mu_);
        what = failure_;
    }
    // The tables stay as they were published last; the counts are forgotten so that
    // the next device change looks again, whatever it counts.
    ++passesEnded_;
    keptLogicalCount = -1;
    keptPhysicalCount = -1;
    f.dev.DetectionPending = false;
    if (f.dev.ActiveCount > 0) {
        f.controls().setEnabled(names::Image2_Upgrade, true);
    } else {
        setBannerVisible(true);
        setBannerText("No Drive found! ");
    }
    holdPublishedLocks(true);
    retryPass_ = false;
    f.messageBox(what, "");
}

void DetectionCycle::publish() {
    // A retry that found the same enclosures changes nothing the user sees: the check
    // boxes they cleared stay cleared and no start-up poll is asked for again.
    const bool unchanged = retryPass_ && sameAsPublished();
    retryPass_ = false;
    if (unchanged)
        form_.dev.DetectionPending = false;
    else
        publishList();
    holdPublishedLocks(false);
    reportDrivesAccess();
}

bool DetectionCycle::sameAsPublished() const {
    const DeviceState& dev = form_.dev;
    const int count = dev.FoundCount < kMaxActive ? dev.FoundCount : kMaxActive;
    if (count != dev.ActiveCount) return false;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t code = dev.FoundDevices[static_cast<std::size_t>(i)];
        if (code != dev.ActiveDevices[static_cast<std::size_t>(i)]) return false;
        const std::size_t drive = code & kCodeDriveMask;
        if (drive < kMaxPhysical && dev.freshPages[drive] != dev.EnclosureIdentity[drive]) return false;
    }
    return true;
}

void DetectionCycle::holdPublishedLocks(bool retake) {
    DriveLockPort* locks = form_.driveLocks();
    if (!locks) return;
    const DeviceState& dev = form_.dev;
    std::uint32_t keep = 0;
    for (int i = 0; i < dev.ActiveCount; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        keep |= 1u << (dev.ActiveDevices[idx] & kCodeDriveMask);
        // The other physical drives of the enclosure reach the same controller.
        for (int m = 0; m < dev.groupCount[idx] && m < kMaxPhysical; ++m)
            keep |= 1u << (dev.groupMembers[idx][static_cast<std::size_t>(m)] & kCodeDriveMask);
    }
    for (int k = 0; k < kMaxPhysical; ++k) {
        if (!(keep & (1u << k)))
            locks->release(k);
        else if (retake && !locks->held(k))
            locks->take(k);
    }
}

void DetectionCycle::reportDrivesAccess() {
    MainForm& f = form_;
    const Discovery& d = f.discovery();
    auto driveList = [](std::uint16_t mask, int& n) {
        std::string drives;
        n = 0;
        for (int k = 0; k < kMaxPhysical; ++k) {
            if (!(mask & (1u << k))) continue;
            drives += (n++ ? ", PhysicalDrive" : "PhysicalDrive") + std::to_string(k);
        }
        return drives;
    };
    // The locks tell each such thing once.
    for (const std::string& note : d.LockNotes) f.setPanel(4, note);
    if (!d.LockProblem.empty() && d.LockProblem != lockProblemShown_) {
        lockProblemShown_ = d.LockProblem;
        f.setPanel(4, "Drives not locked against other RAID GUI programs: " + d.LockProblem);
    }
    if (d.RefusedDrives != 0) {
        int n = 0;
        const std::string text = driveList(d.RefusedDrives, n) + " not used, no lock: " + d.RefusedReason;
        if (text != refusedShown_) f.setPanel(4, text);
        refusedShown_ = text;
    }
    if (d.BusyDrives != 0) {
        int n = 0;
        const std::string drives = driveList(d.BusyDrives, n);
        busyShown_ = drives + (n > 1 ? " are" : " is") + " in use by another RAID GUI";
        f.setPanel(4, busyShown_);
        retryAtUs_ = f.scheduler().nowUs() + kLockRetryUs;
    } else {
        if (!busyShown_.empty() && f.panelText(4) == busyShown_) f.setPanel(4, " ");
        busyShown_.clear();
        retryAtUs_ = -1;
    }
    if (f.dev.ActiveCount == 0 && f.driveAccessDenied())
        f.setPanel(4, "No access to the drives: " + driveAccessAdvice());
}

void DetectionCycle::publishList() {
    MainForm& f = form_;
    Controls& c = f.controls();
    DeviceState& dev = f.dev;
    Scheduler& sched = f.scheduler();
    ++passesEnded_;
    f.setPanel(1, "Detected OK");
    f.setPanel(2, " ");
    for (int i = 0; i < 2; ++i) {
        const bool present = i < dev.FoundCount;
        const auto idx = static_cast<std::size_t>(i);
        c.setVisible(names::deviceCheckBox[idx], present);
        f.setWatched(i, present);
        c.setVisible(names::statusDeviceImage[idx], present);
        c.setVisible(names::upgradeDeviceImage[idx], present);
    }
    // A client's day log and alerts are the service's.
    if (!dev.FirstPass && !f.serviceFeed())
        compareDeviceLists(dev, f.eventLog(), [&f](int kind, int device, int port) { f.raiseAlert(kind, device, port); });

    // The published list has room for eight; only the first two are shown and polled,
    // so enclosures past the eighth are simply not published.
    const int count = dev.FoundCount < kMaxActive ? dev.FoundCount : kMaxActive;
    for (int i = 0; i < count; ++i)
        dev.ActiveDevices[static_cast<std::size_t>(i)] = dev.FoundDevices[static_cast<std::size_t>(i)];
    dev.ActiveCount = count;
    dev.EnclosureIdentity = dev.freshPages;

    if (count > 0) {
        if (static_cast<int>(dev.CurrentDevice) >= count) dev.CurrentDevice = static_cast<std::uint32_t>(count - 1);
        c.setEnabled(names::Image2_Load, true);
        c.setEnabled(names::Image2_Upgrade, true);
        for (const char* name : names::navigationImages) c.setEnabled(name, true);
        c.setVisible(names::Image0_Log, true);
        f.DeviceRefresh();
        dev.DetectionPending = false;
        f.RequestMask |= kRequestPoll | kPollingArmed;
        sched.setTimerEnabled(f.Timer2, true);
        sched.setTimerEnabled(f.Timer3, true);
        setBannerVisible(false);
        setBannerText(" ");
        if (dev.FirstPass && f.AnnounceToEnclosure) {
            f.ActionCode = 0x21;
            f.ActionArg1 = 0;
            f.ActionArg2 = 0;
            f.RequestMask |= kRequestAction;
        }
    } else {
        c.setEnabled(names::Image2_Load, false);
        c.setEnabled(names::Image2_Upgrade, false);
        for (const char* name : names::navigationImages) c.setEnabled(name, false);
        sched.setTimerEnabled(f.Timer3, false);
        dev.DetectionPending = false;
        setBannerVisible(true);
        setBannerText("No Drive found! ");
    }
}

}  // namespace raid
