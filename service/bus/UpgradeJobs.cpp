// StartUpgrade and the job objects: the checks before the authority, the request to
// the engine, and the job's object from the engine's first report to a minute after
// its last.
#include "service/bus/UpgradeJobs.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "service/bus/BusMessages.h"
#include "service/bus/BusServiceImpl.h"
#include "service/bus/ImageDescriptor.h"

namespace raid::bus {

namespace {

// The system's words when no enclosure answers at that name.
constexpr char kNoDeviceText[] = "No Device found !";
constexpr char kUpgradingText[] = "Firmware is upgrading, please wait a moment.";

std::uint64_t nowUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(t.tv_nsec) / 1000u;
}

}  // namespace

UpgradeJob::~UpgradeJob() { sd_event_source_disable_unref(timer); }

int BusService::Impl::publishJobs() {
    int r = sd_bus_add_fallback_vtable(bus, nullptr, kJobPrefix, kUpgradeInterface, jobVtable, &Impl::findJob, this);
    return r < 0 ? r : sd_bus_add_node_enumerator(bus, nullptr, kJobPrefix, &Impl::enumerateJobs, this);
}

bool BusService::Impl::checkUpgrade(sd_bus_message* m, Pending& p, sd_bus_error* error) {
    if (pendingUpgrades >= kMaxPendingUpgrades) {
        sd_bus_error_set(error, kErrorBusy, "Too many upgrade requests at once; try again later");
        return false;
    }
    if (!enclosures.count(p.call.slot)) {
        sd_bus_error_set(error, kErrorRefused, kNoDeviceText);
        return false;
    }
    for (const auto& [n, job] : jobs)
        if (!job->finished) {
            sd_bus_error_set(error, kErrorRefused, kUpgradingText);
            return false;
        }
    if (imageReaders->load() >= kMaxImageReaders) {
        sd_bus_error_set(error, kErrorBusy, "Too many images are being read; try again later");
        return false;
    }
    // Who asked, for the job's OwnerUid: the bus daemon knows (asked once per request).
    sd_bus_creds* creds = nullptr;
    uid_t uid = 0;
    if (sd_bus_query_sender_creds(m, SD_BUS_CREDS_EUID, &creds) >= 0 && sd_bus_creds_get_euid(creds, &uid) >= 0)
        p.uid = uid;
    sd_bus_creds_unref(creds);
    return true;
}

// The caller's descriptor may be a file on a FUSE mount whose server never answers, or
// on a hung network mount: fstat and pread then block for ever. So the bus thread never
// touches it: a reader thread of its own reads a copy of it, and the call is refused
// when no answer has come after kImageReadUs (the thread is then left to its fate; at
// most kMaxImageReaders of them live at once).
void BusService::Impl::readImage(std::uint64_t id) {
    Pending& p = pending.at(id);
    const int fd = fcntl(p.call.imageFd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        reply(id, kErrorRefused, kOpenFailText, {});
        return;
    }
    auto read = std::make_unique<ImageRead>();
    read->self = this;
    read->id = id;
    if (sd_event_add_time_relative(event, &read->timer, CLOCK_MONOTONIC, kImageReadUs, 0, &Impl::onImageReadTimer,
                                   read.get()) < 0) {
        close(fd);
        reply(id, kErrorRefused, kOpenFailText, {});
        return;
    }
    imageReads[id] = std::move(read);
    ++*imageReaders;
    std::weak_ptr<Inbox> box = inbox;
    try {
        std::thread([fd, box, id, readers = imageReaders] {
            DescriptorImage image = readImageDescriptor(fd);
            close(fd);
            --*readers;
            if (const auto b = box.lock())
                b->push([id, image = std::move(image)](Impl& self) mutable { self.imageRead(id, std::move(image)); });
        }).detach();
    } catch (const std::system_error&) {
        close(fd);
        --*imageReaders;
        imageReads.erase(id);
        reply(id, kErrorBusy, "No thread could be started to read the image; try again later", {});
    }
}

void BusService::Impl::imageRead(std::uint64_t id, DescriptorImage image) {
    imageReads.erase(id);
    const auto it = pending.find(id);
    if (it == pending.end()) return;  // refused for taking too long, or the service ends
    if (image.result != ImageLoadResult::loaded) {
        reply(id, kErrorRefused, image.problem, {});
        return;
    }
    Pending& p = it->second;
    p.upgrade = std::make_shared<UpgradeRequest>();
    p.upgrade->slot = p.call.slot;
    p.upgrade->image = std::move(image.bytes);
    p.upgrade->name = busText(image.name);
    authority->check(p.sender, BusAction::upgradeFirmware,
                     [this, id](const AuthorityAnswer& answer) { authorized(id, answer); });
}

