// The service's polkit checks against a real polkit interface: python3-dbusmock's polkitd
// on a private system-like bus. Every answer comes once, on the connection's thread and
// never from inside check(); whatever is not a clear yes is a refusal.
#include <gtest/gtest.h>

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "service/bus/PolkitAuthority.h"
#include "support/PrivateBus.h"

namespace raid::bus {
namespace {

using test::PrivateBus;

// A client connection of the test to the private bus, on an sd-event loop the test
// thread runs (as the service's bus thread does).
struct Connection {
    sd_event* loop = nullptr;
    sd_bus* bus = nullptr;
    explicit Connection(const std::string& address, bool withLoop = true) {
        if (sd_bus_new(&bus) < 0) return;
        if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
            sd_bus_start(bus) < 0) {
            bus = sd_bus_flush_close_unref(bus);
            return;
        }
        if (withLoop && (sd_event_new(&loop) < 0 || sd_bus_attach_event(bus, loop, 0) < 0)) loop = nullptr;
    }
    ~Connection() {
        if (bus) sd_bus_detach_event(bus);
        sd_bus_flush_close_unref(bus);
        sd_event_unref(loop);
    }
    std::string name() const {
        const char* n = nullptr;
        return bus && sd_bus_get_unique_name(bus, &n) >= 0 ? n : "";
    }
    // Runs the connection until `done` holds (bound: two minutes).
    template <class Pred>
    bool runUntil(Pred done) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            if (loop) {
                sd_event_run(loop, 100'000);
            } else if (sd_bus_process(bus, nullptr) == 0) {
                sd_bus_wait(bus, 100'000);
            }
        }
        return true;
    }
};

// The answers a run of checks got, and how often each came.
struct Answers {
    std::vector<std::optional<AuthorityAnswer>> got;
    int calls = 0;
    bool insideCheck = false;
    bool calledInsideCheck = false;
    Authority::Done slot(std::size_t i) {
        if (got.size() <= i) got.resize(i + 1);
        return [this, i](const AuthorityAnswer& a) {
            ++calls;
            calledInsideCheck = calledInsideCheck || insideCheck;
            EXPECT_FALSE(got[i].has_value()) << "check " << i << " answered twice";
            got[i] = a;
        };
    }
    void check(Authority& authority, const std::string& sender, BusAction action) {
        insideCheck = true;
        authority.check(sender, action, slot(got.size()));
        insideCheck = false;
    }
    bool all() const {
        for (const auto& a : got)
            if (!a) return false;
        return true;
    }
};

struct PolkitAuthorityTest : ::testing::Test {
    std::string dir;
    std::unique_ptr<PrivateBus> bus;
    void SetUp() override {
        char tmpl[] = "/tmp/raid-polkit-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        bus = std::make_unique<PrivateBus>(dir);
        if (!bus->start()) GTEST_SKIP() << "dbus-daemon is not installed";
    }
    void TearDown() override {
        bus.reset();
        std::system(("rm -rf " + dir).c_str());
    }
};

TEST(PolkitActionIds, AreTheOnesThePolicyFileDeclares) {
    EXPECT_STREQ(polkitActionId(BusAction::readLogs), "org.qxraidgui.monitor1.read-logs");
    EXPECT_STREQ(polkitActionId(BusAction::configureMail), "org.qxraidgui.monitor1.configure-mail");
    EXPECT_STREQ(polkitActionId(BusAction::upgradeFirmware), "org.qxraidgui.monitor1.upgrade-firmware");
    EXPECT_TRUE(isUniqueBusName(":1.42"));
    for (const char* bad : {"", ":", ":1", ":1.", ":.1", "org.freedesktop.PolicyKit1", ":1.4/2", ":1..2"})
        EXPECT_FALSE(isUniqueBusName(bad)) << bad;
    EXPECT_FALSE(isUniqueBusName(":1." + std::string(300, '2')));
}

TEST_F(PolkitAuthorityTest, WithoutPolkitEveryCheckIsRefusedLaterAndOnce) {
    // Both ways of running a connection: an sd-event loop, and plain processing.
    for (const bool withLoop : {true, false}) {
        Connection c(bus->address(), withLoop);
        ASSERT_NE(c.bus, nullptr);
        Answers answers;
        {
            PolkitAuthority authority(c.bus);
            answers.check(authority, c.name(), BusAction::readLogs);
            answers.check(authority, "not-a-unique-name", BusAction::readLogs);
            answers.check(authority, ":1.2\n", BusAction::upgradeFirmware);
            EXPECT_EQ(answers.calls, 0);
            ASSERT_TRUE(c.runUntil([&] { return answers.all(); }));
            EXPECT_EQ(authority.pending(), 0u);
        }
        EXPECT_FALSE(answers.calledInsideCheck);
        EXPECT_EQ(answers.calls, 3);
        for (const auto& a : answers.got) {
            EXPECT_FALSE(a->allowed);
            EXPECT_NE(a->problem.find("refused"), std::string::npos) << a->problem;
        }
        EXPECT_NE(answers.got[0]->problem.find("ServiceUnknown"), std::string::npos) << answers.got[0]->problem;
        EXPECT_NE(answers.got[1]->problem.find("unique bus name"), std::string::npos);
    }
}

TEST_F(PolkitAuthorityTest, PolkitAllowsRefusesHangsAndTakesManyChecksAtOnce) {
    if (!bus->startPolkit()) GTEST_SKIP() << "python3-dbusmock is not installed";
    ASSERT_TRUE(bus->allowActions({"org.qxraidgui.monitor1.read-logs"}));
    Connection c(bus->address());
    ASSERT_NE(c.bus, nullptr);
    const std::string me = c.name();

    // Allowed and refused, sixty at once across the three actions.
    Answers answers;
    PolkitAuthority authority(c.bus, std::chrono::seconds(3));
    const BusAction actions[] = {BusAction::readLogs, BusAction::configureMail, BusAction::upgradeFirmware};
    for (int i = 0; i < 60; ++i) answers.check(authority, me, actions[i % 3]);
    EXPECT_EQ(answers.calls, 0);
    EXPECT_EQ(authority.pending(), 60u);
    ASSERT_TRUE(c.runUntil([&] { return answers.all(); }));
    EXPECT_EQ(answers.calls, 60);
    EXPECT_FALSE(answers.calledInsideCheck);
    for (int i = 0; i < 60; ++i) {
        const AuthorityAnswer& a = *answers.got[i];
        if (i % 3 == 0) {
            EXPECT_TRUE(a.allowed) << i << ": " << a.problem;
            EXPECT_EQ(a.problem, "");
        } else {
            EXPECT_FALSE(a.allowed) << i;
            EXPECT_EQ(a.problem, std::string("not authorized for ") + polkitActionId(actions[i % 3]));
        }
    }

    // polkit that never answers: a refusal after the timeout, and the service's
    // connection goes on working.
    ASSERT_TRUE(bus->hangPolkit(true));
    Answers hung;
    hung.check(authority, me, BusAction::readLogs);
    ASSERT_TRUE(c.runUntil([&] { return hung.all(); }));
    EXPECT_FALSE(hung.got[0]->allowed);
    EXPECT_NE(hung.got[0]->problem.find("did not answer in time"), std::string::npos) << hung.got[0]->problem;

    // An authority that goes while checks wait answers each of them, once.
    Answers dropped;
    {
        PolkitAuthority going(c.bus);
        for (int i = 0; i < 5; ++i) dropped.check(going, me, BusAction::readLogs);
        c.runUntil([] { return true; });
    }
    EXPECT_EQ(dropped.calls, 5);
    for (const auto& a : dropped.got) EXPECT_FALSE(a->allowed);

    // polkit gone from the bus: refused, and once it answers again, allowed again.
    bus->stopPolkit();
    Answers gone;
    gone.check(authority, me, BusAction::readLogs);
    ASSERT_TRUE(c.runUntil([&] { return gone.all(); }));
    EXPECT_FALSE(gone.got[0]->allowed);
    EXPECT_EQ(authority.pending(), 0u);
}

}  // namespace
}  // namespace raid::bus
