// One look at the enclosures for scripts: the summary and exit status after one
// detection pass and one poll of simulated enclosures, and what the look leaves alone.
#include <gtest/gtest.h>

#include <tuple>

#include "app/StatusCheck.h"
#include "monitor/StatusSummary.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

using test::ScenarioKit;

struct StatusCheck : ::testing::Test {
    std::unique_ptr<ScenarioKit> k = std::make_unique<ScenarioKit>();

    // An enclosure on drive `n` with this status record, volume `letter` on it.
    void enclosure(int n, char letter, const sim::StatusOptions& status, const sim::IdentityOptions& id = {}) {
        const std::string d = std::to_string(n);
        k->line("0 attach " + d + " mailbox identity=" + k->block("id" + d + ".bin", sim::makeIdentityPage(id)) +
                " status=" + k->block("st" + d + ".bin", sim::makeStatusRecord(status)));
        k->line(std::string("0 volume ") + letter + " " + d);
    }

    StatusSummary check() {
        sim::RunOptions o = k->realTimeOptions(0);
        o.virtualTime = true;
        o.tracePath = k->dir() + "/trace.txt";
        sim::SimRunner runner(o, nullptr);
        std::string error;
        EXPECT_TRUE(runner.load(error)) << error;
        std::unique_ptr<MainForm> form = runner.buildForm(error);
        EXPECT_TRUE(form) << error;
        if (!form) return {};
        form->AnnounceToEnclosure = false;
        form->MailAlerts = false;
        StatusSummary s = runStatusCheck(*form, 120'000'000, {}, [&runner] { runner.afterCreate(); });
        runner.scheduler().quit();
        runner.scheduler().joinWorkers();
        form.reset();
        EXPECT_TRUE(runner.finish(error)) << error;
        json = statusJson(s);
        text = statusText(s);
        return s;
    }
    std::string json, text;
};

TEST_F(StatusCheck, AHealthyMirrorIsZeroWithEverythingAScriptNeeds) {
    k->line("0 disk 0").line("0 volume C 0");
    enclosure(1, 'E', sim::StatusOptions());
    const StatusSummary s = check();
    ASSERT_EQ(s.enclosures.size(), 1u);
    EXPECT_EQ(s.exitCode(), 0);
    const EnclosureSummary& e = s.enclosures[0];
    EXPECT_EQ(e.name, "SIM DUAL BAY RAID ENCLOSURE [E]");
    EXPECT_EQ(e.volumes, "E");
    EXPECT_EQ(e.drives, std::vector<std::string>{"PhysicalDrive1"});
    EXPECT_EQ(e.access, "mailbox");
    EXPECT_EQ(e.firmware, "101208.0.A01");
    EXPECT_EQ(e.mode, "Mirroring(RAID1)");
    EXPECT_EQ(e.bays[0].state, "present");
    EXPECT_EQ(e.bays[1].capacityGB, 3726u);
    EXPECT_EQ(e.bays[1].model, "WDC WD40EFRX-68N32N0");
    EXPECT_EQ(e.fanRpm, 1800);
    EXPECT_EQ(e.temperatureC, 38);
    EXPECT_NE(json.find("\"status\":\"healthy\",\"exitCode\":0"), std::string::npos) << json;
    EXPECT_NE(json.find("\"fan\":{\"rpm\":1800,\"alarm\":false}"), std::string::npos) << json;
    EXPECT_NE(text.find("Health: healthy"), std::string::npos) << text;

    // A look tells the enclosure nothing: no action command (a write to sector 20)
    // goes out, neither the start's nor the end's.
    for (const std::string& line : k->traceLines())
        EXPECT_EQ(line.find("cdb=2a000000001400"), std::string::npos) << line;
}

