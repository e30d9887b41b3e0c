// The Status page on simulated enclosures, as the user sees it: the headless runner's
// output lines (what the window would show, in order) and the engine's picture of the
// controls at the end of the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

// Output lines are "<seconds> <control> <text>".
struct Line {
    double at;
    std::string control, text;
};

std::vector<Line> parse(const std::vector<std::string>& lines) {
    std::vector<Line> out;
    for (const auto& l : lines) {
        const auto a = l.find(' ');
        const auto b = l.find(' ', a + 1);
        out.push_back({std::stod(l.substr(0, a)), l.substr(a + 1, b - a - 1), b == std::string::npos ? "" : l.substr(b + 1)});
    }
    return out;
}

struct StatusPageRun : ::testing::Test {
    ScenarioKit kit;
    std::vector<Line> out;

    std::string identity(const std::string& name, const std::string& model, const std::string& firmware = "101208.0",
                         std::uint8_t productClass = 16) {
        sim::IdentityOptions o;
        o.model = model;
        o.firmware = firmware;
        o.productClass = productClass;
        return kit.block(name, sim::makeIdentityPage(o));
    }
    std::string status(const std::string& name, const sim::StatusOptions& o) {
        return kit.block(name, sim::makeStatusRecord(o));
    }
    sim::SimRunner& run(double until) {
        sim::SimRunner& r = kit.run(until);
        EXPECT_EQ(kit.loadError, "");
        out = parse(r.lines());
        return r;
    }
    // Texts a control was given in [from, to).
    std::vector<std::string> texts(const std::string& control, double from = 0, double to = 1e9) const {
        std::vector<std::string> t;
        for (const auto& l : out)
            if (l.control == control && l.at >= from && l.at < to) t.push_back(l.text);
        return t;
    }
    std::string last(const std::string& control, double before = 1e9) const {
        const auto t = texts(control, 0, before);
        return t.empty() ? "<never>" : t.back();
    }
    // The picture a tab image showed last (its other lines are shown/hidden).
    std::string picture(const std::string& image, double before = 1e9) const {
        std::string p = "<never>";
        for (const auto& t : texts(image, 0, before))
            if (t.rfind(image + "_", 0) == 0) p = t;
        return p;
    }
};

TEST_F(StatusPageRun, TwoEnclosuresEachSelectedInTurnAreEachDrawnFromTheirOwnRecord) {
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + identity("a.bin", "RAID ONE BOX") +
             " status=" + status("ra.bin", sim::StatusOptions().setMode(sim::kStriping)));
    kit.line("0 volume E 1");
    kit.line("0 attach 2 mailbox identity=" + identity("b.bin", "HYBRID BOX", "100126.0", 1) + " status=" +
             status("hb.bin", sim::StatusOptions()
                                .setKind(sim::kKindHybrid)
                                .setMode('D')
                                .setDrive(0, {sim::kDrivePresent, "FAST SSD 500", "SSD0001"})));
    kit.line("0 volume F 2").line("0 volume G 2");
    kit.line("10 select 2").line("20 select 1");
    sim::SimRunner& r = run(25);

    EXPECT_EQ(last(names::TForm1, 10), "RAID GUI v0.23.7-3 - RAID ONE BOX [E]");
    EXPECT_EQ(last(names::Label17, 10), "Striping(RAID0)");
    EXPECT_EQ(last(names::Label45, 10), "HDD1");
    EXPECT_EQ(picture(names::Image0_D2, 10), "Image0_D2_White");

    EXPECT_EQ(last(names::TForm1, 20), "RAID GUI v0.23.7-3 - HYBRID BOX [FG]");
    EXPECT_EQ(last(names::Label17, 20), "CacheHDD");
    EXPECT_EQ(last(names::Label45, 20), "SSD");
    EXPECT_EQ(last(names::Label48, 20).rfind("100126.0.", 0), 0u);
    EXPECT_EQ(picture(names::Image0_D2, 20), "Image0_D2_Yellow");
    // The switch redraws the drives although both records have the same flags byte.
    EXPECT_EQ(texts(names::Label51, 10, 10.001), std::vector<std::string>{"FAST SSD 500" + std::string(28, ' ')});
    EXPECT_EQ(last(names::Panel11, 20), "hidden");  // no fan panel on a hybrid controller

    EXPECT_EQ(last(names::TForm1), "RAID GUI v0.23.7-3 - RAID ONE BOX [E]");
    EXPECT_EQ(last(names::Label17), "Striping(RAID0)");
    EXPECT_EQ(r.controls().get(names::CheckBox3).hint, "HYBRID BOX [FG]");
    EXPECT_EQ(r.controls().get(names::Image0_D1).hint, "RAID ONE BOX [E]");
    EXPECT_EQ(r.controls().get(names::Image2_D2).hint, "HYBRID BOX [FG]");
    EXPECT_EQ(r.form().StatusDevice, 0);
}

