// Hot-plugs a few seconds apart while detection passes take real time: a pass that
// finished during a device-change countdown must never be published over a newer
// pass that is rewriting the tables.
#include <gtest/gtest.h>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

struct HotPlugs : ::testing::Test {
    ScenarioKit kit;
    std::string st;
    void SetUp() override { st = kit.block("raid1.bin", sim::makeStatusRecord()); }
    std::string box(int n) {
        return kit.block("id" + std::to_string(n) + ".bin",
                         sim::makeIdentityPage(sim::IdentityOptions().setModel("BOX " + std::to_string(n))));
    }
    // Nothing was removed and nothing failed: no removal in the day log, no alert.
    void expectNoFalseEvents(sim::SimRunner& r) {
        EXPECT_TRUE(r.linesWith("Alert[").empty()) << r.linesWith("Alert[").front();
        for (const auto& line : kit.dayFile("261207"))
            EXPECT_EQ(line.find("removed"), std::string::npos) << line;
    }
};

TEST_F(HotPlugs, APassEndingDuringACountdownIsNotPublishedOverTheNextPass) {
    kit.line("0 disk 0")
        .line("0 attach 1 mailbox identity=" + box(1) + " status=" + st)
        .line("3 attach 2 mailbox identity=" + box(2) + " status=" + st)
        .line("8.7 attach 3 mailbox identity=" + box(3) + " status=" + st);
    // Each request takes 60 ms, so the first pass (two enclosures' worth of probing)
    // ends inside the countdown of the hot-plug at 3 s.
    auto& r = kit.run(40, 60000);
    ASSERT_EQ(kit.loadError, "");
    expectNoFalseEvents(r);
    EXPECT_EQ(r.form().dev.ActiveCount.load(), 3);
}

}  // namespace
}  // namespace raid