TEST_F(StatusCheck, RebuildScanFailedDriveAndAlarmsAreDegraded) {
    struct Case {
        const char* what;
        sim::StatusOptions status;
        std::string activity;
        std::string problem;
    };
    const Case cases[] = {
        {"rebuild", sim::StatusOptions().setActivity(0x01, 37), "rebuild", "rebuild running (37%)"},
        {"failed drive", sim::StatusOptions().setDriveState(1, sim::kDriveFailed), "idle", "HDD2 failed"},
        {"pulled drive", sim::StatusOptions().setDriveState(0, sim::kDriveAbsent), "idle", "HDD1 absent"},
        {"fan", sim::StatusOptions().setFan(0xA1, 0, 40), "idle", "fan failure"},
        {"heat", sim::StatusOptions().setFan(0xA4, 1800, 71), "idle", "over temperature"},
        {"mirror on one drive", sim::StatusOptions().setDriveState(1, 0), "idle", "HDD2 missing from the set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        k = std::make_unique<ScenarioKit>();
        k->line("0 disk 0");
        enclosure(1, 'E', c.status);
        const StatusSummary s = check();
        ASSERT_EQ(s.enclosures.size(), 1u);
        EXPECT_EQ(s.exitCode(), 1);
        EXPECT_EQ(s.enclosures[0].activity, c.activity);
        EXPECT_NE(std::find(s.enclosures[0].problems.begin(), s.enclosures[0].problems.end(), c.problem),
                  s.enclosures[0].problems.end())
            << text;
        EXPECT_NE(json.find("\"health\":\"degraded\""), std::string::npos);
    }
    // The rebuild's target and progress, as numbers.
    k = std::make_unique<ScenarioKit>();
    enclosure(1, 'E', sim::StatusOptions().setActivity(0x02, 64));
    check();
    EXPECT_NE(json.find("\"activity\":\"rebuild\",\"progress\":64,\"target\":2"), std::string::npos) << json;
    EXPECT_NE(text.find("Rebuild: 64% (HDD2)"), std::string::npos) << text;
    // One look measures no rate: the time left is not known (the running service's
    // summary, made over many polls, has it).
    EXPECT_NE(json.find("\"target\":2,\"secondsLeft\":null,\"percentPerHour\":null,"), std::string::npos) << json;
    EXPECT_NE(text.find("Rebuild: 64% (HDD2)\n  Time left: unknown\n"), std::string::npos) << text;
    StatusSummary timed = check();
    ASSERT_EQ(timed.enclosures.size(), 1u);
    for (const auto& [estimate, line, fields] : std::vector<std::tuple<TimeLeftEstimate, std::string, std::string>>{
             {{true, 7980.4, 27.25}, "about 2 h 13 min (27 %/h)", "7980,\"percentPerHour\":27.25,"},
             {{true, 3.6e8, 0.0001}, "over 99 d (0.00 %/h)", "360000000,\"percentPerHour\":0.0001,"}}) {
        timed.enclosures[0].timeLeft = estimate;
        EXPECT_NE(statusText(timed).find("  Time left: " + line + "\n"), std::string::npos) << statusText(timed);
        EXPECT_NE(statusJson(timed).find("\"secondsLeft\":" + fields), std::string::npos) << statusJson(timed);
    }
}

TEST_F(StatusCheck, AHybridDeviceNamesItsSsdAndItsFlushIsNoFault) {
    k->line("0 disk 0");
    enclosure(1, 'F',
              sim::StatusOptions()
                  .setKind(sim::kKindHybrid)
                  .setMode('D')
                  .setDrive(0, sim::DriveRecord{sim::kDrivePresent, "Samsung SSD 870 EVO 500GB", "S62A", 976773168ull}),
              sim::IdentityOptions().setModel("SIM HYBRID").setProductClass(1));
    StatusSummary s = check();
    ASSERT_EQ(s.enclosures.size(), 1u);
    EXPECT_EQ(s.exitCode(), 0);
    EXPECT_EQ(s.enclosures[0].controller, "hybrid");
    EXPECT_EQ(s.enclosures[0].mode, "CacheHDD");
    EXPECT_EQ(s.enclosures[0].bays[0].name, "SSD");
    EXPECT_EQ(s.enclosures[0].bays[0].capacityGB, 465u);
    EXPECT_EQ(s.enclosures[0].bays[1].name, "HDD");

    k = std::make_unique<ScenarioKit>();
    sim::StatusOptions flushing = sim::StatusOptions().setKind(sim::kKindHybrid).setMode('D');
    flushing.flushPosition = 123456;
    enclosure(1, 'F', flushing, sim::IdentityOptions().setProductClass(1));
    s = check();
    ASSERT_EQ(s.enclosures.size(), 1u);
    EXPECT_EQ(s.enclosures[0].activity, "flush");
    EXPECT_EQ(s.exitCode(), 0);
}

TEST_F(StatusCheck, SeveralEnclosuresNoneAndUnreadableRecords) {
    // Three enclosures: the third is past the two that are polled and is summed up
    // from the record its detection read.
    k->line("0 disk 0");
    enclosure(1, 'E', sim::StatusOptions());
    enclosure(2, 'F', sim::StatusOptions().setDriveState(0, sim::kDriveFailed), sim::IdentityOptions().setModel("SECOND"));
    enclosure(3, 'G', sim::StatusOptions(), sim::IdentityOptions().setModel("THIRD"));
    StatusSummary s = check();
    ASSERT_EQ(s.enclosures.size(), 3u);
    EXPECT_EQ(s.exitCode(), 1);
    EXPECT_EQ(s.enclosures[0].health, Health::Healthy);
    EXPECT_EQ(s.enclosures[1].device, 2);
    EXPECT_EQ(s.enclosures[1].model, "SECOND");
    EXPECT_EQ(s.enclosures[1].health, Health::Degraded);
    EXPECT_EQ(s.enclosures[2].source, "detection");
    EXPECT_EQ(s.enclosures[2].health, Health::Healthy);

    // Nothing found at all.
    k = std::make_unique<ScenarioKit>();
    k->line("0 disk 0").line("0 volume C 0");
    s = check();
    EXPECT_TRUE(s.enclosures.empty());
    EXPECT_EQ(s.exitCode(), 2);
    EXPECT_NE(text.find("No enclosure found."), std::string::npos);
    EXPECT_NE(json.find("\"status\":\"unknown\",\"exitCode\":2"), std::string::npos) << json;
    EXPECT_NE(json.find("\"enclosures\":[]"), std::string::npos) << json;

    // A record of a kind nobody knows cannot vouch for anything: 2, even beside a
    // healthy enclosure.
    k = std::make_unique<ScenarioKit>();
    enclosure(1, 'E', sim::StatusOptions());
    enclosure(2, 'F', sim::StatusOptions().setKind(0x55));
    s = check();
    ASSERT_EQ(s.enclosures.size(), 2u);
    EXPECT_EQ(s.enclosures[1].health, Health::Unknown);
    EXPECT_EQ(s.exitCode(), 2);

    // A poll that fails (the enclosure stops answering after its detection).
    k = std::make_unique<ScenarioKit>();
    enclosure(1, 'E', sim::StatusOptions());
    k->line("0.3 fail 1 read 50");
    s = check();
    ASSERT_EQ(s.enclosures.size(), 1u);
    EXPECT_EQ(s.enclosures[0].health, Health::Unknown);
    EXPECT_EQ(s.enclosures[0].problems, std::vector<std::string>{"the status record could not be read"});
    EXPECT_EQ(s.exitCode(), 2);
}

TEST(StatusJson, DeviceAndServerTextCannotBreakTheDocument) {
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("x\x01\n\x7F", 4)), "\"x\\u0001\\u000A\\u007F\"");
    EXPECT_EQ(jsonString("J\xC3\xB6rg \xE2\x82\xAC"), "\"J\xC3\xB6rg \xE2\x82\xAC\"");  // UTF-8 passes
    // Broken sequences, overlong forms and surrogates become U+FFFD, one per byte.
    EXPECT_EQ(jsonString("\xC3"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xF4\x90\x80\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");

    StatusSummary s;
    s.notes.push_back("server said \"no\"\r\n\x1B[31m");
    EXPECT_NE(statusJson(s).find("\"notes\":[\"server said \\\"no\\\"\\u000D\\u000A\\u001B[31m\"]"), std::string::npos)
        << statusJson(s);
}

}  // namespace
}  // namespace raid
