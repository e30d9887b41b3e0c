// An engine with one simulated enclosure for the firmware upgrade tests: the window's
// engine on the virtual clock, every request traced, the progress bar's texts kept.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <utility>
#include <sstream>

#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "maintenance/FirmwareUpgrade.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"
#include "sim/Trace.h"
#include "support/QuietDialogs.h"
#include "support/ScenarioKit.h"

namespace raid::test {

using sim::Path;

constexpr std::uint32_t kArea = 0x78000;

// Five sub-codes: more than the sub-code update takes, so the upgrade is a full one.
inline sim::FirmwareImageOptions fullImage() {
    sim::FirmwareImageOptions o;
    o.subCodes = {{0x31, std::nullopt, true}, {0x32, std::nullopt, true}, {0x33, std::nullopt, true},
                  {0x34, std::nullopt, true}, {0x36, std::nullopt, true}};
    return o;
}

struct UpgradeRig : ::testing::TestWithParam<Path> {
    test::ScenarioKit kit;
    sim::SimPlatform platform{[this](std::int64_t us) { sched->sleepUs(us); }};
    std::ostringstream traceText;
    sim::TracePort trace{platform, traceText};
    test::QuietDialogs dialogs;
    std::unique_ptr<Scheduler> sched = makeVirtualScheduler(1796601600.0);
    Controls controls;
    std::unique_ptr<MainForm> form;
    sim::SimEnclosure* enclosure = nullptr;
    // The bar's positions as "value/maximum", the way the output lines show them.
    std::vector<std::string> barTexts;
    // Work the engine does (between two requests) once the progress panel shows a text.
    std::vector<std::pair<std::string, std::function<void()>>> triggers;
    void when(const std::string& panelText, std::function<void()> action) {
        triggers.emplace_back(panelText, std::move(action));
    }

    void SetUp() override {
        platform.addPlainDisk(0);
        enclosure = &platform.attach(1, GetParam(), sim::makeIdentityPage(), sim::makeStatusRecord());
        platform.setLatencyUs(500);
        controls.addListener([this](const ControlChange& c) {
            if (c.control == names::ProgressBar1 && c.prop == Prop::Progress)
                barTexts.push_back(std::to_string(c.state.progress.value) + "/" +
                                   std::to_string(c.state.progress.maximum));
            if (c.control != names::UpgradePanel || c.prop != Prop::Text) return;
            for (auto& [text, action] : triggers)
                if (action && text == c.state.text) sched->post(std::exchange(action, nullptr));
        });
        form = std::make_unique<MainForm>(
            Ports{*sched, trace, platform, dialogs, nullptr, nullptr, nullptr, kit.dir(), kit.dir()}, controls);
        form->FormCreate();
        sched->run(6'000'000);
        ASSERT_EQ(form->dev.ActiveCount, 1);
    }
    // The user loads these bytes as a file; the boxes of the load are in dialogs.shown.
    void loadFile(const std::vector<std::uint8_t>& bytes) {
        const std::string path = kit.dir() + "/fw.bin";
        std::ofstream(path, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        dialogs.shown.clear();
        form->Click(names::Image_FWUpg);
        loadFirmwareImage(*form, path);
    }
    void load(const std::vector<std::uint8_t>& bytes) {
        loadFile(bytes);
        ASSERT_TRUE(form->firmwareImage().loaded());
    }
    // Presses Upgrade while the engine runs (its clock moving with every request) and
    // returns the boxes it showed.
    std::vector<std::string> press() {
        dialogs.shown.clear();
        traceText.str("");
        sched->post([this] { form->Click(names::Image2_Upgrade); });
        sched->run(sched->nowUs() + 30'000'000);
        return dialogs.shown;
    }
    std::vector<std::uint8_t> flash() const { return enclosure->flashCopy(); }
    static std::vector<std::uint8_t> readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The file named at the end of a box's text (the kept copy of the flash).
    std::string backupIn(const std::string& text) const {
        const std::size_t at = text.find(kit.dir());
        return at == std::string::npos ? std::string() : text.substr(at);
    }
    void expectIdleAgain() {
        EXPECT_FALSE(form->MaintenanceBusy);
        EXPECT_EQ(form->dev.HeldDevice, kNoHeldDevice);
        EXPECT_FALSE(form->dev.UpgradeHoldsDevice);
        EXPECT_TRUE(controls.enabled(names::CheckBox1));
        EXPECT_FALSE(controls.visible(names::UpgradePanel));
        EXPECT_FALSE(sched->timerEnabled(form->Timer1));
        EXPECT_EQ(platform.openHandles(), 0);
        // Polling resumes: the next polls read the status record again.
        traceText.str("");
        sched->run(sched->nowUs() + 10'000'000);
        EXPECT_NE(traceText.str().find("SCSI"), std::string::npos);
    }
    // Mode commands on the wire: mailbox codes 0x03/0x04/0x10 written as commands, or
    // the ATA vendor command with any features but the read.
    int modeCommands() const {
        int n = 0;
        std::istringstream in(traceText.str());
        for (std::string line; std::getline(in, line);) {
            if (line.find("ATA regs=") != std::string::npos && line.find("88 ") != std::string::npos &&
                line.find("regs=01") == std::string::npos)
                ++n;
            for (const char* code : {"data=335803", "data=335804", "data=335810"})
                if (line.find(code) != std::string::npos) ++n;
        }
        return n;
    }
};

}  // namespace raid::test