TEST_F(StatusPageRun, AnEnclosureOnEveryPathShowsItsModelAndFirmware) {
    for (const char* path : {"mailbox", "ata", "vu1", "vu2"}) {
        ScenarioKit k;
        sim::IdentityOptions o;
        o.model = std::string("BOX ON ") + path;
        o.firmware = "090619.0";
        const std::string id = k.block("id.bin", sim::makeIdentityPage(o));
        k.line("0 disk 0").line(std::string("0 attach 1 ") + path + " identity=" + id +
                                " status=" + k.block("st.bin", sim::makeStatusRecord()));
        k.line("0 volume E 1");
        sim::SimRunner& r = k.run(6);
        ASSERT_EQ(k.loadError, "") << path;
        const Controls& c = r.controls();
        EXPECT_EQ(c.text(names::TForm1), std::string("RAID GUI v0.23.7-3 - BOX ON ") + path + " [E]") << path;
        EXPECT_EQ(c.text(names::Label48), "090619.0.A01") << path;
        EXPECT_TRUE(r.form().statusPage().model().scanCapable(0)) << path;
        const auto day = r.form().eventLog().lines();
        EXPECT_NE(std::find(day.begin(), day.end(), std::string("Model# BOX ON ") + path), day.end()) << path;
    }
}

TEST_F(StatusPageRun, DriveStatesProgressAndTheLogImage) {
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + identity("id.bin", "BOX") +
                              " status=" + status("ok.bin", sim::StatusOptions()));
    // A rebuild of drive 1 that stands at 37% for three polls, then moves on.
    kit.line("10 status 1 " + status("r37.bin", sim::StatusOptions().setActivity(0x01, 37)));
    kit.line("22 status 1 " + status("r38.bin", sim::StatusOptions().setActivity(0x01, 38)));
    kit.line("30 status 1 " + status("fail.bin", sim::StatusOptions().setDriveState(1, sim::kDriveFailed)));
    run(40);

    const auto centre = texts(names::Label18, 10, 30);
    ASSERT_EQ(centre.size(), 2u);
    EXPECT_EQ(centre[0], "37%\\n<<<<\\nRebuilding");
    EXPECT_EQ(centre[1], "38%\\n<<<<\\nRebuilding");
    EXPECT_EQ(last(names::Image0_Bays, 30), "raid present present rebuild 1 38");

    EXPECT_EQ(last(names::Label26), "color=red");
    EXPECT_EQ(last(names::Label52), "disabled");
    EXPECT_EQ(last(names::Label18), "Single HDD\\nPresent");
    EXPECT_EQ(last(names::Image0_Bays), "raid present failed idle");
    for (const auto& l : out) EXPECT_EQ(l.control.rfind("MessageBox", 0), std::string::npos) << l.control << " " << l.text;
}

TEST_F(StatusPageRun, ARebuildShowsItsTimeLeftAndTheDayLogHowLongItTook) {
    // A rebuild of drive 1 moving one percent every 30 s (120 %/h, 50 min in all), read
    // every 4 s on the virtual clock.
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + identity("id.bin", "BOX") +
                              " status=" + status("ok.bin", sim::StatusOptions()));
    for (int p = 0; p < 100; ++p)
        kit.line(std::to_string(10 + 30 * p) + " status 1 " +
                 status("r" + std::to_string(p) + ".bin", sim::StatusOptions().setActivity(0x01, static_cast<std::uint8_t>(p))));
    kit.line("3010 status 1 ok.bin");
    run(3100);

    EXPECT_EQ(last(names::WorkTimeLeft, 40), "time left unknown");
    for (double t : {400.0, 1500.0, 2600.0}) {
        const std::string text = last(names::WorkTimeLeft, t);
        int minutes = -1, rate = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "about %d min left (%d %%/h)", &minutes, &rate), 2) << text;
        const double truth = (3010 - t) / 60;
        EXPECT_NEAR(minutes, truth, 0.1 * truth + 1) << text << " at " << t;
        EXPECT_NEAR(rate, 120, 12) << text;
    }
    EXPECT_EQ(last(names::WorkTimeLeft), "");
    EXPECT_EQ(last(names::Label18), "Normal");

    std::ifstream f(kit.dir() + "/261207.log");
    std::vector<std::string> log;
    for (std::string l; std::getline(f, l);) log.push_back(l.substr(0, l.find('\r')));
    const auto done = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.find(" Done, ") != std::string::npos; });
    ASSERT_NE(done, log.end());
    ASSERT_NE(done + 1, log.end());
    EXPECT_EQ((done + 1)->rfind("D1 Rebuild took 50 min, ", 0), 0u) << *(done + 1);
}

