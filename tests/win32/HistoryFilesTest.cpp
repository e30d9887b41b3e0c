// The history on Windows: the simulated enclosure's samples in the "history" folder
// beside the day logs, listed, bounded and cut back to whole records through the
// Windows file store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "monitor/HistoryStore.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

TEST(WinHistory, TheEngineKeepsItsBoundAndATornTailIsCutAndReported) {
    test::ScenarioKit kit;
    kit.historyDays = 2;
    kit.line("0 disk 0").line("0 volume C 0");
    kit.line("0 attach 1 mailbox identity=" + kit.block("id.bin", sim::makeIdentityPage()) + " status=" +
             kit.block("st.bin", sim::makeStatusRecord(sim::StatusOptions().setFan(0xA0, 3000, 40))));
    auto& r = kit.run(3 * 86400 - 30, 0, 1796601600.0);
    ASSERT_EQ(kit.loadError, "");
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(kit.dir() + "\\history")) files.push_back(e.path());
    ASSERT_EQ(files.size(), 2u);
    for (const auto& f : files) EXPECT_EQ(fs::file_size(f), HistoryStore::kMaxFileBytes) << f;

    // A power cut in the last append: ten bytes of the last record are missing.
    std::sort(files.begin(), files.end());
    fs::resize_file(files.back(), HistoryStore::kMaxFileBytes - 10);
    std::vector<std::string> reports;
    const std::unique_ptr<FileStore> store = makeStdFileStore();
    HistoryStore history(*store, HistoryStore::folderIn(kit.dir()), 2, [&](const std::string& t) { reports.push_back(t); });
    const std::string key = r.form().historyRecorder()->keyOf(0);
    EXPECT_EQ(history.read(key, 0).samples.size(), 2u * 1440u - 1u);
    // The next writer cuts the torn record off, says so, and appends after the whole ones.
    HistorySample last;
    last.minute = 1796601600 + 3 * 86400 - 60;
    last.fanSpeed = 1234;
    EXPECT_TRUE(history.add(key, "label", last));
    EXPECT_EQ(fs::file_size(files.back()), HistoryStore::kMaxFileBytes);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "History file " + files.back().filename().string() + ": damaged after 1439 whole samples; 14 bytes cut off");
    const HistorySeries all = history.read(key, 0);
    ASSERT_EQ(all.samples.size(), 2u * 1440u);
    EXPECT_EQ(all.samples.back().fanSpeed, 1234);
}

}  // namespace
}  // namespace raid
