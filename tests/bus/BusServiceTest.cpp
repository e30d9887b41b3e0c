// The bus side of the service on a private bus, with an authority and an engine of the
// test's own: the hand-over between threads, the checks of every method, the limits.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <systemd/sd-event.h>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "bus/BusClient.h"
#include "service/bus/BusArgs.h"
#include "service/bus/BusService.h"
#include "service/bus/ImageDescriptor.h"
#include "maintenance/FirmwareImage.h"
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include "support/PrivateBus.h"

namespace raid {
namespace {

using bus::AuthorityAnswer;
using bus::BusAction;
using test::BusClient;
using test::PrivateBus;

// Answers as told, on the connection's loop; while hanging it keeps the questions.
class FakeAuthority final : public bus::Authority {
public:
    explicit FakeAuthority(sd_bus* b) : event_(sd_bus_get_event(b)) {}
    ~FakeAuthority() override {
        for (auto& [source, w] : waiting_) sd_event_source_disable_unref(source);
    }
    static std::atomic<bool> allow, hang;
    static std::atomic<int> asked;

    void check(const std::string& sender, BusAction action, Done done) override {
        ++asked;
        EXPECT_TRUE(action == BusAction::readLogs || action == BusAction::upgradeFirmware);
        EXPECT_EQ(sender.rfind(":1.", 0), 0u) << sender;
        if (hang) {
            held_.push_back(std::move(done));
            return;
        }
        sd_event_source* source = nullptr;
        ASSERT_GE(sd_event_add_defer(event_, &source, &FakeAuthority::fire, this), 0);
        waiting_.emplace(source, std::move(done));
    }

private:
    static int fire(sd_event_source* source, void* data) {
        auto* self = static_cast<FakeAuthority*>(data);
        Done done = std::move(self->waiting_[source]);
        self->waiting_.erase(source);
        sd_event_source_disable_unref(source);
        AuthorityAnswer a;
        a.allowed = allow;
        if (!a.allowed) a.problem = "Not authorized";
        done(a);
        return 0;
    }
    sd_event* event_;
    std::map<sd_event_source*, Done> waiting_;
    std::vector<Done> held_;
};
std::atomic<bool> FakeAuthority::allow{false}, FakeAuthority::hang{false};
std::atomic<int> FakeAuthority::asked{0};

// An engine thread of its own that answers day-log requests.
class FakeEngine final : public bus::BusEngine {
public:
    FakeEngine() : thread_([this] { loop(); }) {}
    ~FakeEngine() override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void dayLog(const bus::BusCall& call, Reply reply) override {
        std::lock_guard<std::mutex> lock(mu_);
        work_.push_back([call, reply] {
            bus::DayLogAnswer a;
            a.day = call.method == bus::BusMethod::getOlderDayLog ? call.day : "261210";
            // A line as a device may leave it: bytes that are no UTF-8 and a NUL.
            a.lines = {"first line", std::string("model \xff\xfe\0x", 10)};
            reply(a);
        });
        cv_.notify_all();
    }

