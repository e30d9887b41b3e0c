#include "app/ServiceFeed.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "app/DevicePresenter.h"
#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "app/pages/StatusPage.h"
#include "maintenance/FirmwareUpgrade.h"
#include "platform/Paths.h"

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

// The service is trusted, its texts still measured: no title or panel longer than a
// page shows, no closing text longer than a box holds.
std::string bounded(const std::string& s, std::size_t most) { return s.size() <= most ? s : s.substr(0, most); }

// A reader of a file another reader keeps open: the loader reads it to the end and
// lets go of its reader, the window keeps the file.
class LentReader final : public FileReader {
public:
    explicit LentReader(FileReader& kept) : kept_(kept) {}
    std::uint64_t length() const override { return kept_.length(); }
    std::optional<std::size_t> readAt(std::uint64_t offset, std::uint8_t* dest, std::size_t count) override {
        return kept_.readAt(offset, dest, count);
    }

private:
    FileReader& kept_;
};

// The caption of the box the page shows at an upgrade's end, as raid-gui-sim's page
// shows it: the procedure's own, told by the bar it counted (a sub-code update counts
// whole sub-codes, fewer than the full upgrade's steps), or the refusal's.
std::string closingCaption(const ServiceJob& j) {
    if (j.succeeded) return kUpgradeCaption;
    if (j.outcome == kRebuildingText || j.outcome == kWrongKindText) return "Error";
    if (j.outcome == kFileOffsetErrorText) return kFileOffsetErrorCaption;
    if (j.maximum > 0 && j.maximum < upgrade::kFullUpgradeUnits && j.maximum % upgrade::kSubCodeUnits == 0)
        return kUpgradeCaption;
    return "Message";
}

}  // namespace

std::optional<ServiceJob> jobFromProperties(const std::string& path, const BusProperties& props) {
    const auto* enclosure = valueOf<std::string>(props, "Enclosure");
    const auto* running = valueOf<bool>(props, "Running");
    const auto* title = valueOf<std::string>(props, "Title");
    const auto* panel = valueOf<std::string>(props, "PanelText");
    const auto* value = valueOf<std::int64_t>(props, "ProgressValue");
    const auto* maximum = valueOf<std::int64_t>(props, "ProgressMaximum");
    const auto* succeeded = valueOf<bool>(props, "Succeeded");
    const auto* outcome = valueOf<std::string>(props, "Outcome");
    if (!enclosure || !running || !title || !panel || !value || !maximum || !succeeded || !outcome) return std::nullopt;
    if (*value < 0 || *value > 0xFFFFFFFFLL || *maximum < 0 || *maximum > 0xFFFFFFFFLL) return std::nullopt;
    ServiceJob j;
    j.path = path;
    j.enclosure = *enclosure;
    j.running = *running;
    j.title = bounded(*title, 256);
    j.panelText = bounded(*panel, 256);
    j.value = static_cast<std::uint32_t>(*value);
    j.maximum = static_cast<std::uint32_t>(*maximum);
    j.succeeded = *succeeded;
    j.outcome = bounded(*outcome, 4096);
    return j;
}

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
    // Optional: a service from before the estimate lacks them, and the window then shows
    // the time left as not known rather than not showing the enclosure.
    if (const auto* activity = valueOf<std::string>(props, "Activity"))
        e.work = *activity == "rebuild" ? WorkKind::Rebuild : *activity == "scan" ? WorkKind::Scan : WorkKind::None;
    const auto* secondsLeft = valueOf<std::int64_t>(props, "SecondsLeft");
    const auto* rate = valueOf<double>(props, "PercentPerHour");
    // Bounded like every value from the bus: up to ten years, a rate the text can show.
    if (secondsLeft && rate && *secondsLeft >= 0 && *secondsLeft <= 315'360'000 && std::isfinite(*rate) && *rate > 0 &&
        *rate <= 1e6) {
        e.timeLeft.known = true;
        e.timeLeft.secondsLeft = static_cast<double>(*secondsLeft);
        e.timeLeft.percentPerHour = *rate;
    }
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

ServiceFeed::ServiceFeed(MainForm& form, ServicePort& port)
    : form_(form), port_(port), userFiles_(makeStdFileStore()) {}
ServiceFeed::~ServiceFeed() = default;

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
        f.decoder().adoptTimeLeft(static_cast<int>(i), e.work, e.timeLeft);
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
    // A service that went took its jobs along: the page has none to follow.
    endShown();
    jobs_.clear();
    ownJob_.clear();
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
    const std::string name = paths::fileNameOf(path);
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

