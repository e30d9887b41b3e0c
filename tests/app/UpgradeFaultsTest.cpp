// What stops an upgrade or makes it fail half-way: refusals before anything is written,
// a request failing at each step, an enclosure pulled out, a read-back that differs,
// and the record area's sector rules. Each time the user is told in the controller's
// words and the program is back to normal afterwards.
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "maintenance/FlashBackup.h"
#include "support/UpgradeRig.h"

namespace raid {
namespace {

using namespace raid::test;
using Faults = UpgradeRig;
using sim::FaultKind;
using sim::SubCodeOptions;

TEST_P(Faults, RefusalsBeforeAnythingIsWritten) {
    const auto before = flash();
    // Nothing loaded.
    EXPECT_EQ(press(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    EXPECT_FALSE(form->MaintenanceBusy);

    // Files longer than the flash are no images: the record would be looked for
    // somewhere else than the version byte (a junk record). Nothing stays loaded.
    for (const std::size_t extra : {std::size_t{1}, std::size_t{0x1000}}) {
        auto longer = sim::makeFirmwareImage();
        longer.resize(longer.size() + extra, 0xFF);
        loadFile(longer);
        EXPECT_FALSE(form->firmwareImage().loaded()) << extra;
        EXPECT_EQ(dialogs.shown, std::vector<std::string>{"Error:The firmware file is not correct.\nPlease check it."});
        EXPECT_EQ(press(), std::vector<std::string>{"Message:Please Load Firmware File First "});
    }

    load(sim::makeFirmwareImage());
    sim::Block busy = sim::makeStatusRecord();
    busy[105] |= 0x01;  // a rebuild is running
    platform.setStatus(1, busy);
    EXPECT_EQ(press(), std::vector<std::string>{"Error:Don't upgrade new firmware when device is rebuilding or scanning."});

    sim::Block odd = sim::makeStatusRecord();
    odd[1] = 0xD0;
    platform.setStatus(1, odd);
    EXPECT_EQ(press(), std::vector<std::string>{"Error:SPI Configuration Version Error"});

    platform.setStatus(1, sim::makeStatusRecord());
    const bool vu = GetParam() == Path::Vu1 || GetParam() == Path::Vu2;
    // A VU device gets no upgrade-mode command: its record read fails instead (every
    // probe of the search and the read itself).
    platform.failNext(1, vu ? FaultKind::Vu : FaultKind::FlashMode, vu ? 130 : 1);
    const auto shown = press();
    if (vu)
        EXPECT_EQ(shown, std::vector<std::string>{"Message:Get SPI Record fail "});
    else
        EXPECT_TRUE(shown.empty());  // the mode command's failure stays in the status bar
    EXPECT_EQ(flash(), before);
    EXPECT_FALSE(enclosure->flashModes().upgrade);
    expectIdleAgain();
}

// The step at which a request fails, the request kind, and the text the user gets.
struct Failure {
    const char* panel;  // the progress panel's text when the fault is armed
    FaultKind kind;
    const char* full;   // the box of a full upgrade ("" = step not in it)
    const char* sub;    // the box of a sub-code update
};

TEST_P(Faults, ARequestFailingAtEachStepEndsTheUpgradeWithItsText) {
    const bool vu = GetParam() == Path::Vu1 || GetParam() == Path::Vu2;
    const Failure failures[] = {
        {"Process 1 / 4", FaultKind::FlashErase, "Message:SPI Test Fail.", ""},
        {"Process 2 / 4", FaultKind::FlashErase, "Message:SPI Erase Fail.", ""},
        {"Process 3 / 4", FaultKind::FlashProgram, "Message:SPI Program Fail.", ""},
        {"Process 4 / 4", FaultKind::FlashRead,
         vu ? "Message:Read SPI Error USB"
            : GetParam() == Path::Ata ? "Message:VU command 0x88 FEA 0x01 Read Error" : "Message:Error code ",
         ""},
        {"Process 1 / 2", FaultKind::FlashErase, "", "Firmware Upgrade Message:SPI Erase fail"},
        {"Process 1 / 2", FaultKind::FlashProgram, "", "Firmware Upgrade Message:SPI Page Program fail"},
        {"Process 2 / 2", FaultKind::FlashRead, "", "Firmware Upgrade Message:SPI Read fail"},
    };
    for (const Failure& f : failures) {
        const bool full = *f.sub == 0;
        SCOPED_TRACE(std::string(f.panel) + (full ? " full" : " sub-code") + " " + sim::faultName(f.kind));
        load(sim::makeFirmwareImage(full ? fullImage() : sim::FirmwareImageOptions{}));
        enclosure->setRecordSlotsUsed(0, 3);  // records that list nothing: a sub-code image stays one
        const auto before = flash();
        triggers.clear();
        when(f.panel, [this, f] { platform.failNext(1, f.kind, 1); });
        const auto shown = press();
        ASSERT_EQ(shown.size(), 1u);
        if (full) {
            // The box names the copy of the flash kept before anything was erased.
            EXPECT_EQ(shown[0].rfind(f.full, 0), 0u) << shown[0];
            EXPECT_EQ(readFile(backupIn(shown[0])), before);
        } else {
            EXPECT_EQ(shown[0], f.sub);
        }
        EXPECT_FALSE(enclosure->flashModes().primitive);
        EXPECT_FALSE(form->MaintenanceBusy);
        EXPECT_EQ(platform.openHandles(), 0);
    }
    expectIdleAgain();
}

TEST_P(Faults, AModeCommandThatFailsEndsThePrimitive) {
    if (GetParam() == Path::Vu1 || GetParam() == Path::Vu2) GTEST_SKIP() << "no mode commands on the VU path";
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 2 / 4", [this] { platform.failNext(1, FaultKind::FlashMode, 1); });
    const auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    // The primitive-mode command of the erase failed: nothing was erased.
    EXPECT_EQ(shown[0].rfind("Message:SPI Erase Fail.", 0), 0u) << shown[0];
    EXPECT_EQ(enclosure->flashRefusals().size(), 0u);
    expectIdleAgain();
}

TEST_P(Faults, AReadBackThatDiffersIsAFailedVerify) {
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 4 / 4", [this] { enclosure->flipBitOfRead(100); });
    auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Message:SPI Verify fail !!!", 0), 0u) << shown[0];

    load(sim::makeFirmwareImage());
    enclosure->setRecordSlotsUsed(0, 3);
    triggers.clear();
    when("Process 1 / 2", [this] { enclosure->flipBitOfRead(10); });
    shown = press();
    EXPECT_EQ(shown, std::vector<std::string>{"Firmware Upgrade Message:CodeType 0x31 Verify Fail"});
    expectIdleAgain();
}

TEST_P(Faults, AnEnclosurePulledOutHalfWay) {
    load(sim::makeFirmwareImage(fullImage()));
    when("Process 3 / 4", [this] {
        platform.detach(1);
        form->DeviceChange();  // the platform's notification, taken up once the upgrade is over
    });
    const auto shown = press();
    // Ending the upgrade mode finds no drive to open ("Invalid Drive"), then the step's text.
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Error:Invalid Drive");
    EXPECT_EQ(shown[1].rfind("Message:SPI Program Fail.", 0), 0u) << shown[1];
    EXPECT_FALSE(form->MaintenanceBusy);
    EXPECT_EQ(form->dev.HeldDevice, kNoHeldDevice);
    EXPECT_FALSE(controls.visible(names::UpgradePanel));
    EXPECT_EQ(platform.openHandles(), 0);
    // The detection that waited for the upgrade has run: the enclosure is gone.
    EXPECT_EQ(form->dev.ActiveCount, 0);
}

// A record that names a slot the update did not fill would send the controller into
// whatever lies there: one entry the update cannot take stops it before anything is
// written, with one box.
TEST_P(Faults, AnEntryTheUpdateCannotTakeStopsItBeforeAnythingIsWritten) {
    const SubCodeOptions bad[] = {
        {0x33, 0xC001, true},   // no whole slot
        {0x35, 0x7C000, true},  // reaching past the end of the file
        {0x35, 0x74000, true},  // inside the record area
    };
    for (const SubCodeOptions& entry : bad) {
        SCOPED_TRACE(entry.offset.value_or(0));
        sim::FirmwareImageOptions o;
        o.subCodes = {{0x31, std::nullopt, true}, entry, {0x32, std::nullopt, true}};
        load(sim::makeFirmwareImage(o));
        const auto before = flash();
        barTexts.clear();
        const auto shown = press();
        EXPECT_EQ(shown, std::vector<std::string>{"Error:FileOffset Error of bin file!!"});
        EXPECT_EQ(controls.text(panelName(4)), "FileOffset Error of bin file!!");
        EXPECT_TRUE(flash() == before) << "the flash was written";
        EXPECT_TRUE(enclosure->flashRefusals().empty());
        const sim::FlashModes modes = enclosure->flashModes();
        EXPECT_FALSE(modes.upgrade || modes.primitive || modes.lowArea);
        EXPECT_FALSE(form->MaintenanceBusy);
        EXPECT_FALSE(controls.visible(names::UpgradePanel));
    }
    expectIdleAgain();
}

// Whatever throws inside the upgrade, it ends the way a failed step does: the upgrade
// mode is left, the panel goes, and the busy flag no longer keeps polling and closing
// away for good.
TEST_P(Faults, AnExceptionInsideEndsTheUpgradeLikeAFailure) {
    load(sim::makeFirmwareImage(fullImage()));
    bool armed = true;
    controls.addListener([&](const ControlChange& c) {
        if (armed && c.control == names::UpgradePanel && c.prop == Prop::Text && c.state.text == "Process 3 / 4") {
            armed = false;
            throw std::runtime_error("out of memory");
        }
    });
    press();
    EXPECT_FALSE(armed);
    const sim::FlashModes modes = enclosure->flashModes();
    EXPECT_FALSE(modes.upgrade || modes.primitive || modes.lowArea);
    expectIdleAgain();
    // The next upgrade runs as usual.
    const auto shown = press();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Firmware Upgrade Message:Firmware Upgrade 4/4 completed!", 0), 0u) << shown[0];
}

// The copy kept before a full upgrade is what undoes a bad one: it is kept only when two
// reads of the flash agree, and it never takes the place of a file already there (an
// earlier copy of the same second, or a link or FIFO someone planted).
TEST_P(Faults, TheKeptCopyIsReadTwiceAndNeverTakesAnotherFilesPlace) {
    const auto original = flash();
    load(sim::makeFirmwareImage(fullImage()));
    when("Saving the current firmware", [this] { enclosure->flipBitOfRead(300); });
    auto shown = press();
    EXPECT_EQ(shown, std::vector<std::string>{"Message:The current firmware could not be saved (two reads of the "
                                              "flash differ): nothing was written."});
    EXPECT_TRUE(flash() == original) << "erased without a good copy";
    expectIdleAgain();

    // Two upgrades within one second (no latency: the clock stands still).
    platform.setLatencyUs(0);
    triggers.clear();
    const double now = sched->wallSeconds();
    auto copy = [&](unsigned n) {
        return (std::filesystem::path(kit.dir()) / firmwareBackupName("SIM DUAL BAY RAID ENCLOSURE", "SIMENC00000000000001", now, n)).string();
    };
    const std::string victim = kit.dir() + "/victim";
    std::ofstream(victim) << "precious";
#ifdef _WIN32  // no link (mingw-w64 makes none) nor FIFO in a Windows folder: folders
    std::filesystem::create_directory(copy(1));
    std::filesystem::create_directory(copy(2));
#else
    std::filesystem::create_symlink(victim, copy(1));
    ASSERT_EQ(::mkfifo(copy(2).c_str(), 0600), 0);
#endif
    const auto first = sim::makeFirmwareImage(fullImage());
    sim::FirmwareImageOptions o = fullImage();
    o.kind = 0xB0;
    const auto second = sim::makeFirmwareImage(o);
    const std::string secondPath = kit.dir() + "/second.bin";
    std::ofstream(secondPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size()));
    dialogs.shown.clear();
    sched->post([&] {
        form->Click(names::Image2_Upgrade);
        loadFirmwareImage(*form, secondPath);
        form->Click(names::Image2_Upgrade);
    });
    sched->run(sched->nowUs() + 30'000'000);
    shown = dialogs.shown;
    ASSERT_EQ(shown.size(), 2u);
    for (const auto& text : shown)
        EXPECT_EQ(text.rfind("Firmware Upgrade Message:Firmware Upgrade 4/4 completed!", 0), 0u) << text;
    EXPECT_EQ(backupIn(shown[0]), copy(3));
    EXPECT_EQ(backupIn(shown[1]), copy(4));
    EXPECT_TRUE(readFile(copy(3)) == original);
    EXPECT_TRUE(readFile(copy(4)) == first);
    EXPECT_TRUE(flash() == second);
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
#ifdef _WIN32
    EXPECT_TRUE(std::filesystem::is_directory(copy(1)));
    EXPECT_TRUE(std::filesystem::is_directory(copy(2)));
#else
    EXPECT_TRUE(std::filesystem::is_symlink(copy(1)));
#endif
#ifdef _WIN32
#else
    struct stat st {};
    ASSERT_EQ(::lstat(copy(2).c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat(copy(3).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "a copy of the flash is its owner's alone";
#endif
}

TEST_P(Faults, TheRecordAreaKeepsOnlyItsNewestSector) {
    load(sim::makeFirmwareImage());
    // Sixteen records: the next one opens the second sector, and the first goes.
    enclosure->setRecordSlotsUsed(0, 16);
    ASSERT_EQ(press().size(), 1u);
    auto after = flash();
    EXPECT_TRUE(std::all_of(after.begin() + kArea, after.begin() + kArea + 0x1000, [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(after[0x79000], 16);
    EXPECT_EQ(readFlashDirectory(std::span(after).subspan(kArea, 0x8000)).currentIndex, 16u);

    // An erased area: the record goes to slot 0 with sequence 0, and the last sector
    // (where the newest record would otherwise be) is erased after it.
    enclosure->setRecordSlotsUsed(0, 0);
    auto withLast = flash();
    std::fill(withLast.begin() + 0x7F000 + 0x100, withLast.begin() + 0x7F000 + 0x200, std::uint8_t{0x00});
    withLast[0x7F000 + 0x100] = 0xFF;  // slot 113 looks erased to the search, yet its sector is not
    enclosure->loadFlash(withLast);
    ASSERT_EQ(press().size(), 1u);
    after = flash();
    EXPECT_EQ(after[kArea], 0);
    EXPECT_EQ(readFlashDirectory(std::span(after).subspan(kArea, 0x8000)).currentIndex, 0u);
    EXPECT_TRUE(std::all_of(after.begin() + 0x7F000, after.end(), [](auto b) { return b == 0xFF; }));
}

TEST_P(Faults, WhileItRunsNothingElseReachesTheDevice) {
    load(sim::makeFirmwareImage(fullImage()));
    bool closed = true, ended = true;
    int page = -1;
    std::uint32_t held = 0;
    std::size_t traceFrom = 0;
    std::string between;
    when("Process 2 / 4", [&] { traceFrom = traceText.str().size(); });
    when("Process 4 / 4", [&] { between = traceText.str().substr(traceFrom); });
    when("Process 3 / 4", [&] {
        form->Click(names::Image_Sts);
        form->Click(names::Image2_D2);
        form->Click(names::Image2_Upgrade);
        form->Click(names::Image2_Load);
        form->CheckBoxClick(names::CheckBox1, false);
        form->DeviceChange();
        closed = form->CloseRequest();
        ended = form->QueryEndSession();
        page = form->CurrentPage;
        held = form->dev.HeldDevice;
        EXPECT_FALSE(controls.enabled(names::CheckBox1));
    });
    const auto shown = press();
    EXPECT_FALSE(closed);
    EXPECT_FALSE(ended);
    EXPECT_EQ(page, 2);
    EXPECT_EQ(held, 0u);
    EXPECT_EQ(form->UpgradeDevice, 0);
    EXPECT_TRUE(controls.checked(names::CheckBox1));
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Message:Firmware is upgrading, please wait a moment.");
    EXPECT_EQ(shown[1].rfind("Firmware Upgrade Message:Firmware Upgrade 4/4 completed!", 0), 0u);
    EXPECT_EQ(flash(), sim::makeFirmwareImage(fullImage()));
    // Two steps long, with polls due every 4 s: not one status read, not one action.
    ASSERT_FALSE(between.empty());
    EXPECT_EQ(between.find("cdb=28000000002100"), std::string::npos);
    EXPECT_EQ(between.find("data=33581f"), std::string::npos);
    EXPECT_EQ(between.find("data=335824"), std::string::npos);
    expectIdleAgain();
}

INSTANTIATE_TEST_SUITE_P(Transports, Faults, ::testing::Values(Path::Mailbox, Path::Ata, Path::Vu1),
                         [](const auto& p) { return std::string(sim::pathName(p.param)); });

}  // namespace
}  // namespace raid