TEST_F(StatusPageRun, HybridCacheGoingOffShowsTheSsdMessageOnceAndTimer5ShowsTheBytes) {
    sim::StatusOptions on;
    on.setKind(sim::kKindHybrid).setMode('D');
    on.activity = 0x04;  // cache enabled, bit 2 set: Timer5 shows it
    sim::StatusOptions off = on;
    off.activity = 0x06;  // cache disabled
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + identity("id.bin", "HYBRID", "100126.0", 1) +
                              " status=" + status("on.bin", on));
    kit.line("10 status 1 " + status("off.bin", off));
    run(30);

    int boxes = 0;
    for (const auto& l : out)
        if (l.control == "MessageBox[Message]") {
            ++boxes;
            EXPECT_EQ(l.text, "You can shut down the system and\\nremove the SSD from Hybrid Device. ");
            EXPECT_GT(l.at, 10);
        }
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(last(panelName(1), 10), "Timer5 22");
    EXPECT_EQ(last(panelName(2), 10), "[203] = 04");
    EXPECT_EQ(last(panelName(3), 10), "[204] = 00");
    EXPECT_EQ(last(panelName(2)), "[203] = 06");
    EXPECT_EQ(last(names::CheckBox2), "<never>");  // enabled from the start, and stays so
}

TEST_F(StatusPageRun, CheckBoxesChooseTheDeviceAndWithBothOffNothingIsDrawn) {
    kit.line("0 disk 0");
    kit.line("0 attach 1 mailbox identity=" + identity("a.bin", "FIRST") + " status=" + status("a.bin.st", sim::StatusOptions()));
    kit.line("0 attach 2 mailbox identity=" + identity("b.bin", "SECOND") + " status=" +
             status("b.bin.st", sim::StatusOptions().setMode(sim::kJbod)));
    kit.line("10 check 1 off");
    kit.line("20 check 2 off");
    kit.line("24 status 1 " + status("a2.st", sim::StatusOptions().setMode(sim::kNraid)));
    kit.line("24 status 2 " + status("b2.st", sim::StatusOptions().setMode(sim::kNraid)));
    kit.line("40 check 2 on");
    sim::SimRunner& r = run(50);

    // Unticking the selected device selects the other one and redraws from its record.
    EXPECT_EQ(texts(names::Image0_D1, 10, 20), (std::vector<std::string>{"hidden", "Image0_D1_White"}));
    EXPECT_EQ(last(names::Image2_D1, 20), "hidden");
    EXPECT_EQ(last(names::Label17, 20), "JBOD");
    EXPECT_EQ(last(names::TForm1, 20), "RAID GUI v0.23.7-3 - SECOND []");
    EXPECT_EQ(picture(names::Image0_D2, 20), "Image0_D2_Yellow");
    // Both off: the page stays as it was, whatever the records say.
    EXPECT_TRUE(texts(names::Label17, 20, 40).empty());
    EXPECT_EQ(r.form().statusPage().refresh(true), 0);  // ticked again at 40
    EXPECT_EQ(last(names::Label17), "NRAID");
}

TEST_F(StatusPageRun, BothOffReturnsMinusOne) {
    kit.line("0 disk 0").line("0 attach 1 mailbox identity=" + identity("a.bin", "ONLY") +
                              " status=" + status("st", sim::StatusOptions()));
    kit.line("10 check 1 off");
    sim::SimRunner& r = run(12);
    EXPECT_EQ(r.form().statusPage().refresh(true), -1);
    EXPECT_EQ(last(names::Image0_D1), "hidden");
}

TEST_F(StatusPageRun, SelectIsRefusedWithABadDeviceNumber) {
    kit.line("0 disk 0").line("1 select 3");
    kit.run(2);
    EXPECT_NE(kit.loadError.find("select takes a device number 1 or 2"), std::string::npos) << kit.loadError;
}

}  // namespace
}  // namespace raid