    // An upgrade whose bar moves far faster than anyone should be told of it.
    void upgrade(bus::UpgradeRequest request, UpgradeReporter report) override {
        std::lock_guard<std::mutex> lock(mu_);
        work_.push_back([this, request, report] {
            upgradeName = request.name;
            upgradeBytes = request.image.size();
            bus::UpgradeReport r;
            r.kind = bus::UpgradeReport::Kind::started;
            report(r);
            r.kind = bus::UpgradeReport::Kind::progress;
            r.running = true;
            r.title = "Firmware Update...";
            r.maximum = 3000;
            for (r.value = 1; r.value <= r.maximum; ++r.value) {
                r.panelText = r.value <= 1500 ? "Process 1 / 2" : "Process 2 / 2";
                report(r);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            r.kind = bus::UpgradeReport::Kind::finished;
            r.running = false;
            r.value = r.maximum;
            r.succeeded = true;
            r.outcome = "Firmware Upgrade 2/2completed!";
            report(r);
        });
        cv_.notify_all();
    }
    std::string upgradeName;
    std::size_t upgradeBytes = 0;

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            cv_.wait(lock, [this] { return done_ || !work_.empty(); });
            if (done_) return;
            auto w = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            w();
            lock.lock();
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> work_;
    bool done_ = false;
    std::thread thread_;
};

bus::EnclosureSnapshot snapshotOf(unsigned poll, std::size_t enclosures) {
    bus::EnclosureSnapshot s;
    s.poll = poll;
    for (std::size_t i = 0; i < enclosures; ++i) {
        bus::EnclosureState e;
        e.slot = static_cast<int>(i) + 1;
        e.summary.device = static_cast<int>(i) + 1;
        e.summary.name = "RAID \xc0 [E]";  // no UTF-8: goes out as U+FFFD
        e.summary.bays[0].state = "present";
        e.summary.bays[1].state = poll % 2 ? "absent" : "present";
        e.statusRecord.fill(0x33);
        // The first rebuilds with a known time left; the second's is not known.
        e.summary.activity = "rebuild";
        e.summary.timed = true;
        if (i == 0) e.summary.timeLeft = {true, 7980.4, 2.5};
        s.enclosures.push_back(e);
    }
    return s;
}

TEST(BusText, BytesThatAreNoUtf8AndNulBecomeReplacementCharacters) {
    EXPECT_EQ(bus::busText("ok \xc3\xa9"), "ok \xc3\xa9");
    EXPECT_EQ(bus::busText(std::string("a\0b", 3)),
              "a\xEF\xBF\xBD"
              "b");
    const std::string bad = "\xEF\xBF\xBD";
    EXPECT_EQ(bus::busText("\xc0\xaf\xed\xa0\x80"), bad + bad + bad + bad + bad);
    EXPECT_EQ(bus::busText("\xe2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(BusArgs, OnlyTheMethodsOwnTypesAndADayFileNamePass) {
    std::string error;
    EXPECT_TRUE(bus::decodeCall("GetDayLog", "", {}, error));
    EXPECT_FALSE(bus::decodeCall("GetDayLog", "s", {"x"}, error));
    EXPECT_FALSE(bus::decodeCall("Frobnicate", "", {}, error));
    const auto day = bus::decodeCall("GetOlderDayLog", "s", {"240229"}, error);
    ASSERT_TRUE(day);
    EXPECT_EQ(day->day, "240229");
    for (const char* bad : {"230229", "241301", "240100", "../../etc/passwd", "26121", "2612100", "26121a", ""})
        EXPECT_FALSE(bus::decodeCall("GetOlderDayLog", "s", {bad}, error)) << bad;
    EXPECT_FALSE(bus::decodeCall("GetOlderDayLog", "i", {}, error));
    EXPECT_FALSE(bus::decodeCall("GetOlderDayLog", "s", {}, error));
    EXPECT_FALSE(bus::decodeCall("GetOlderDayLog", "s", {std::string(100000, '1')}, error));
    const auto upgrade = bus::decodeCall(
        "StartUpgrade", "oh", {bus::BusArg::path("/org/qxraidgui/Monitor1/enclosure/drive12"), bus::BusArg::descriptor(5)},
        error);
    ASSERT_TRUE(upgrade);
    EXPECT_EQ(upgrade->slot, 12);
    EXPECT_EQ(upgrade->imageFd, 5);
    for (const char* bad : {"/org/qxraidgui/Monitor1/enclosure/drive012", "/org/qxraidgui/Monitor1/enclosure/drive100",
                            "/org/qxraidgui/Monitor1/enclosure/drive-1", "/org/qxraidgui/Monitor1/job/1", ""})
        EXPECT_FALSE(bus::decodeCall("StartUpgrade", "oh", {bus::BusArg::path(bad), bus::BusArg::descriptor(5)}, error))
            << bad;
    EXPECT_FALSE(bus::decodeCall("StartUpgrade", "oh",
                                 {bus::BusArg::path("/org/qxraidgui/Monitor1/enclosure/drive1"), bus::BusArg::descriptor(-1)},
                                 error));
    EXPECT_FALSE(bus::decodeCall("StartUpgrade", "os", {"/org/qxraidgui/Monitor1/enclosure/drive1", "x"}, error));
}

// The mail values: every text bounded and UTF-8, the lists counted, the choice in
// range, a password only as a new one.
TEST(BusArgs, MailValuesAreBoundedCountedAndInRange) {
    const auto args = [](auto change) {
        std::vector<bus::BusArg> a = {"25", "mail.example.org", "Ops", "ops@example.org", "0", "ops",
                                      bus::BusArg::flag(true), "Secret1", bus::BusArg::flag(true),
                                      bus::BusArg::flag(false), bus::BusArg::flag(true),
                                      bus::BusArg::unsignedNumber(1), bus::BusArg::strings({"a@x.org", "b@x.org"}),
                                      bus::BusArg::strings({"Disk trouble", "Gone"}),
                                      bus::BusArg::strings({"one\ntwo", ""})};
        change(a);
        return a;
    };
    std::string error;
    const char* sig = "ssssssbsbbbuasasas";
    const auto ok = bus::decodeCall("SaveMailSettings", sig, args([](auto&) {}), error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(ok->mail.fields[kHost], "mail.example.org");
    EXPECT_EQ(ok->mail.fields[kPassword], "Secret1");
    EXPECT_TRUE(ok->newPassword && ok->mail.loginOn && !ok->mail.noMailKind1 && ok->mail.noMailKind2);
    EXPECT_EQ(ok->mail.security, 1u);
    EXPECT_EQ(ok->mail.working, (std::vector<std::string>{"a@x.org", "b@x.org"}));
    EXPECT_EQ(ok->mail.subject[1], "Gone");
    EXPECT_EQ(ok->mail.contents[0], "one\ntwo");
    const std::string bigHost(1025, 'h'), badUtf8 = "\xC3(", bigPassword(257, 'p');
    const std::vector<std::function<void(std::vector<bus::BusArg>&)>> hostile = {
        [](auto& a) { a[6] = bus::BusArg::flag(false); },  // a password that is no new one
        [&](auto& a) { a[1] = bus::BusArg(bigHost); },
        [&](auto& a) { a[2] = bus::BusArg(badUtf8); },
        [&](auto& a) { a[7] = bus::BusArg(bigPassword); },
        [](auto& a) { a[11] = bus::BusArg::unsignedNumber(3); },
        [](auto& a) { a[8].number = 2; },
        [](auto& a) { a[12].list.assign(11, "a@x.org"); },
        [](auto& a) { a[13].list.pop_back(); },
        [](auto& a) { a[14].list.push_back("x"); },
        [&](auto& a) { a[12].list[0] = badUtf8; },
        [](auto& a) { a[3] = bus::BusArg::flag(true); },  // a type the signature has not
        [](auto& a) { a.pop_back(); },
    };
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        error.clear();
        EXPECT_FALSE(bus::decodeCall("SaveMailSettings", sig, args(hostile[i]), error)) << i;
        EXPECT_FALSE(error.empty()) << i;
    }
    EXPECT_TRUE(bus::decodeCall("GetMailSettings", "", {}, error));
    EXPECT_FALSE(bus::decodeCall("SendTestMail", "s", {"x"}, error));
}

// An image handed over as a descriptor: only a regular file of an image's size is
// read, never a FIFO, a device, a socket, a huge file or a descriptor not open for
// reading; the caller's offset stays where it was.
TEST(ImageDescriptor, OnlyARegularFileOfAnImagesSizeIsReadAndNothingWaits) {
    char folder[] = "/tmp/raidgui-image-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string image(firmware::kFlashSize, '\x5A');
    std::ofstream(dir + "/ok.bin", std::ios::binary) << image;
    std::ofstream(dir + "/short.bin", std::ios::binary) << image.substr(0, 1000);
    int fd = open((dir + "/ok.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lseek(fd, 77, SEEK_SET), 0);
    bus::DescriptorImage got = bus::readImageDescriptor(fd);
    EXPECT_EQ(got.result, ImageLoadResult::loaded);
    EXPECT_EQ(got.bytes, image);
    EXPECT_EQ(got.problem, "");
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 77);
    close(fd);
    const auto refusedAs = [](int d, ImageLoadResult result) {
        const bus::DescriptorImage r = bus::readImageDescriptor(d);
        if (d >= 0) close(d);
        EXPECT_EQ(r.result, result);
        EXPECT_TRUE(r.bytes.empty());
        return r.problem;
    };
    EXPECT_EQ(refusedAs(open((dir + "/short.bin").c_str(), O_RDONLY), ImageLoadResult::rejected), kNotFirmwareText);
    // 100 MB (sparse): refused from its size, not read.
    fd = open((dir + "/huge.bin").c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_EQ(ftruncate(fd, 100'000'000), 0);
    EXPECT_EQ(refusedAs(fd, ImageLoadResult::openFailed), kOpenFailText);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    refusedAs(open((dir + "/fifo").c_str(), O_RDWR | O_NONBLOCK), ImageLoadResult::openFailed);
    refusedAs(open("/dev/zero", O_RDONLY), ImageLoadResult::openFailed);
    refusedAs(open(dir.c_str(), O_RDONLY | O_DIRECTORY), ImageLoadResult::openFailed);
    refusedAs(open((dir + "/ok.bin").c_str(), O_WRONLY), ImageLoadResult::openFailed);
    refusedAs(open((dir + "/ok.bin").c_str(), O_PATH), ImageLoadResult::openFailed);
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    refusedAs(pair[0], ImageLoadResult::openFailed);
    refusedAs(-1, ImageLoadResult::openFailed);
    std::system(("rm -rf " + dir).c_str());
}

TEST(BusService, PublishesFromAnotherThreadAndChecksEveryCallBeforeTheEngineSeesIt) {
    char tmpl[] = "/tmp/raid-bus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    PrivateBus privateBus(tmpl);
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    FakeEngine engine;
    bus::BusService service(engine, [](sd_bus* b) { return std::make_unique<FakeAuthority>(b); });
    std::string error;
    ASSERT_TRUE(service.start(privateBus.address(), error)) << error;
    // A second service cannot take the name, and says so.
    FakeEngine other;
    bus::BusService second(other, [](sd_bus* b) { return std::make_unique<FakeAuthority>(b); });
    EXPECT_FALSE(second.start(privateBus.address(), error));
    EXPECT_NE(error.find("taken"), std::string::npos) << error;

    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());
    // The engine side: snapshots, lines and alerts from a thread of its own, all along.
    std::atomic<bool> publishing{true};
    std::atomic<unsigned> published{0};
    std::thread engineThread([&] {
        for (unsigned poll = 1; publishing; ++poll) {
            service.publish(snapshotOf(poll, poll < 40 ? 2 : 1));
            service.logLines("261210", {"line " + std::to_string(poll)});
            if (poll == 5) service.alert(bus::AlertEvent{3, 1, 2, {"Device1 HDD2 fail"}});
            if (poll == 6) service.mail(bus::MailEvent{3, 1, "RAID alert", false, "no server", 0, true});
            published = poll;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1",
                      two = "/org/qxraidgui/Monitor1/enclosure/drive2";
    EXPECT_TRUE(
        client.until([&] { return client.seen("InterfacesAdded", "", two) || client.seen("PropertiesChanged", two); }));
    EXPECT_TRUE(client.until([&] { return client.seen("InterfacesRemoved", "", two); }));
    EXPECT_TRUE(client.until([&] { return client.seen("AlertRaised", "", "3") && client.seen("MailOutcome"); }));
    EXPECT_TRUE(client.seen("LogLine", "", "line "));
    EXPECT_EQ(client.bytesOf(one, "StatusRecord"), 512);
    EXPECT_EQ(client.bytesOf(one, "IdentityPage"), 512);
    EXPECT_EQ(client.bytesOf(two, "StatusRecord"), -1);
    EXPECT_EQ(client.bayStates(one).size(), 2u);
    const std::string left = std::string(tmpl) + "/left.txt";
    EXPECT_EQ(privateBus.busctl("get-property org.qxraidgui.Monitor1 " + one +
                                    " org.qxraidgui.Monitor1.Enclosure SecondsLeft PercentPerHour",
                                left),
              0);
    std::ifstream leftFile(left);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(leftFile), {}), "x 7980\nd 2.5\n");
    // Everybody may watch, also an unprivileged user.
    const std::string unprivileged = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0) {
        const std::string cmd = unprivileged + "busctl --address=" + privateBus.address() +
                                " get-property org.qxraidgui.Monitor1 " + one +
                                " org.qxraidgui.Monitor1.Enclosure Name >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        const std::string logs = unprivileged + "busctl --address=" + privateBus.address() +
                                 " call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 GetDayLog"
                                 " 2>&1 | grep -q \"Not authorized\"";
        EXPECT_EQ(std::system(logs.c_str()), 0);
    }

    // Arguments are checked before the authority is asked.
    FakeAuthority::asked = 0;
    EXPECT_EQ(client.call("GetOlderDayLog", "s", "../../etc/passwd"), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(client.call("GetOlderDayLog", "s", "261332"), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(privateBus.busctl("call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                "GetOlderDayLog i 5"),
              1);
    EXPECT_EQ(privateBus.busctl("call org.qxraidgui.Monitor1 /org/qxraidgui/Monitor1 org.qxraidgui.Monitor1 "
                                "GetDayLog s extra"),
              1);
    EXPECT_EQ(FakeAuthority::asked.load(), 0);
    // Refused, then allowed: only then does the engine answer.
    std::vector<std::string> lines;
    EXPECT_EQ(client.call("GetDayLog", "", nullptr, &lines), "org.qxraidgui.Monitor1.Error.NotAuthorized");
    EXPECT_TRUE(lines.empty());
    FakeAuthority::allow = true;
    EXPECT_EQ(client.call("GetOlderDayLog", "s", "261209", &lines), "");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "261209");
    EXPECT_EQ(lines[2], "model \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx");

    // A flood while the authority never answers: past the bound each call is told busy
    // at once, and the service goes on publishing.
    FakeAuthority::hang = true;
    std::vector<sd_bus_slot*> slots;
    std::atomic<int> busy{0};
    auto counted = [](sd_bus_message* m, void* data, sd_bus_error*) {
        const sd_bus_error* e = sd_bus_message_get_error(m);
        if (e && std::string(e->name) == "org.qxraidgui.Monitor1.Error.Busy") ++*static_cast<std::atomic<int>*>(data);
        return 0;
    };
    for (int i = 0; i < 40; ++i) {
        sd_bus_slot* slot = nullptr;
        ASSERT_GE(sd_bus_call_method_async(client.bus(), &slot, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1",
                                           "org.qxraidgui.Monitor1", "GetDayLog", counted, &busy, ""),
                  0);
        slots.push_back(slot);
    }
    EXPECT_TRUE(client.until([&] { return busy == 40 - static_cast<int>(bus::BusService::kMaxPendingPerCaller); }));
    const unsigned before = client.poll(one);
    EXPECT_TRUE(client.until([&] { return client.poll(one) > before + 3; }));
    for (sd_bus_slot* s : slots) sd_bus_slot_unref(s);

    publishing = false;
    engineThread.join();
    service.stop();
    EXPECT_GT(published.load(), 40u);
    std::system(("rm -rf " + std::string(tmpl)).c_str());
}

// Following the day log without root: polkit is asked as for GetDayLog; each watcher
// gets the new lines addressed to it alone, from where its answer ended, until it
// unwatches or leaves the bus; 64 at once at most.
TEST(BusService, DayLogWatchersGetTheirOwnLinesUntilTheyLeave) {
    char tmpl[] = "/tmp/raid-bus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    PrivateBus privateBus(tmpl);
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    FakeEngine engine;
    bus::BusService service(engine, [](sd_bus* b) { return std::make_unique<FakeAuthority>(b); });
    std::string error;
    ASSERT_TRUE(service.start(privateBus.address(), error)) << error;
    FakeAuthority::allow = false;
    FakeAuthority::hang = false;
    BusClient watcher(privateBus.address()), other(privateBus.address());
    ASSERT_TRUE(watcher.ok() && other.ok());
    EXPECT_EQ(watcher.call("WatchDayLog"), "org.qxraidgui.Monitor1.Error.NotAuthorized");
    service.logLines("261210", {"refused meanwhile"}, 0);
    EXPECT_TRUE(other.until([&] { return other.seen("LogLine", "", "refused meanwhile"); }));

    FakeAuthority::allow = true;
    std::vector<std::string> lines;
    EXPECT_EQ(watcher.call("WatchDayLog", "", nullptr, &lines), "");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "261210");
    // The answer held two lines: a hand-over that repeats the second sends only the new
    // one; the next day counts from its start.
    service.logLines("261210", {"second again", "third"}, 1);
    service.logLines("261211", {"next day"}, 0);
    EXPECT_TRUE(watcher.until([&] { return watcher.seen("DayLogLine", "", "next day"); }));
    EXPECT_TRUE(watcher.seen("DayLogLine", "", "third"));
    EXPECT_FALSE(watcher.seen("DayLogLine", "", "second again"));
    EXPECT_FALSE(watcher.seen("DayLogLine", "", "refused meanwhile"));
    EXPECT_TRUE(other.until([&] { return other.seen("LogLine", "", "next day"); }));
    EXPECT_FALSE(other.seen("DayLogLine"));  // never someone else's lines

    EXPECT_EQ(watcher.call("UnwatchDayLog"), "");
    service.logLines("261211", {"after"}, 1);
    EXPECT_TRUE(watcher.until([&] { return watcher.seen("LogLine", "", "after"); }));
    EXPECT_FALSE(watcher.seen("DayLogLine", "", "after"));

    // 64 at once; one more is told busy until one of them leaves the bus.
    std::vector<std::unique_ptr<BusClient>> many;
    for (std::size_t i = 0; i < bus::BusService::kMaxWatchers; ++i) {
        many.push_back(std::make_unique<BusClient>(privateBus.address()));
        EXPECT_EQ(many.back()->call("WatchDayLog"), "") << i;
    }
    EXPECT_EQ(watcher.call("WatchDayLog"), "org.qxraidgui.Monitor1.Error.Busy");
    many.pop_back();
    EXPECT_TRUE(PrivateBus::waitFor([&] { return watcher.call("WatchDayLog") == ""; }));
    service.logLines("261211", {"for all"}, 2);
    EXPECT_TRUE(watcher.until([&] { return watcher.seen("DayLogLine", "", "for all"); }));
    EXPECT_TRUE(many.front()->until([&] { return many.front()->seen("DayLogLine", "", "for all"); }));
    FakeAuthority::allow = false;
    service.stop();
    std::system(("rm -rf " + std::string(tmpl)).c_str());
}

// An upgrade job from the engine's reports on another thread: the job object comes with
// the answer, its properties change at most every 100 ms however fast the bar moves
// (and at each step), and it ends with the outcome; meanwhile a second one is refused.
TEST(BusService, AnUpgradeJobFollowsTheEngineAtABoundedRate) {
    char tmpl[] = "/tmp/raid-bus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    PrivateBus privateBus(dir);
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    FakeEngine engine;
    bus::BusService service(engine, [](sd_bus* b) { return std::make_unique<FakeAuthority>(b); });
    std::string error;
    ASSERT_TRUE(service.start(privateBus.address(), error)) << error;
    FakeAuthority::allow = true;
    FakeAuthority::hang = false;
    BusClient client(privateBus.address());
    ASSERT_TRUE(client.ok());
    service.publish(snapshotOf(1, 1));
    const std::string one = "/org/qxraidgui/Monitor1/enclosure/drive1", job = "/org/qxraidgui/Monitor1/job/1";
    ASSERT_TRUE(client.until([&] { return client.seen("InterfacesAdded", "", one); }));
    std::ofstream(dir + "/fw.bin", std::ios::binary) << std::string(firmware::kFlashSize, '\x5A');
    int fd = open((dir + "/fw.bin").c_str(), O_RDONLY);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(client.startUpgrade(one, fd), job);
    close(fd);
    fd = open((dir + "/fw.bin").c_str(), O_RDONLY);
    EXPECT_EQ(client.startUpgrade(one, fd),
              "!org.qxraidgui.Monitor1.Error.Refused: Firmware is upgrading, please wait a moment.");
    close(fd);
    EXPECT_TRUE(client.until([&] { return client.seen("Finished", job); }));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    EXPECT_TRUE(client.seen("Finished", job, "true Firmware Upgrade 2/2completed!"));
    EXPECT_EQ(client.jobProperty(job, "ProgressValue", 'u'), "3000");
    EXPECT_EQ(client.jobProperty(job, "PanelText", 's'), "Process 2 / 2");
    EXPECT_EQ(client.jobProperty(job, "Outcome", 's'), "Firmware Upgrade 2/2completed!");
    EXPECT_EQ(client.jobProperty(job, "OwnerUid", 'u'), std::to_string(geteuid()));
    EXPECT_EQ(engine.upgradeBytes, firmware::kFlashSize);
    EXPECT_NE(engine.upgradeName.find("fw.bin"), std::string::npos) << engine.upgradeName;
    int changes = 0;
    for (const auto& sig : client.signals) changes += sig.member == "PropertiesChanged" && sig.path == job;
    // Two steps, the end, and one per 100 ms.
    EXPECT_GE(changes, 3);
    EXPECT_LE(changes, took.count() / 100 + 4) << took.count() << " ms";
    FakeAuthority::allow = false;
    service.stop();
    std::system(("rm -rf " + dir).c_str());
}

// The installed bus policy: a user it does not name gets the alerts but no broadcast
// day-log lines and no mail outcomes; root gets all of them. Such a user whom polkit
// lets read the logs follows them with WatchDayLog, the lines sent to it alone; one it
// does not gets none.
TEST(BusService, TheBusPolicyKeepsLogLinesAndMailOutcomesForRoot) {
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 ||
        std::system("/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root, setpriv and python3-dbus";
    char tmpl[] = "/tmp/raid-bus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    // The policy file the package installs, its <policy> elements on the test's bus.
    std::ifstream shipped(std::string(RAID_SOURCE_DIR) + "/packaging/org.qxraidgui.Monitor1.conf");
    const std::string file((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
    const auto from = file.find("<policy"), to = file.rfind("</busconfig>");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos && from < to);
    PrivateBus privateBus(dir, file.substr(from, to - from));
    if (!privateBus.start()) GTEST_SKIP() << "no dbus-daemon";
    FakeEngine engine;
    bus::BusService service(engine, [](sd_bus* b) { return std::make_unique<FakeAuthority>(b); });
    std::string error;
    ASSERT_TRUE(service.start(privateBus.address(), error)) << error;
    BusClient root(privateBus.address());
    ASSERT_TRUE(root.ok());
    // Listeners as nobody: every signal's name on a line, until the alert; asked to,
    // each first asks to watch the day log and says how that went.
    const std::string script = dir + "/listen.py";
    std::ofstream(script)
        << "import sys, dbus\n"
           "from dbus.mainloop.glib import DBusGMainLoop\n"
           "from gi.repository import GLib\n"
           "DBusGMainLoop(set_as_default=True)\n"
           "b = dbus.bus.BusConnection(sys.argv[1])\n"
           "out = open(sys.argv[2], 'a', buffering=1)\n"
           "loop = GLib.MainLoop()\n"
           "def got(*args, **kw):\n"
           "    out.write(kw['member'] + (' ' + args[1] if kw['member'] == 'DayLogLine' else '') + '\\n')\n"
           "    if kw['member'] == 'AlertRaised': loop.quit()\n"
           "b.add_signal_receiver(got, dbus_interface='org.qxraidgui.Monitor1', member_keyword='member')\n"
           "b.call_blocking('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'GetId', '', [])\n"
           "if len(sys.argv) > 3:\n"
           "    try:\n"
           "        b.call_blocking('org.qxraidgui.Monitor1', '/org/qxraidgui/Monitor1', 'org.qxraidgui.Monitor1',\n"
           "                        'WatchDayLog', '', [])\n"
           "        out.write('watching\\n')\n"
           "    except dbus.DBusException as e:\n"
           "        out.write(e.get_dbus_name() + '\\n')\n"
           "out.write('ready\\n')\n"
           "GLib.timeout_add_seconds(120, loop.quit)\n"
           "loop.run()\n";
    chmod(script.c_str(), 0644);
    const auto listen = [&](const std::string& heard, const char* watch) {
        std::ofstream(heard).flush();
        chmod(heard.c_str(), 0666);
        return std::system(("setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 " + script + " " +
                            privateBus.address() + " " + heard + " " + watch + " >/dev/null 2>&1 &")
                               .c_str());
    };
    const auto read = [](const std::string& name) {
        std::ifstream f(name);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    };
    const std::string heard = dir + "/heard.txt", refused = dir + "/refused.txt", watching = dir + "/watching.txt";
    auto slurp = [&] { return read(heard); };
    FakeAuthority::allow = false;
    FakeAuthority::hang = false;
    ASSERT_EQ(listen(heard, ""), 0);
    ASSERT_EQ(listen(refused, "watch"), 0);
    ASSERT_TRUE(PrivateBus::waitFor([&] { return read(refused).find("ready") != std::string::npos; }));
    EXPECT_NE(read(refused).find("org.qxraidgui.Monitor1.Error.NotAuthorized"), std::string::npos) << read(refused);
    FakeAuthority::allow = true;
    ASSERT_EQ(listen(watching, "watch"), 0);
    ASSERT_TRUE(PrivateBus::waitFor([&] {
        return slurp().find("ready") != std::string::npos && read(watching).find("ready") != std::string::npos;
    }));
    EXPECT_NE(read(watching).find("watching"), std::string::npos) << read(watching);
    service.logLines("261210", {"HDD2 serial S3Z9NB0K123456"});
    bus::MailEvent mail;
    mail.error = "550 <ops@example.org> unknown";
    service.mail(mail);
    service.alert(bus::AlertEvent{3, 1, 2, {"Device1 HDD2 fail"}});
    EXPECT_TRUE(root.until(
        [&] { return root.seen("LogLine", "", "S3Z9") && root.seen("MailOutcome") && root.seen("AlertRaised"); }));
    EXPECT_TRUE(PrivateBus::waitFor([&] { return slurp().find("AlertRaised") != std::string::npos; }));
    EXPECT_EQ(slurp().find("LogLine"), std::string::npos) << slurp();
    EXPECT_EQ(slurp().find("MailOutcome"), std::string::npos) << slurp();
    // Only the watcher polkit allowed gets the line, addressed to it; the broadcast
    // stays root's.
    EXPECT_TRUE(PrivateBus::waitFor([&] { return read(watching).find("AlertRaised") != std::string::npos; }));
    EXPECT_NE(read(watching).find("DayLogLine HDD2 serial S3Z9NB0K123456"), std::string::npos) << read(watching);
    EXPECT_EQ(read(watching).find("\nLogLine"), std::string::npos) << read(watching);
    EXPECT_TRUE(PrivateBus::waitFor([&] { return read(refused).find("AlertRaised") != std::string::npos; }));
    EXPECT_EQ(read(refused).find("LogLine"), std::string::npos) << read(refused);
    EXPECT_EQ(slurp().find("DayLogLine"), std::string::npos);
    EXPECT_FALSE(root.seen("DayLogLine"));
    FakeAuthority::allow = false;
    service.stop();
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace raid
