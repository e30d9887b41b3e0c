#include "monitor/StatusPageModel.h"

#include <algorithm>

#include "monitor/StatusRecord.h"

namespace raid {

namespace {

// "Normal" with both drives, "Single HDD\nPresent" with one, "Failure" with none.
std::string driveSummary(std::uint8_t flags) {
    const bool one = (flags & 0x02) != 0, two = (flags & 0x20) != 0;
    if (one && two) return "Normal";
    if (one || two) return "Single HDD\nPresent";
    return "Failure";
}

void setWork(BaysView& bays, BayWork work, int target = 0, int percent = 0) {
    bays.work = work;
    bays.target = target;
    bays.percent = percent;
}

}  // namespace

std::string hexByte(std::uint8_t value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4], digits[value & 0x0F]};
}

std::string deviceLetters(const DeviceState& dev, int device) {
    const int slot = deviceSlot(dev, device);
    std::string letters;
    if (slot < 0) return letters;
    const int rows = std::clamp(dev.LogicalCount, 0, kMaxDriveEntries);
    for (int r = 0; r < rows; ++r) {
        const DriveEntry& e = dev.drives[static_cast<std::size_t>(r)];
        if (e.driveType == 3 && e.diskNumber == slot && e.letter != 0) letters += e.letter;
    }
    return letters;
}

DeviceRefreshView StatusPageModel::refreshDevices(const DeviceState& dev, int device, const std::string& appTitle) {
    DeviceRefreshView view;
    view.device = device == 1 ? 1 : 0;
    const Sector& identity = identityOf(dev, view.device);
    view.revision = firmwareRevision(identity);
    view.productClass = raid::productClass(identity);
    productClass_ = view.productClass;
    const int watched = std::clamp(dev.ActiveCount.load(), 0, 2);
    for (int i = 0; i < 2; ++i) {
        const auto idx = static_cast<std::size_t>(i);
        view.watched[idx] = i < watched;
        if (!view.watched[idx]) {
            revisions_[idx].clear();
            scan_[idx] = monitor_[idx] = false;
            continue;
        }
        const Sector& id = identityOf(dev, i);
        revisions_[idx] = firmwareRevision(id);
        scan_[idx] = raid::scanCapable(revisions_[idx]);
        monitor_[idx] = raid::monitorCapable(revisions_[idx]);
        view.names[idx] = enclosureModel(id) + " [" + deviceLetters(dev, i) + "]";
    }
    view.caption = appTitle + " - " + view.names[static_cast<std::size_t>(view.device)];
    return view;
}

bool StatusPageModel::scanCapable(int device) const { return device == 0 || device == 1 ? scan_[static_cast<std::size_t>(device)] : false; }

bool StatusPageModel::monitorCapable(int device) const {
    return device == 0 || device == 1 ? monitor_[static_cast<std::size_t>(device)] : false;
}

std::optional<std::array<std::string, 3>> StatusPageModel::timerTexts(const Sector& status, bool blocked) const {
    if (blocked || switching || productClass_ != 4) return std::nullopt;
    const StatusRecord rec(status);
    const std::uint8_t cache = rec.cacheState();
    const std::uint8_t request = rec.cacheDisableRequest();
    if (request == 1 || (cache & 0x08)) return std::nullopt;
    return std::array<std::string, 3>{"Timer5 " + hexByte(rec.driveFlags()), "[203] = " + hexByte(cache),
                                      "[204] = " + hexByte(request)};
}

StatusDrawing StatusPageModel::draw(const Sector& status, int device, bool anyChecked, bool fullRedraw,
                                    const std::string& timeLeft) {
    StatusDrawing out;
    if (!anyChecked) return out;
    out.result = 0;
    const StatusRecord rec(status);
    const std::size_t idx = device == 1 ? 1 : 0;
    out.firmware = revisions_[idx] + "." + rec.subCode();
    const std::uint8_t kind = rec.kind();
    out.controller = kind == kControllerRaid || kind == kControllerSecond || kind == kControllerHybrid;
    const BaysView before = bays_;
    if (!out.controller) {
        bays_ = BaysView{};
        if (!(bays_ == before)) out.bays = bays_;
        return out;
    }
    const bool hybrid = kind == kControllerHybrid;
    bays_.controller = hybrid ? BayController::Hybrid : BayController::Raid;
    out.driveNames = {driveName(kind, 0), driveName(kind, 1)};

    const std::uint8_t alarms = rec.fanTempAlarms();
    out.fan = std::to_string(rec.fanSpeed());
    out.fanColor = (alarms & 0x01) ? "red" : "blue";
    out.temperature = std::to_string(rec.temperature());
    out.temperatureColor = (alarms & 0x04) ? "red" : "blue";
    out.panelVisible = monitor_[idx] && !hybrid && (alarms & 0xF0) == 0xA0 && alarms != 0xAA;

    out.mode = hybrid ? hybridModeText(rec.hybridMode()) : raidModeText(rec.raidMode());

    if (fullRedraw || rec.driveFlags() != lastFlags_) drawDrives(status, out);

    if (hybrid)
        drawHybridCentre(status, out);
    else
        drawRaidCentre(status, scan_[idx], out);
    if (!hybrid && (rec.activity() & 0x03)) out.timeLeft = timeLeft;
    if (!(bays_ == before)) out.bays = bays_;
    return out;
}

