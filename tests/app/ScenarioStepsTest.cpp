// Scenario steps happen at their second, however far away it is and however many
// there are.
#include <gtest/gtest.h>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

TEST(ScenarioSteps, AStepBeyondTwentyFourDaysWaitsForItsSecond) {
    test::ScenarioKit kit;
    const std::string st = kit.block("raid1.bin", sim::makeStatusRecord());
    kit.line("0 disk 0")
        .line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" + st)
        .line("3000000 detach 1");  // past what a millisecond int can count
    auto& r = kit.run(20);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_TRUE(r.platform().present(1)) << "the detach fired at once";
    EXPECT_EQ(r.form().dev.ActiveCount.load(), 1);
}

TEST(ScenarioSteps, ManyStepsPlayInOrderAtTheirSeconds) {
    test::ScenarioKit kit;
    const std::string a = kit.block("a.bin", sim::makeStatusRecord());
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                                  " status=" + a);
    for (int i = 0; i < 2000; ++i) kit.line(std::to_string(10 + i) + ".5 check 1 " + (i % 2 ? "on" : "off"));
    auto& r = kit.run(2100);
    ASSERT_EQ(kit.loadError, "");
    const auto changes = r.linesWith(" CheckBox1 ");
    // Every step changed the box once, at its own second.
    std::size_t at = 0;
    while (at < changes.size() && changes[at].rfind("10.500 ", 0) != 0) ++at;
    ASSERT_LT(at, changes.size());
    EXPECT_EQ(changes.size() - at, 2000u);
    EXPECT_EQ(changes.back().rfind("2009.500 CheckBox1 checked", 0), 0u) << changes.back();
}

}  // namespace
}  // namespace raid
