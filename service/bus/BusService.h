// The service on the system bus: a thread of its own owns the sd-bus connection.
//
// The engine thread never waits for the bus. It hands over values (BusState.h) through
// publish(), logLines(), alert() and mail(), which queue them and wake the bus thread;
// a method that needs the engine is handed to the BusEngine, whose answer comes back
// the same way and is sent from the bus thread. Every method asks the Authority first.
//
// Objects (see the README, "The service on the system bus"):
//   /org/qxraidgui/Monitor1                  org.qxraidgui.Monitor1, ObjectManager
//                                            (the mail methods: BusMessages.h)
//   /org/qxraidgui/Monitor1/enclosure/driveN org.qxraidgui.Monitor1.Enclosure (N: the
//                                            physical drive the enclosure answers on)
//   /org/qxraidgui/Monitor1/job/N            org.qxraidgui.Monitor1.Upgrade (N: the
//                                            upgrades started since the service started)
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "service/bus/Authority.h"
#include "service/bus/BusArgs.h"
#include "service/bus/BusState.h"
#include "service/bus/BusText.h"

typedef struct sd_bus sd_bus;

namespace raid::bus {

// What the bus asks of the engine.
class BusEngine {
public:
    virtual ~BusEngine() = default;
    using Reply = std::function<void(DayLogAnswer)>;
    // Called on the bus thread for a checked and authorized call; `reply` is called at
    // most once, from any thread (never, when the engine ends first).
    virtual void dayLog(const BusCall& call, Reply reply) = 0;
    // The mail methods (GetMailSettings, SaveMailSettings, SendTestMail), the same way.
    // An engine without mail settings says so.
    using MailReply = std::function<void(MailAnswer)>;
    virtual void mail(const BusCall&, MailReply reply) {
        MailAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.NotSupported";
        a.errorText = "This service keeps no mail settings";
        reply(std::move(a));
    }
    // GetHistory, checked (every local user may read it, as the properties): the
    // enclosure's samples from the call's first minute on. An engine without a
    // history says so.
    using HistoryReply = std::function<void(HistoryAnswer)>;
    virtual void history(const BusCall&, HistoryReply reply) {
        HistoryAnswer a;
        a.errorName = "org.freedesktop.DBus.Error.NotSupported";
        a.errorText = "This service keeps no history";
        reply(std::move(a));
    }
    // StartUpgrade, checked and authorized: `report` is called from the engine thread,
    // first with refused or started, then as the upgrade goes. An engine without
    // enclosures refuses.
    using UpgradeReporter = std::function<void(UpgradeReport)>;
    virtual void upgrade(UpgradeRequest, UpgradeReporter report) {
        UpgradeReport r;
        r.errorText = "This service upgrades no firmware";
        report(std::move(r));
    }
};

// Makes the authority for the connection (on the bus thread, before the name is taken).
using AuthorityFactory = std::function<std::unique_ptr<Authority>(sd_bus* bus)>;

class BusService {
public:
    BusService(BusEngine& engine, AuthorityFactory makeAuthority);
    ~BusService();
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

    // Connects (`address` "" is the system bus), publishes the objects and takes the
    // name. False with `error` in words when any of it fails; nothing runs then.
    bool start(const std::string& address, std::string& error);
    // Ends the bus thread; calls waiting for an answer get none. Idempotent.
    void stop();

    // Any thread. The newest snapshot replaces one the bus thread has not taken yet.
    void publish(EnclosureSnapshot snapshot);
    // `first` is the index of the first of `lines` among the day's lines (kUnknownIndex:
    // not known, then every watcher gets them all).
    static constexpr std::size_t kUnknownIndex = static_cast<std::size_t>(-1);
    void logLines(const std::string& day, std::vector<std::string> lines, std::size_t first = kUnknownIndex);
    void alert(AlertEvent event);
    void mail(MailEvent event);

    // Calls waiting for polkit or the engine at once: over all callers, and per caller.
    static constexpr std::size_t kMaxPending = 64;
    static constexpr std::size_t kMaxPendingPerCaller = 8;
    // StartUpgrade calls waiting at once (each holds its image's bytes).
    static constexpr std::size_t kMaxPendingUpgrades = 4;
    // How long a caller's image descriptor may take to read before the call is refused
    // (a file on a mount whose server never answers), and how many reads may hang at once.
    static constexpr std::uint64_t kImageReadUs = 15'000'000;
    static constexpr std::size_t kMaxImageReaders = 8;
    // How long a job's object stays after the upgrade ended, and how often at most its
    // properties change while it runs.
    static constexpr std::uint64_t kJobKeptUs = 60'000'000;
    static constexpr std::uint64_t kJobChangeUs = 100'000;
    // Callers that follow the day log with WatchDayLog at once.
    static constexpr std::size_t kMaxWatchers = 64;
    // Events waiting for the bus thread; past it the oldest are dropped (a stalled bus
    // must not grow the service).
    static constexpr std::size_t kMaxQueued = 4096;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace raid::bus
