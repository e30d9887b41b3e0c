// Inside BusService: the hand-over from other threads and the bus thread's state. The
// bus thread's work is split by what it serves: BusService.cpp runs the thread, takes
// the hand-over, dispatches the methods and keeps the flood limits; the enclosure
// objects, the day-log and the mail methods each have a unit of their own.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include "service/bus/BusService.h"
#include "service/bus/ImageDescriptor.h"
#include "service/bus/UpgradeJobs.h"

typedef struct sd_bus_message sd_bus_message;
typedef struct sd_bus_vtable sd_bus_vtable;
typedef struct sd_event sd_event;
typedef struct sd_event_source sd_event_source;

namespace raid::bus {

inline constexpr char kErrorNotAuthorized[] = "org.qxraidgui.Monitor1.Error.NotAuthorized";
inline constexpr char kErrorBusy[] = "org.qxraidgui.Monitor1.Error.Busy";

// The hand-over between the engine thread (and any other) and the bus thread: a queue
// of work for the bus thread and an eventfd that wakes it. Shared with the engine's
// answers, which may come after the service has stopped (then they are dropped).
struct Inbox {
    using Work = std::function<void(BusService::Impl&)>;
    std::mutex mu;
    std::deque<Work> work;
    std::optional<EnclosureSnapshot> snapshot;
    bool closed = false;
    std::size_t dropped = 0;
    int fd = -1;

    Inbox() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Inbox() {
        if (fd >= 0) close(fd);
    }
    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &one, sizeof one);
    }
    void push(Work w) {
        {
            std::lock_guard<std::mutex> lock(mu);
            if (closed) return;
            if (work.size() >= BusService::kMaxQueued) {
                work.pop_front();
                ++dropped;
            }
            work.push_back(std::move(w));
        }
        wake();
    }
};

struct BusService::Impl {
    // A call that waits for the authority or the engine.
    struct Pending {
        sd_bus_message* message = nullptr;
        std::string sender;
        BusCall call;
        // StartUpgrade: the image read from the caller's descriptor, and the caller's uid.
        std::shared_ptr<UpgradeRequest> upgrade;
        std::uint32_t uid = kUnknownUid;
        bool senderGone = false;  // the caller left the bus meanwhile
    };
    static constexpr std::uint32_t kUnknownUid = 0xFFFFFFFF;

    BusEngine& engine;
    AuthorityFactory makeAuthority;
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    std::thread thread;

    // Bus thread only from here on.
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
    std::unique_ptr<Authority> authority;
    std::map<std::uint64_t, Pending> pending;
    std::map<std::string, std::size_t> pendingBy;
    std::uint64_t nextId = 1;

    // The enclosure objects (BusEnclosures.cpp).
    std::map<int, EnclosureState> enclosures;  // by slot
    std::vector<std::string> notes;

    Impl(BusEngine& e, AuthorityFactory f) : engine(e), makeAuthority(std::move(f)) {}

    // ---- the thread, the hand-over and the dispatch (BusService.cpp)
    std::string setUp(const std::string& address);
    void tearDown();
    static int onWake(sd_event_source*, int fd, std::uint32_t, void* data);
    static int onMethod(sd_bus_message* m, void* data, sd_bus_error* error);
    void authorized(std::uint64_t id, const AuthorityAnswer& answer);
    // Forgets the waiting call `id`.
    void finish(std::uint64_t id);
    // Answers the waiting call `id` with the error, or with what `fill` appends, and
    // forgets it. A call that no longer waits (the caller's bound was reached) is skipped.
    void reply(std::uint64_t id, const std::string& errorName, const std::string& errorText,
               const std::function<int(sd_bus_message*, const BusCall&)>& fill);
    static const sd_bus_vtable managerVtable[];

