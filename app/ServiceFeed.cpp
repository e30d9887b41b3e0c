#include "app/ServiceFeed.h"

#include <algorithm>
#include <memory>

#include "app/MainForm.h"
#include "app/pages/StatusPage.h"

namespace raid {

namespace {

template <class T>
const T* valueOf(const BusProperties& props, const char* name) {
    const auto it = props.find(name);
    return it == props.end() ? nullptr : std::get_if<T>(&it->second);
}

bool page(const BusProperties& props, const char* name, Sector& out) {
    const auto* bytes = valueOf<std::vector<std::uint8_t>>(props, name);
    if (!bytes || bytes->size() != out.size()) return false;
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

}  // namespace

std::optional<ServiceEnclosure> enclosureFromProperties(const std::string& path, const BusProperties& props) {
    ServiceEnclosure e;
    e.path = path;
    const auto* device = valueOf<std::int64_t>(props, "Device");
    const auto* slot = valueOf<std::int64_t>(props, "Slot");
    const auto* poll = valueOf<std::int64_t>(props, "Poll");
    const auto* source = valueOf<std::string>(props, "Source");
    const auto* volumes = valueOf<std::string>(props, "Volumes");
    const auto* access = valueOf<std::string>(props, "Access");
    if (!device || !slot || !poll || !source || !volumes || !access) return std::nullopt;
    if (*device < 1 || *device > kMaxFound || *slot < 0 || *slot >= kMaxPhysical || *poll < 0 || *poll > 0xFFFFFFFFLL)
        return std::nullopt;
    e.device = static_cast<int>(*device);
    e.slot = static_cast<int>(*slot);
    e.poll = static_cast<unsigned>(*poll);
    e.polled = *source == "poll";
    // Only drive letters go into the device table: whatever else a string holds is not one.
    for (const char c : *volumes)
        if (c >= 'C' && c <= 'Z' && e.volumes.size() < kMaxLetters && e.volumes.find(c) == std::string::npos)
            e.volumes += c;
    if (*access == "mailbox")
        e.access = kCodeMailbox;
    else if (*access == "ata")
        e.access = kCodeAta;
    else if (*access == "vu")
        e.access = kCodeVu;
    if (!page(props, "StatusRecord", e.statusRecord) || !page(props, "IdentityPage", e.identityPage))
        return std::nullopt;
    return e;
}

NotificationSettings settingsFromService(const SettingsEdits& v) {
    NotificationSettings s;
    s.SettingsKeyExists = true;
    s.connection = v.fields;
    const std::string& state = v.fields[kPassword];
    s.connection[kPassword] = state == "stored" ? kStoredPasswordShown : state == "damaged" ? "ErrorFormat" : "";
    s.authState = v.loginOn ? 1 : 0;
    s.suppressMask = (v.noMailKind1 ? 1u : 0u) | (v.noMailKind2 ? 2u : 0u);
    s.security = std::min(v.security, kSecurityTls);
    s.loginName = v.loginName;
    s.recipients = v.working;
    for (std::size_t k = 0; k < 2; ++k) {
        s.subjects[k] = {v.subject[k]};
        std::string line;
        for (const char c : v.contents[k]) {
            if (c == '\n') {
                s.contents[k].push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        s.contents[k].push_back(line);
    }
    return s;
}

bool ServiceFeed::sameAsShown(const std::vector<ServiceEnclosure>& list) const {
    if (!published_ || list.size() != shown_.size()) return false;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const ServiceEnclosure& a = list[i];
        const ServiceEnclosure& b = shown_[i];
        if (a.path != b.path || a.slot != b.slot || a.access != b.access || a.volumes != b.volumes ||
            a.identityPage != b.identityPage)
            return false;
    }
    return true;
}

void ServiceFeed::publish(const std::vector<ServiceEnclosure>& list) {
    MainForm& f = form_;
    DeviceState& dev = f.dev;
    // What a detection pass would have found: the enclosures in the service's order,
    // each with its identity page, and the letters of its volumes as drive rows.
    dev.FoundCount = static_cast<int>(list.size());
    int rows = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const ServiceEnclosure& e = list[i];
        dev.FoundDevices[i] = static_cast<std::uint32_t>(e.slot) | e.access;
        dev.groupCount[i] = 0;
        dev.freshPages[static_cast<std::size_t>(e.slot)] = e.identityPage;
        for (const char letter : e.volumes) {
            if (rows >= kMaxDriveEntries) break;
            DriveEntry& row = dev.drives[static_cast<std::size_t>(rows++)];
            row = DriveEntry{};
            row.letter = letter;
            row.driveType = 3;
            row.diskNumber = static_cast<std::uint8_t>(e.slot);
        }
    }
    dev.LogicalCount = rows;
    dev.PhysicalCount = rows;
    dev.DetectionPending = true;
    f.detection().publishFound();
    // The upgrade is not offered from a client window yet: only the service could run it.
    f.controls().setEnabled(names::Image2_Load, false);
    f.controls().setEnabled(names::Image2_Upgrade, false);
    published_ = true;
}

void ServiceFeed::update(std::vector<ServiceEnclosure> list, const std::vector<std::string>& notes) {
    MainForm& f = form_;
    std::stable_sort(list.begin(), list.end(),
                     [](const ServiceEnclosure& a, const ServiceEnclosure& b) { return a.device < b.device; });
    // Two objects claiming one physical drive: the first one counts.
    std::vector<ServiceEnclosure> unique;
    for (auto& e : list)
        if (std::none_of(unique.begin(), unique.end(), [&e](const ServiceEnclosure& u) { return u.slot == e.slot; }))
            unique.push_back(std::move(e));
    if (unique.size() > static_cast<std::size_t>(kMaxActive)) unique.resize(kMaxActive);

    const bool wasPresent = present_;
    present_ = true;
    const bool republish = !wasPresent || !sameAsShown(unique);
    if (!wasPresent) form_.controls().setHint(names::StaticText1, "");
    if (republish) {
        publish(unique);
        for (auto& shown : shown_) shown.poll = ~0u;
    }
    // The two devices the page polls take each record of a poll that read them, as the
    // poll itself stores what it read.
    DeviceState& dev = f.dev;
    std::uint8_t mask = 0;
    for (std::size_t i = 0; i < unique.size() && i < 2; ++i) {
        const ServiceEnclosure& e = unique[i];
        const bool fresh = republish || i >= shown_.size() || shown_[i].poll != e.poll;
        if (!e.polled || !fresh || !f.watched(static_cast<int>(i))) continue;
        if (static_cast<std::uint32_t>(i) == dev.HeldDevice) continue;
        dev.EnclosureStatus[static_cast<std::size_t>(e.slot)] = e.statusRecord;
        mask = static_cast<std::uint8_t>(mask | (1u << i));
    }
    shown_ = std::move(unique);
    if (mask != 0) {
        ++f.PollsDone;
        f.LastPollMask = mask;
        if (f.CurrentPage == 0 || dev.FirstPass) f.statusPage().refresh(dev.FirstPass);
    }
    // What the service says besides (no rights, a drive in use) goes where the window
    // says such things, once each time it changes.
    std::string said;
    for (const auto& n : notes) said += (said.empty() ? "" : "; ") + n;
    if (said != notesShown_ || !wasPresent) {
        if (!said.empty() || !wasPresent) f.setPanel(4, said.empty() ? " " : said);
        notesShown_ = said;
    }
}

void ServiceFeed::absent(bool busReachable, const std::string& why) {
    MainForm& f = form_;
    present_ = false;
    if (!published_ || !shown_.empty()) {
        shown_.clear();
        publish(shown_);
    }
    // Nothing was detected: the list published above is the service's absence.
    f.setPanel(1, " ");
    f.detection().setBannerVisible(true);
    f.detection().setBannerText(busReachable ? kServiceMissingBanner : kBusMissingBanner);
    f.controls().setHint(names::StaticText1, kServiceMissingHint);
    f.setPanel(4, busReachable || why.empty() ? std::string(kServiceMissingHelp) : why);
    notesShown_.clear();
}

void ServiceFeed::logWindowOpened() {
    logOpen_ = true;
    logAnswered_ = false;
    watching_ = false;
    const unsigned generation = ++logGeneration_;
    port_.watchDayLog([this, generation](const ServiceDayLogAnswer& a) {
        if (generation != logGeneration_ || !logOpen_) return;
        if (a.errorName == "org.freedesktop.DBus.Error.UnknownMethod") {
            // A service that cannot send its lines one by one: the day log is asked
            // for again while the window is open.
            refreshDayLog();
            Scheduler& sched = form_.scheduler();
            if (refreshTimer_ < 0) refreshTimer_ = sched.addTimer(kDayLogRefreshMs, [this] { refreshDayLog(); });
            sched.setTimerEnabled(refreshTimer_, true);
            return;
        }
        dayLog(a, true);
    });
}

void ServiceFeed::refreshDayLog() {
    const unsigned generation = logGeneration_;
    if (!logOpen_) return;
    port_.getDayLog([this, generation](const ServiceDayLogAnswer& a) {
        if (generation == logGeneration_ && logOpen_) dayLog(a, false);
    });
}

void ServiceFeed::dayLog(const ServiceDayLogAnswer& a, bool watched) {
    if (!a.errorName.empty()) {
        if (refreshTimer_ >= 0) form_.scheduler().setTimerEnabled(refreshTimer_, false);
        // Shown once: the window stays open and empty (polkit said no, or no service).
        if (!logAnswered_ || watched) form_.messageBox(a.errorText, "Message");
        logAnswered_ = true;
        return;
    }
    watching_ = watched;
    logAnswered_ = true;
    day_ = a.day;
    dayLines_.assign(a.lines.begin(), a.lines.begin() + static_cast<std::ptrdiff_t>(std::min(a.lines.size(), kMaxDayLines)));
}

void ServiceFeed::logWindowClosed() {
    logOpen_ = false;
    ++logGeneration_;
    if (refreshTimer_ >= 0) form_.scheduler().setTimerEnabled(refreshTimer_, false);
    if (watching_) port_.unwatchDayLog();
    watching_ = false;
}

void ServiceFeed::dayLogLine(const std::string& day, const std::string& line) {
    if (!logOpen_ || !watching_) return;
    // The first line of a new day begins a new day log, as the day files do.
    if (day != day_) {
        day_ = day;
        dayLines_.clear();
    }
    if (dayLines_.size() < kMaxDayLines) dayLines_.push_back(line);
}

bool ServiceFeed::readDayFile(const std::string& path, LogFileText& out) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() != 10 || name.compare(6, 4, ".log") != 0 ||
        !std::all_of(name.begin(), name.begin() + 6, [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    struct Wait {
        bool answered = false;
        ServiceDayLogAnswer answer;
    };
    auto wait = std::make_shared<Wait>();
    port_.getOlderDayLog(name.substr(0, 6), [wait](const ServiceDayLogAnswer& a) {
        wait->answer = a;
        wait->answered = true;
    });
    form_.scheduler().pumpUntil([wait] { return wait->answered; }, kDayFileWaitUs);
    out = LogFileText{};
    if (!wait->answered) {
        out.problem = "Log file " + path + " cannot be read";
    } else if (!wait->answer.errorName.empty()) {
        out.problem = wait->answer.errorText;
    } else {
        out.ok = true;
        out.lines = wait->answer.lines;
    }
    return true;
}

void ServiceFeed::alert(const std::vector<std::string>& lines) {
    if (onAlert) onAlert(lines);
}

}  // namespace raid
