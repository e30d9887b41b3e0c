#include "monitor/StatusDecoder.h"

#include <algorithm>
#include <string>

#include "monitor/StatusTexts.h"

namespace raid {

struct StatusDecoder::Pass {
    std::string ts;
    bool changed = false;
};

namespace {

std::string prefix(int index) { return "D" + std::to_string(index + 1) + " "; }

}  // namespace

void StatusDecoder::add(Pass& pass, std::string line) {
    ctx_.log.addLine(std::move(line));
    pass.changed = true;
}

void StatusDecoder::raise(int kind, int index, int port) {
    if (ctx_.raiseAlert) ctx_.raiseAlert(kind, index, port);
}

bool StatusDecoder::deviceScanCapable(int index) const {
    if (ctx_.scanCapable) return ctx_.scanCapable(index);
    return scanCapable(firmwareRevision(identityOf(ctx_.dev, index)));
}

void StatusDecoder::decode(std::uint8_t mask) {
    Pass pass;
    const double now = ctx_.now ? ctx_.now() : 0.0;
    ctx_.ClockNow = now;
    const bool firstPass = ctx_.FirstPass.load();
    const bool infoDue = ctx_.log.prepareForPass(now, firstPass);
    pass.ts = ctx_.log.timestamp();

    const int count = std::clamp(ctx_.dev.ActiveCount.load(), 0, kDecoderDevices);
    const auto refreshed = [&](int i) { return (mask >> i) & 1; };

    // After a start or a device-list change the present state is the baseline: the
    // information block describes it, so no events are derived from it.
    if (firstPass || ctx_.log.reseedDue()) {
        for (int i = 0; i < count; ++i) {
            states_[static_cast<std::size_t>(i)].previousFlags = StatusRecord(statusOf(ctx_.dev, i)).driveFlags();
        }
    }

    if (infoDue) {
        for (int i = 0; i < count; ++i) {
            if (refreshed(i)) informationBlock(pass, i);
        }
        ctx_.log.addLine(EventLog::ruleLine());
        pass.changed = true;
    }

    for (int i = 0; i < count; ++i) {
        if (!refreshed(i)) continue;
        const std::uint8_t kind = statusOf(ctx_.dev, i)[1];
        if (!infoDue) driveChanges(pass, i);
        if (kind == kControllerRaid) fanAndTemperature(pass, i);
        if (kind == kControllerHybrid) {
            hybridFlush(pass, i);
        } else {
            scanAndRebuild(pass, i);
        }
        if (kind == kControllerRaid) badSectors(pass, i);
    }

    ctx_.userAbort.fill(false);
    // A save that failed earlier is retried at the next pass even when this one found
    // nothing new: the lines are still only in memory.
    if (pass.changed || ctx_.log.hasUnsavedLines()) ctx_.log.save();
}

void StatusDecoder::informationBlock(Pass& pass, int i) {
    const Sector& page = statusOf(ctx_.dev, i);
    const Sector& identity = identityOf(ctx_.dev, i);
    const StatusRecord rec(page);
    const std::uint8_t kind = rec.kind();

    add(pass, "Device" + std::to_string(i + 1) + " information :");
    add(pass, "Model# " + enclosureModel(identity));
    if (kind == kControllerRaid) {
        add(pass, firmwareLine(raidModeText(rec.raidMode()), identity, rec));
    } else if (kind == kControllerHybrid) {
        add(pass, firmwareLine(hybridModeText(rec.hybridMode()), identity, rec));
    }
    add(pass, "Configured Capacity : " + capacityText(rec.configuredCapacity()));

    const std::uint8_t flags = rec.driveFlags();
    const bool hybrid = kind == kControllerHybrid;
    for (int d = 0; d < 2; ++d) {
        const std::string name = driveName(kind, d);
        const int shift = d * 4;
        const auto has = [&](std::uint8_t bit) { return (flags >> shift) & bit; };
        bool details = false;
        if (has(kFlagAbsent)) {
            add(pass, "  " + name + " is absent. ");
            details = !rec.serial(d).empty();
        } else if (has(kFlagPresent)) {
            std::string line = "  " + name + " is present.";
            if (!hybrid) {
                // Drive 1 shows the generation number, drive 2 the speed name.
                line += d == 0 ? "(SATA" + std::to_string(rec.layoutSpeeds() & 0x0F) + ")"
                               : "(SATA" + sataSpeedName(rec.sataSpeeds() >> 4) + ")";
            }
            add(pass, line);
            details = true;
        } else if (has(kFlagFailed)) {
            std::string reason;
            if (hybrid) {
                reason = " was failed.";
            } else if (rec.failureReason() & 0x10) {
                reason = " was failed, Matched SSD, Reboot.";
            } else if (rec.failureReason() & 0x80) {
                reason = " was failed, Capacity too small.";
            } else {
                reason = " was failed, Unmatched SSD.";
            }
            add(pass, "  " + name + reason);
            details = true;
        } else if (has(kFlagInserted)) {
            add(pass, name + " was inserted.");
        }
        if (details) {
            for (auto& line : driveDetailLines(rec, d, "    ", d != 0)) add(pass, std::move(line));
        }
    }
}

void StatusDecoder::driveChanges(Pass& pass, int i) {
    DeviceEventState& st = states_[static_cast<std::size_t>(i)];
    const StatusRecord rec(statusOf(ctx_.dev, i));
    const std::uint8_t flags = rec.driveFlags();
    if (flags == st.previousFlags) return;
    const std::uint8_t prev = st.previousFlags == 0xFF ? 0 : st.previousFlags;
    st.previousFlags = flags;
    pass.changed = true;

    const std::uint8_t kind = rec.kind();
    for (int d = 0; d < 2; ++d) {
        const int shift = d * 4;
        const std::uint8_t now = static_cast<std::uint8_t>((flags >> shift) & 0x0F);
        const std::uint8_t was = static_cast<std::uint8_t>((prev >> shift) & 0x0F);
        // The first set bit decides; if it was already set there is nothing new.
        std::uint8_t bit = 0;
        for (std::uint8_t b : {kFlagAbsent, kFlagPresent, kFlagFailed, kFlagInserted}) {
            if (now & b) {
                bit = b;
                break;
            }
        }
        if (bit == 0 || (was & bit)) continue;

        const std::string head = prefix(i) + driveName(kind, d);
        bool details = false;
        if (bit == kFlagAbsent) {
            add(pass, head + " was removed, " + pass.ts);
            raise(kAlertDriveFailure, i, d);
        } else if (bit == kFlagPresent) {
            const std::string speed = sataSpeedName(d == 0 ? (rec.sataSpeeds() & 0x0F) : (rec.sataSpeeds() >> 4));
            add(pass, head + (d == 0 ? " was initialized (SATA" : " was initialized, (SATA") + speed + "), " + pass.ts);
            details = true;
        } else if (bit == kFlagFailed) {
            add(pass, head + " was failed, Capacity too small." + pass.ts);
            details = true;
        } else {
            add(pass, head + " was inserted, " + pass.ts);
        }
        if (details) {
            for (auto& line : driveDetailLines(rec, d, "  ")) add(pass, std::move(line));
        }
    }
}

void StatusDecoder::fanAndTemperature(Pass&, int i) {
    const StatusRecord rec(statusOf(ctx_.dev, i));
    if (rec.monitorMarker() != 17 || (rec.fanTempAlarms() >> 4) != 0xA) return;
    const std::uint8_t alarms = rec.fanTempAlarms();
    // Once per rising bit: a fan that stays broken is one mail, not one per poll.
    if ((alarms & 0x01) && !(previousAlarms_ & 0x01)) raise(kAlertFanFailure, i, 0);
    if ((alarms & 0x04) && !(previousAlarms_ & 0x04)) raise(kAlertOverHeat, i, 0);
    previousAlarms_ = alarms;
}

void StatusDecoder::hybridFlush(Pass& pass, int i) {
    const DeviceEventState& st = states_[static_cast<std::size_t>(i)];
    if (st.previousFlags != kBothPresent) return;
    const StatusRecord rec(statusOf(ctx_.dev, i));
    const std::string head = prefix(i) + driveName(kControllerHybrid, 0) + " --> " + driveName(kControllerHybrid, 1);
    const bool cacheDisabled = rec.cacheState() & 0x02;
    if (!cacheDisabled && rec.flushPosition() != 0xFFFFFFFFu) {
        flushCounter_ |= 0x80;
        const unsigned polls = flushCounter_ & 0x7F;
        if (polls >= 100) {
            add(pass, head + " *, " + pass.ts);
            flushCounter_ = 0x80;
        } else if ((polls & 0x03) == 0) {
            add(pass, head + " ., " + pass.ts);
        }
        ++flushCounter_;
        return;
    }
    if (cacheDisabled && (flushCounter_ & 0x80)) add(pass, head + " Done, " + pass.ts);
    flushCounter_ = 0;
}

std::string StatusDecoder::timeLeftText(int index) const {
    const TimeLeft& t = timeLeft(index);
    return raid::timeLeftText(t.estimate(), t.kind());
}

std::optional<FinishedWork> StatusDecoder::trackTime(int i, double now) {
    const auto idx = static_cast<std::size_t>(i);
    const Sector& identity = identityOf(ctx_.dev, i);
    if (identity != timeLeftOwner_[idx]) {
        // Another enclosure at this index: nothing measured belongs to it.
        timeLeft_[idx].reset();
        timeLeftOwner_[idx] = identity;
    }
    const StatusRecord rec(statusOf(ctx_.dev, i));
    WorkKind kind = WorkKind::None;
    const std::uint8_t activity = rec.activity();
    if (rec.kind() != kControllerHybrid && (activity & 0x03))
        kind = (activity & 0x80) && deviceScanCapable(i) ? WorkKind::Scan : WorkKind::Rebuild;
    const int bay = (rec.byte(105) & 0x01) ? 0 : 1;
    // Seconds to microseconds; a clock far outside any real time is no reading.
    const double us = std::clamp(now, -1e12, 1e12) * 1e6;
    return timeLeft_[idx].feed(static_cast<std::int64_t>(us), rec.progress(), kind, bay);
}

void StatusDecoder::scanAndRebuild(Pass& pass, int i) {
    const std::optional<FinishedWork> ended = trackTime(i, ctx_.ClockNow);
    scanAndRebuildLines(pass, i);
    if (!ended) return;
    // After the lines that say how it ended: how long it ran while this program watched
    // it. Work already under way at the start is only known to have taken longer.
    const std::string what = ended->kind == WorkKind::Scan ? "Scan" : "Rebuild";
    const std::string length = durationText(ended->seconds);
    add(pass, prefix(i) + what + (ended->seenFromStart ? " took " + length : " seen for " + length + " (started earlier)") +
                  ", " + pass.ts);
}

void StatusDecoder::scanAndRebuildLines(Pass& pass, int i) {
    DeviceEventState& st = states_[static_cast<std::size_t>(i)];
    const StatusRecord rec(statusOf(ctx_.dev, i));
    const std::uint8_t kind = rec.kind();
    const std::string d1 = driveName(kind, 0);
    const std::string d2 = driveName(kind, 1);
    // Direction, progress and completion sit at the RAID positions for every kind.
    const std::uint8_t direction = rec.byte(105);
    const std::uint8_t progress = rec.progress();
    const std::uint8_t flags104 = rec.byte(104);
    const bool bothPresent = (flags104 & kBothPresent) == kBothPresent;
    const std::uint8_t activity = rec.activity();

    if (activity & 0x03) {
        const bool scan = (activity & 0x80) && deviceScanCapable(i);
        st.scanRunning = scan ? 1 : 0;
        if (st.previousProgress != 0xFF && st.previousProgress == progress) return;
        st.previousProgress = progress;
        const std::string percent = std::to_string(progress) + "%, " + pass.ts;
        if (direction & 0x01) {
            st.scanDrive = 0;
            add(pass, prefix(i) + (scan ? d1 + " Scan " : d2 + " --> " + d1 + " ") + percent);
        } else {
            st.scanDrive = 1;
            add(pass, prefix(i) + (scan ? d2 + " Scan " : d1 + " --> " + d2 + " ") + percent);
        }
        return;
    }

    if (st.scanRunning) {
        const std::string scanned = st.scanDrive == 1 ? d2 : d1;
        if (ctx_.userAbort[static_cast<std::size_t>(i)]) {
            add(pass, prefix(i) + scanned + " Scan " + "User Abort, " + pass.ts);
        } else if (st.previousProgress == 0xFF || !bothPresent) {
            // Ended without both drives: nothing to report as success.
        } else if (st.previousProgress == 99) {
            add(pass, prefix(i) + scanned + " Scan " + "Done, " + pass.ts);
        } else {
            add(pass, prefix(i) + d1 + " OK, " + d2 + " OK, " + pass.ts);
        }
        st.previousProgress = 0xFF;
    } else if (st.previousProgress != 0xFF) {
        if (bothPresent && st.previousProgress == 99) {
            const std::string way = st.scanDrive == 1 ? d1 + " --> " + d2 : d2 + " --> " + d1;
            add(pass, prefix(i) + way + " " + "Done, " + pass.ts);
        } else if (bothPresent) {
            add(pass, prefix(i) + d1 + " OK, " + d2 + " OK, " + pass.ts);
        }
        st.previousProgress = 0xFF;
    }
    st.scanRunning = 0;
}

void StatusDecoder::badSectors(Pass& pass, int i) {
    DeviceEventState& st = states_[static_cast<std::size_t>(i)];
    const StatusRecord rec(statusOf(ctx_.dev, i));
    const std::uint8_t reason = rec.byte(105);
    const int mode = (reason >> 2) & 0x03;
    if (mode == 0) return;
    const std::uint8_t n = rec.badSectorCount();
    if (n == 0 || n == st.previousBadCount) return;

    if (st.previousBadCount < n) {
        const std::string d1 = driveName(kControllerRaid, 0);
        const std::string d2 = driveName(kControllerRaid, 1);
        std::string drive;
        if (mode == 1) {
            drive = d1;
        } else if (mode == 2) {
            drive = d2;
        } else if (reason & 0x01) {
            drive = st.scanRunning ? d1 : d2;
        } else if (reason & 0x02) {
            drive = st.scanRunning ? d2 : d1;
        } else if (rec.byte(104) & 0x02) {
            drive = d1;
        } else if (rec.byte(104) & 0x20) {
            drive = d2;
        }
        if (!drive.empty()) add(pass, prefix(i) + drive + " Bad Sector was found. " + pass.ts);
        // Only the ten newest can still be in the ring.
        const unsigned first = n - st.previousBadCount > 10 ? n - 10u : st.previousBadCount;
        for (unsigned k = first; k < n; ++k) add(pass, "  LBA: " + std::to_string(rec.badSector(k)));
        pass.changed = true;
    }
    st.previousBadCount = n;
}

}  // namespace raid