void StatusPageModel::drawDrives(const Sector& status, StatusDrawing& out) {
    const StatusRecord rec(status);
    const std::uint8_t flags = rec.driveFlags();
    lastFlags_ = flags;
    out.drivesDrawn = true;
    for (int d = 0; d < 2; ++d) {
        const auto idx = static_cast<std::size_t>(d);
        const std::uint8_t bits = static_cast<std::uint8_t>(d == 0 ? flags & 0x0F : flags >> 4);
        DriveDraw& draw = out.drives[idx];
        draw.capacity = std::to_string(gigabytes(rec.capacity(d))) + " GB\n";
        draw.model = rec.fullModel(d);
        if (bits & kFlagAbsent) {
            // An absent drive with no serial left in the record has nothing to show:
            // the labels are emptied rather than keep what the other device or an
            // earlier drive put there.
            if (rec.serial(d).empty()) {
                draw.capacity.clear();
                draw.model.clear();
            }
            draw.action = DriveDraw::Action::Grey;
            draw.capacityEnabled = draw.modelEnabled = false;
            draw.look = BayLook::Absent;
        } else if (bits & kFlagPresent) {
            draw.action = DriveDraw::Action::Fill;
            draw.capacityColor = "navy";
            draw.look = BayLook::Present;
        } else if (bits & kFlagFailed) {
            draw.action = DriveDraw::Action::Fill;
            draw.capacityColor = "red";
            draw.modelEnabled = false;
            draw.look = BayLook::Failed;
        } else if (d == 1 || !(bits & kFlagInserted)) {
            // Drive 2's inserted bit is never looked at; drive 1's alone changes nothing.
            draw.action = DriveDraw::Action::Empty;
            draw.capacity.clear();
            draw.model.clear();
            draw.look = BayLook::Empty;
        } else {
            draw.action = DriveDraw::Action::Keep;
        }
        if (draw.action != DriveDraw::Action::Keep) bays_.bay[idx] = draw.look;
    }
    out.configured = std::to_string(gigabytes(rec.configuredCapacity())) + " GB";
}

void StatusPageModel::drawHybridCentre(const Sector& status, StatusDrawing& out) {
    const StatusRecord rec(status);
    const std::uint8_t flags = rec.driveFlags();
    const std::uint8_t cache = rec.cacheState();
    const std::uint8_t request = rec.cacheDisableRequest();
    const std::uint32_t pos = rec.flushPosition();
    if (rec.hybridMode() == 127) {
        out.centre = driveSummary(flags);
        lastProgress_ = 0xFF;
        out.flush = {std::string(), std::string()};
        setWork(bays_, BayWork::Idle);
        return;
    }
    if (flags != kBothPresent) return;
    if ((cache & 0x02) || pos == 0xFFFFFFFFu) {
        out.resetSlowDivider = true;
        out.centre = driveSummary(flags);
        out.flush = {std::string(), std::string()};
        setWork(bays_, BayWork::Idle);
        if (!(cache & 0x02)) {
            cacheSeen_ = true;
        } else if (cacheSeen_) {
            cacheSeen_ = false;
            out.ssdMessage = true;
        }
    } else {
        out.centre = "-> flushing ->";
        out.flush[0] = "LBA: " + std::to_string(pos);
        cacheSeen_ = true;
        out.flush[1] = "LBA: " + std::to_string(rec.secondFlushPosition());
        setWork(bays_, BayWork::Flush);
        if (request != 1 && !(cache & 0x08))
            out.panels = std::array<std::string, 3>{"DataShow " + hexByte(flags), "[203] = " + hexByte(cache),
                                                    "[204] = " + hexByte(request)};
    }
    out.mailOptOutEnabled = !(request == 1 || (cache & 0x08));
}

void StatusPageModel::drawRaidCentre(const Sector& status, bool scanCapable, StatusDrawing& out) {
    const StatusRecord rec(status);
    const std::uint8_t activity = rec.activity();
    if (!(activity & 0x03)) {
        out.centre = driveSummary(rec.byte(104));
        lastProgress_ = 0xFF;
        setWork(bays_, BayWork::Idle);
        return;
    }
    // Direction and progress sit at the same positions for every kind, as the day log
    // reads them; the scan mark is the activity byte's bit 7, as the log has it, so
    // the page and the log never disagree about what is running.
    const std::uint8_t direction = rec.byte(105);
    const std::uint8_t percent = rec.progress();
    const bool scan = scanCapable && (activity & 0x80);
    // A scan is shown again even at the same percentage when nothing was shown yet.
    if (lastProgress_ != percent || (scan && lastProgress_ == 0xFF)) {
        const int target = (direction & 0x01) ? 1 : (direction & 0x02) ? 2 : 0;
        const std::string p = std::to_string(percent) + "%\n";
        if (target != 0)
            out.centre = scan ? p + "HDD" + std::to_string(target) + " Scan"
                              : p + (target == 1 ? "<<<<" : ">>>>") + "\nRebuilding";
        lastProgress_ = percent;
        setWork(bays_, scan ? BayWork::Scan : BayWork::Rebuild, target, percent);
    }
    out.showLogImage = true;
}

}  // namespace raid