namespace raid {

void ServiceFeed::loadImage(const std::string& path) {
    MainForm& f = form_;
    if (f.MaintenanceBusy || asking_) return;
    image_.reset();
    OpenedFile opened = userFiles_->openForRead(path, ImageLoader::kMaxImageFile);
    std::unique_ptr<FileReader> kept = std::move(opened.reader);
    if (kept) opened.reader = std::make_unique<LentReader>(*kept);
    // The load's boxes and status-bar texts come up as it goes, as on raid-gui-sim's page.
    if (loadFirmwareImage(f, path, std::move(opened)).loaded) image_ = std::move(kept);
}

void ServiceFeed::startUpgrade() {
    MainForm& f = form_;
    // As the page ignores a click while an upgrade runs, or a detection owns the list.
    if (f.MaintenanceBusy || asking_ || f.dev.DetectionPending) return;
    if (!image_ || !f.firmwareImage().valid()) {
        f.messageBox(kNoImageText, "Message");
        return;
    }
    const int count = f.dev.ActiveCount.load();
    const int device = f.UpgradeDevice;
    if (count <= 0) {
        presentDeviceResult(f.reporter(), noDevice(), DeviceSite::flash);
        return;
    }
    const std::string* enclosure = nullptr;
    if (device >= 0 && device < count && device < 2) {
        const int slot = static_cast<int>(f.dev.ActiveDevices[static_cast<std::size_t>(device)] & kCodeDriveMask);
        for (const ServiceEnclosure& e : shown_)
            if (e.slot == slot) enclosure = &e.path;
    }
    if (!enclosure) {
        presentDeviceResult(f.reporter(), noUpgradeMode(), DeviceSite::flash);
        return;
    }
    asking_ = true;
    port_.startUpgrade(*enclosure, image_->descriptor(), [this](const ServiceUpgradeAnswer& a) { upgradeAnswered(a); });
}

void ServiceFeed::upgradeAnswered(const ServiceUpgradeAnswer& a) {
    asking_ = false;
    if (!a.errorName.empty()) {
        // The system's words where it has them, in the box the page shows them in.
        if (a.errorName == kErrorNotAuthorized)
            form_.messageBox(kUpgradeNotAllowed + a.errorText, "Message");
        else if (a.errorText == kOpenFailText)
            form_.messageBox(a.errorText, kOpenFailCaption);
        else if (a.errorText == kNotFirmwareText)
            form_.messageBox(a.errorText, kNotFirmwareCaption);
        else
            form_.messageBox(a.errorText, "Message");
        return;
    }
    ownJob_ = a.job;
    // Its announcement may have come first; it may even have ended already.
    const auto it = jobs_.find(a.job);
    if (it == jobs_.end()) return;
    if (it->second.running)
        follow(it->second);
    else
        ended(it->second);
}

std::uint32_t ServiceFeed::heldIndex(const std::string& enclosure) const {
    for (std::size_t i = 0; i < shown_.size() && i < 2; ++i)
        if (shown_[i].path == enclosure) return static_cast<std::uint32_t>(i);
    return static_cast<std::uint32_t>(form_.UpgradeDevice);
}

void ServiceFeed::job(const ServiceJob& j) {
    auto it = jobs_.find(j.path);
    if (it == jobs_.end()) {
        if (jobs_.size() >= kMaxJobs) return;
        it = jobs_.emplace(j.path, j).first;
    } else {
        // A job that ended never runs again: a late change tells nothing new.
        if (!it->second.running) return;
        it->second = j;
    }
    if (j.running)
        follow(j);
    else
        ended(j);
}

void ServiceFeed::jobFinished(const std::string& path, bool succeeded, const std::string& outcome) {
    const auto it = jobs_.find(path);
    if (it == jobs_.end() || !it->second.running) return;
    ServiceJob& j = it->second;
    j.running = false;
    j.succeeded = succeeded;
    j.outcome = bounded(outcome, 4096);
    ended(j);
}

void ServiceFeed::jobGone(const std::string& path) {
    if (path == shownJob_) endShown();
    if (path == ownJob_) ownJob_.clear();
    jobs_.erase(path);
}

void ServiceFeed::follow(const ServiceJob& j) {
    MainForm& f = form_;
    if (shownJob_.empty()) {
        // Whoever started it, the page refuses what it refuses during an upgrade; the
        // window that started it also keeps to its page and device, as raid-gui-sim's
        // does during its own.
        shownJob_ = j.path;
        f.setMaintenanceBusy(true);
    } else if (shownJob_ != j.path) {
        return;
    }
    if (j.path == ownJob_) f.dev.HeldDevice = heldIndex(j.enclosure);
    // The panel, the bar and the title as the page's own upgrade draws them: the
    // progress counter goes into the bar when the page's timer copies it.
    UpgradePage& page = f.upgradePage();
    const UpgradePageView& v = page.model().view();
    if (j.maximum > 0) {
        if (!v.panelShown || v.maximum != j.maximum || v.title != j.title)
            page.beginProgress(j.title, j.panelText, j.maximum);
        else if (v.panelText != j.panelText)
            page.panelText(j.panelText);
        f.ProgressValue = j.value;
    }
}

void ServiceFeed::endShown() {
    if (shownJob_.empty()) return;
    MainForm& f = form_;
    UpgradePage& page = f.upgradePage();
    if (page.model().view().panelShown) page.endProgress();
    shownJob_.clear();
    f.setMaintenanceBusy(false);
}

void ServiceFeed::ended(const ServiceJob& j) {
    MainForm& f = form_;
    if (j.path == shownJob_) {
        f.ProgressValue = j.value;
        UpgradePage& page = f.upgradePage();
        if (page.model().view().panelShown) page.endProgress();
    }
    // The closing box only in the window that started it, once.
    if (j.path == ownJob_) {
        ownJob_.clear();
        f.messageBox(j.outcome, closingCaption(j));
    }
    if (j.path == shownJob_) endShown();
}

}  // namespace raid