    // ---- the enclosure objects (BusEnclosures.cpp)
    int publishEnclosures();
    void apply(EnclosureSnapshot snapshot);
    static std::string pathOf(int slot);
    // The slot of an enclosure object's path; -1 for any other path.
    static int slotOf(std::string_view path);
    static int findEnclosure(sd_bus*, const char* path, const char*, void* data, void** found, sd_bus_error*);
    static int enumerate(sd_bus*, const char*, void* data, char*** nodes, sd_bus_error*);
    static int enclosureProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                                 void* found, sd_bus_error*);
    static int managerProperty(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                               sd_bus_error*);
    static const sd_bus_vtable enclosureVtable[];
    void emitAlert(const AlertEvent& a);

    // ---- the upgrade jobs (UpgradeJobs.cpp)
    std::map<unsigned, std::unique_ptr<UpgradeJob>> jobs;
    unsigned jobsStarted = 0;
    std::size_t pendingUpgrades = 0;
    int publishJobs();
    // The checks of a StartUpgrade before the authority is asked: an error name and
    // text in `error` when it goes no further.
    bool checkUpgrade(sd_bus_message* m, Pending& call, sd_bus_error* error);
    // The image is read from the caller's descriptor off the bus thread, then the
    // authority is asked.
    void readImage(std::uint64_t id);
    void imageRead(std::uint64_t id, DescriptorImage image);
    static int onImageReadTimer(sd_event_source*, std::uint64_t, void* data);
    // A caller's image being read, and the timer that gives up on it.
    struct ImageRead {
        Impl* self = nullptr;
        std::uint64_t id = 0;
        sd_event_source* timer = nullptr;
        ImageRead() = default;
        ImageRead(const ImageRead&) = delete;
        ImageRead& operator=(const ImageRead&) = delete;
        ~ImageRead();
    };
    std::map<std::uint64_t, std::unique_ptr<ImageRead>> imageReads;
    // Reader threads alive, shared with them (one may outlive the service).
    std::shared_ptr<std::atomic<std::size_t>> imageReaders = std::make_shared<std::atomic<std::size_t>>(0);
    void askUpgrade(std::uint64_t id);
    void upgradeReport(std::uint64_t id, const std::shared_ptr<unsigned>& job, UpgradeReport report);
    void jobChanged(UpgradeJob& job);
    static int onJobTimer(sd_event_source*, std::uint64_t, void* data);
    static int findJob(sd_bus*, const char* path, const char*, void* data, void** found, sd_bus_error*);
    static int enumerateJobs(sd_bus*, const char*, void* data, char*** nodes, sd_bus_error*);
    static int jobProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void* found,
                           sd_bus_error*);
    static const sd_bus_vtable jobVtable[];

    // ---- the day logs (DayLogMethods.cpp)
    void askDayLog(std::uint64_t id);
    void askHistory(std::uint64_t id);
    void answerHistory(std::uint64_t id, const HistoryAnswer& a);
    void answerDayLog(std::uint64_t id, const DayLogAnswer& a);
    void emitLogLines(const std::string& day, std::size_t first, const std::vector<std::string>& lines);

    // ---- the day-log watchers (DayLogWatchers.cpp)
    struct Watcher {
        std::string day;        // the day whose lines it has
        std::size_t next = 0;   // the index of the first line it has not
    };
    std::map<std::string, Watcher> watchers;  // by unique bus name
    // WatchDayLog answered: the caller follows from the end of `a`'s lines, unless it
    // left or the watchers are full (then false with the error sent).
    bool addWatcher(std::uint64_t id, const DayLogAnswer& a);
    int unwatch(sd_bus_message* m, const std::string& sender);
    void sendToWatchers(const std::string& day, std::size_t first, const std::vector<std::string>& lines);
    static int onNameOwnerChanged(sd_bus_message* m, void* data, sd_bus_error*);

    // ---- the mail (MailMethods.cpp)
    void askMail(std::uint64_t id);
    void answerMail(std::uint64_t id, const MailAnswer& a);
    void emitMail(const MailEvent& e);
};

}  // namespace raid::bus