int BusService::Impl::onImageReadTimer(sd_event_source*, std::uint64_t, void* data) {
    auto* read = static_cast<ImageRead*>(data);
    Impl* self = read->self;
    const std::uint64_t id = read->id;
    self->imageReads.erase(id);  // `read` is gone from here on
    self->reply(id, kErrorRefused, kOpenFailText, {});
    return 0;
}

BusService::Impl::ImageRead::~ImageRead() { sd_event_source_disable_unref(timer); }

void BusService::Impl::askUpgrade(std::uint64_t id) {
    std::weak_ptr<Inbox> box = inbox;
    const auto job = std::make_shared<unsigned>(0);
    Pending& p = pending.at(id);
    engine.upgrade(std::move(*p.upgrade), [box, id, job](UpgradeReport r) {
        if (const auto b = box.lock())
            b->push([id, job, r = std::move(r)](Impl& self) mutable { self.upgradeReport(id, job, std::move(r)); });
    });
    p.upgrade.reset();
}

void BusService::Impl::upgradeReport(std::uint64_t id, const std::shared_ptr<unsigned>& number, UpgradeReport r) {
    using Kind = UpgradeReport::Kind;
    if (r.kind == Kind::refused) {
        reply(id, kErrorRefused, r.errorText, {});
        return;
    }
    if (r.kind == Kind::started) {
        auto job = std::make_unique<UpgradeJob>();
        job->owner = this;
        job->number = *number = ++jobsStarted;
        const auto it = pending.find(id);
        if (it != pending.end()) {
            job->sender = it->second.sender;
            job->uid = it->second.uid;
            job->slot = it->second.call.slot;
        }
        job->state = std::move(r);
        job->state.running = true;
        job->sentAtUs = nowUs();
        const std::string path = job->path();
        jobs[job->number] = std::move(job);
        reply(id, {}, {}, [&path](sd_bus_message* m, const BusCall&) {
            return sd_bus_message_append_basic(m, 'o', path.c_str());
        });
        sd_bus_emit_interfaces_added(bus, path.c_str(), kUpgradeInterface, nullptr);
        return;
    }
    const auto it = jobs.find(*number);
    if (it == jobs.end() || it->second->finished) return;
    UpgradeJob& job = *it->second;
    const UpgradeReport before = job.state;
    job.state.title = r.title;
    job.state.panelText = r.panelText;
    job.state.value = r.value;
    job.state.maximum = r.maximum;
    job.changed = true;
    if (r.kind == Kind::progress) {
        // A new step shows at once; the bar's moves at most every kJobChangeUs.
        const bool step = r.panelText != before.panelText || r.maximum != before.maximum || r.title != before.title;
        if (step || nowUs() >= job.sentAtUs + kJobChangeUs) {
            jobChanged(job);
        } else if (!job.timer) {
            sd_event_add_time(event, &job.timer, CLOCK_MONOTONIC, job.sentAtUs + kJobChangeUs, 0, &Impl::onJobTimer,
                              &job);
        }
        return;
    }
    job.finished = true;
    job.state.running = false;
    job.state.succeeded = r.succeeded;
    job.state.outcome = r.outcome;
    job.state.backupPath = r.backupPath;
    jobChanged(job);
    const std::string path = job.path(), outcome = busText(job.state.outcome);
    sd_bus_emit_signal(bus, path.c_str(), kUpgradeInterface, "Finished", "bs", static_cast<int>(job.state.succeeded),
                       outcome.c_str());
    job.timer = sd_event_source_disable_unref(job.timer);
    sd_event_add_time_relative(event, &job.timer, CLOCK_MONOTONIC, kJobKeptUs, 0, &Impl::onJobTimer, &job);
}

void BusService::Impl::jobChanged(UpgradeJob& job) {
    job.timer = sd_event_source_disable_unref(job.timer);
    job.changed = false;
    job.sentAtUs = nowUs();
    sd_bus_emit_properties_changed_strv(bus, job.path().c_str(), kUpgradeInterface, nullptr);
}

