// The main window's engine: start-up, the action command, session end, navigation.
#include <gtest/gtest.h>

#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

struct Shell : ::testing::Test {
    ScenarioKit kit;
    void machine() {
        kit.line("0 disk 0").line("0 volume C 0");
        kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) +
                 " status=" + kit.block("st.bin", sim::makeStatusRecord()));
    }
    std::vector<sim::MailboxCommand> actions() { return kit.runner().platform().enclosure(1)->mailboxLog(); }
};

void expectAction(const sim::MailboxCommand& m, std::uint8_t command, std::uint8_t code) {
    EXPECT_EQ(m.sector, 20u);
    EXPECT_EQ(m.data[0], '3');
    EXPECT_EQ(m.data[1], 'X');
    EXPECT_EQ(m.data[2], command);
    EXPECT_EQ(m.data[3], 1);  // not an abort
    EXPECT_EQ(m.data[4], code);
    for (int i = 7; i <= 18; ++i) EXPECT_EQ(m.data[static_cast<std::size_t>(i)], 0) << i;
    std::uint32_t sum = 0;
    for (int i = 7; i <= 509; ++i) sum += m.data[static_cast<std::size_t>(i)];
    EXPECT_EQ(m.data[510] | (m.data[511] << 8), static_cast<int>(sum & 0xFFFF));
}

TEST_F(Shell, TheEnclosureIsToldOnceThatTheHostFoundIt) {
    machine();
    auto& r = kit.run(30);
    ASSERT_EQ(kit.loadError, "");
    const auto log = actions();
    ASSERT_EQ(log.size(), 1u);
    expectAction(log[0], 0x1F, 0x21);  // 0x21 carries bit 0x20 too, so it travels as command 0x1F
    EXPECT_FALSE(r.quitRequested());
    // Polling is armed and requests keep being served.
    EXPECT_TRUE(r.scheduler().timerEnabled(r.form().Timer2));
    EXPECT_TRUE(r.form().RequestMask & kPollingArmed);
}

TEST_F(Shell, SessionEndTellsTheEnclosureThenCloses) {
    machine();
    kit.line("10 sessionend");
    auto& r = kit.run(30);
    ASSERT_EQ(kit.loadError, "");
    const auto log = actions();
    ASSERT_EQ(log.size(), 2u);
    expectAction(log[1], 0x1F, 0x20);
    EXPECT_TRUE(r.quitRequested());
    // The trace's last write is that command: 33 58 1f 01 20 ...
    const auto lines = kit.traceLines();
    std::string lastWrite;
    for (const auto& l : lines)
        if (l.find("SCSI out 512 cdb=2a000000001400000100") != std::string::npos) lastWrite = l;
    EXPECT_NE(lastWrite.find("data=33581f0120"), std::string::npos) << lastWrite;
    EXPECT_LT(r.scheduler().nowUs(), 11'000'000);  // it ended there
}

TEST_F(Shell, SessionEndDuringMaintenanceIsRefused) {
    machine();
    kit.line("5 maintenance on").line("10 sessionend");
    auto& r = kit.run(20);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(r.linesWith("MessageBox[Message] Firmware is upgrading, please wait a moment.").size(), 1u);
    EXPECT_EQ(actions().size(), 1u);
    EXPECT_FALSE(r.quitRequested());
    EXPECT_FALSE(r.form().RequestMask & kPollingArmed);  // the poll clock disarms during maintenance
}

TEST_F(Shell, WithNoDeviceTickedTheActionIsSkippedSilently) {
    machine();
    kit.line("5 check 1 off").line("10 sessionend");
    auto& r = kit.run(20);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(actions().size(), 1u);
    EXPECT_TRUE(r.quitRequested());
    EXPECT_TRUE(r.linesWith("MessageBox").empty());
}

TEST_F(Shell, AFailedActionWriteIsReported) {
    machine();
    kit.line("5 fail 1 write 1").line("10 sessionend");
    auto& r = kit.run(20);
    ASSERT_EQ(kit.loadError, "");
    EXPECT_EQ(r.linesWith("StatusBar1.Panel4 Error code 201").size(), 1u);
    EXPECT_TRUE(r.quitRequested());
}