int BusService::Impl::onJobTimer(sd_event_source*, std::uint64_t, void* data) {
    auto& job = *static_cast<UpgradeJob*>(data);
    auto* self = static_cast<Impl*>(job.owner);
    if (!job.finished) {
        if (job.changed) self->jobChanged(job);
        else job.timer = sd_event_source_disable_unref(job.timer);
        return 0;
    }
    // A minute after its end the job goes.
    const std::string path = job.path();
    self->jobs.erase(job.number);  // `job` is gone from here on
    sd_bus_emit_interfaces_removed(self->bus, path.c_str(), kUpgradeInterface, nullptr);
    return 0;
}

int BusService::Impl::findJob(sd_bus*, const char* path, const char*, void* data, void** found, sd_bus_error*) {
    auto* self = static_cast<Impl*>(data);
    const std::string prefix = std::string(kJobPrefix) + "/";
    const std::string_view p = path;
    if (p.size() <= prefix.size() || p.size() > prefix.size() + 9 || p.compare(0, prefix.size(), prefix) != 0) return 0;
    unsigned n = 0;
    for (std::size_t i = prefix.size(); i < p.size(); ++i) {
        if (p[i] < '0' || p[i] > '9') return 0;
        n = n * 10 + static_cast<unsigned>(p[i] - '0');
    }
    const auto it = self->jobs.find(n);
    if (it == self->jobs.end() || it->second->path() != p) return 0;
    *found = it->second.get();
    return 1;
}

int BusService::Impl::enumerateJobs(sd_bus*, const char*, void* data, char*** nodes, sd_bus_error*) {
    auto* self = static_cast<Impl*>(data);
    char** list = static_cast<char**>(calloc(self->jobs.size() + 1, sizeof(char*)));
    if (!list) return -ENOMEM;
    std::size_t n = 0;
    for (const auto& [number, job] : self->jobs) list[n++] = strdup(job->path().c_str());
    *nodes = list;
    return 0;
}

int BusService::Impl::jobProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                                  void* found, sd_bus_error*) {
    const UpgradeJob& job = *static_cast<const UpgradeJob*>(found);
    const UpgradeReport& s = job.state;
    const std::string p = property;
    auto flag = [&](bool v) {
        const int x = v;
        return sd_bus_message_append_basic(reply, 'b', &x);
    };
    if (p == "Enclosure") return sd_bus_message_append_basic(reply, 'o', pathOf(job.slot).c_str());
    if (p == "Operation") return appendText(reply, "upgrade");
    if (p == "Owner") return appendText(reply, job.sender);
    if (p == "OwnerUid") return sd_bus_message_append_basic(reply, 'u', &job.uid);
    if (p == "Running") return flag(!job.finished);
    if (p == "Title") return appendText(reply, s.title);
    if (p == "PanelText") return appendText(reply, s.panelText);
    if (p == "ProgressValue") return sd_bus_message_append_basic(reply, 'u', &s.value);
    if (p == "ProgressMaximum") return sd_bus_message_append_basic(reply, 'u', &s.maximum);
    if (p == "Succeeded") return flag(job.finished && s.succeeded);
    if (p == "Outcome") return appendText(reply, job.finished ? s.outcome : "");
    if (p == "BackupPath") return appendText(reply, s.backupPath);
    return -ENOENT;
}

#define RAID_JOB_PROPERTY(name, sig) \
    SD_BUS_PROPERTY(name, sig, &Impl::jobProperty, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE)

const sd_bus_vtable BusService::Impl::jobVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Enclosure", "o", &Impl::jobProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Operation", "s", &Impl::jobProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Owner", "s", &Impl::jobProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OwnerUid", "u", &Impl::jobProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    RAID_JOB_PROPERTY("Running", "b"),
    RAID_JOB_PROPERTY("Title", "s"),
    RAID_JOB_PROPERTY("PanelText", "s"),
    RAID_JOB_PROPERTY("ProgressValue", "u"),
    RAID_JOB_PROPERTY("ProgressMaximum", "u"),
    RAID_JOB_PROPERTY("Succeeded", "b"),
    RAID_JOB_PROPERTY("Outcome", "s"),
    RAID_JOB_PROPERTY("BackupPath", "s"),
    SD_BUS_SIGNAL_WITH_NAMES("Finished", "bs", SD_BUS_PARAM(succeeded) SD_BUS_PARAM(outcome), 0),
    SD_BUS_VTABLE_END,
};

}  // namespace raid::bus