TEST_F(Shell, NavigationBeforeAndAfterTheFirstStatusPage) {
    machine();
    auto& r = kit.run(0.6);  // the first pass is still being published: no Status page yet
    MainForm& f = r.form();
    ASSERT_TRUE(f.dev.FirstPass);
    for (const char* c : {"Image_Sts", "Image_Email", "Image_About"}) {
        f.Click(c);
        EXPECT_EQ(f.CurrentPage, 0) << c;
    }
    f.Click("Image_FWUpg");
    EXPECT_EQ(f.CurrentPage, 2);
    EXPECT_EQ(f.controls().text("Image_FWUpg"), "Image_FWUpg_Yellow");
    EXPECT_EQ(f.controls().text("Image_Sts"), "Image_Sts_White");
    EXPECT_EQ(f.controls().get("Notebook1").page.index, 2);
    r.runUntil(5);  // the first poll draws the Status page, also behind the Upgrade page
    ASSERT_FALSE(f.dev.FirstPass);
    EXPECT_EQ(f.CurrentPage, 2);
    f.Click("Image_About");
    EXPECT_EQ(f.CurrentPage, 4);
    f.Click("Image_Email");
    EXPECT_EQ(f.CurrentPage, 3);
    f.Click("Image3_HDDFail");
    EXPECT_EQ(f.EmailSubPage, 1);
    EXPECT_EQ(f.controls().get("Notebook2").page, (PageChoice{1, "HDD_Fail"}));
    EXPECT_EQ(f.controls().text("Image3_HDDFail"), "Image3_HDDFail_Yellow");
    EXPECT_EQ(f.controls().text("Image3_Setup"), "Image3_Setup_White");
    // A held device locks every page handler.
    f.dev.HeldDevice = 0;
    f.Click("Image_Sts");
    f.Click("Image_FWUpg");
    EXPECT_EQ(f.CurrentPage, 3);
}

TEST_F(Shell, NavigationLayoutAndNames) {
    machine();
    auto& r = kit.run(1);
    Controls& c = r.controls();
    // Status, Upgrade, E-mail and About take the first four slots; page 1 is hidden.
    const std::vector<std::pair<const char*, int>> slots = {
        {"Image_Sts", 0}, {"Image_FWUpg", 1}, {"Image_Email", 2}, {"Image_About", 3}};
    for (auto [name, slot] : slots) {
        EXPECT_EQ(c.get(name).slot, slot) << name;
        EXPECT_TRUE(c.visible(name)) << name;
    }
    EXPECT_FALSE(c.visible("Image_Page1"));
    EXPECT_EQ(c.text("TForm1"), "RAID GUI v0.23.7-3");
    EXPECT_EQ(c.text("Label63"), "RAID Management Sofeware");
    EXPECT_EQ(c.text("Label65"), "v0.23.7-3");
    EXPECT_EQ(r.form().HintHidePause, 6000);
    // A name outside the list is an error, never a control that silently appears.
    EXPECT_THROW(c.setText("Label9999", "x"), UnknownControl);
    EXPECT_THROW(c.get("Image_Stats"), UnknownControl);
    EXPECT_THROW(r.form().Click("Image_Stats"), UnknownControl);
    EXPECT_NO_THROW(r.form().Click("Label17"));  // a known control without a handler
}

struct FakeHost : HostInfoPort {
    std::string query(const std::string& cls, const std::string& prop) override {
        if (cls == "Win32_BaseBoard" && prop == "Manufacturer") return "ACME";
        if (cls == "Win32_BaseBoard" && prop == "Product") return "B550";
        if (cls == "Win32_Bus" && prop == "SystemName") return "deskpc";
        if (cls == "Win32_NetworkAdapterConfiguration" && prop == "IPAddress") return "192.168.1.5, fe80::1";
        return "";
    }
};

TEST(SystemInfo, FiveLinesEachWithItsOwnLineBreak) {
    FakeHost host;
    const auto lines = BuildSystemInfo(&host);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "\n=========== [System Information] ==============");
    EXPECT_EQ(lines[1], "\nMotherBoard : ACME - B550");
    EXPECT_EQ(lines[2], "\nSystem Name : deskpc");
    EXPECT_EQ(lines[3], "\nIP Address  : 192.168.1.5, fe80::1");
    EXPECT_EQ(lines[4], "\n===============================================");
    const auto empty = BuildSystemInfo(nullptr);
    EXPECT_EQ(empty[1], "\nMotherBoard :  - ");
    EXPECT_EQ(empty[3], "\nIP Address  : ");
}

TEST_F(Shell, StatusBarDoubleClickShowsTheSystemInformation) {
    machine();
    auto& r = kit.run(1);
    r.form().DoubleClick("StatusBar1");
    const auto boxes = r.linesWith("MessageBox[System Information]");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("\\n=========== [System Information] ==============\\nMotherBoard : "), std::string::npos);
}

}  // namespace
}  // namespace raid
