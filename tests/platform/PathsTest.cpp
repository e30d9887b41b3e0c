// Paths joined and split by hand: '/' works everywhere, '\' separates folders only where
// it is the platform's own separator (on Linux it is a character of a file name), and a
// joined path keeps the spelling its folder has.
#include <gtest/gtest.h>

#include <string>

#include "platform/Paths.h"

namespace raid {
namespace {

const bool kWindows = paths::separator() == '\\';

TEST(Paths, JoinAndSplitOnThisPlatform) {
    // The spelling of the folder goes on; a bare folder takes the platform's separator.
    EXPECT_EQ(paths::join("/logs", "261207.log"), "/logs/261207.log");
    EXPECT_EQ(paths::join("/logs/", "261207.log"), "/logs/261207.log");
    EXPECT_EQ(paths::join("", "261207.log"), "261207.log");
    EXPECT_EQ(paths::join("logs", "a.log"), std::string("logs") + paths::separator() + "a.log");
    EXPECT_EQ(paths::withSeparator(""), std::string(".") + paths::separator());
    EXPECT_EQ(paths::withSeparator("./logs"), "./logs/");
    EXPECT_EQ(paths::withoutTrailingSeparators("/logs//"), "/logs");
    EXPECT_EQ(paths::withoutTrailingSeparators("/"), "/");
    EXPECT_EQ(paths::folderOf("/a/b.scenario"), "/a/");
    EXPECT_EQ(paths::folderOf("b.scenario"), "");
    EXPECT_EQ(paths::fileNameOf("/logs/261207.log"), "261207.log");
    // A scenario names its files relative to its own folder; an absolute name stands.
    EXPECT_EQ(paths::besideFile("runs/upgrade.scenario", "fw2.bin"), "runs/fw2.bin");
    EXPECT_EQ(paths::besideFile("upgrade.scenario", "fw2.bin"), "fw2.bin");
    EXPECT_EQ(paths::besideFile("", "fw2.bin"), "fw2.bin");

    if (kWindows) {
        EXPECT_TRUE(paths::isSeparator('\\'));
        EXPECT_EQ(paths::join("C:\\Logs", "261207.log"), "C:\\Logs\\261207.log");
        EXPECT_EQ(paths::join("C:\\Program Files/RAID", "a.log"), "C:\\Program Files/RAID/a.log");
        EXPECT_EQ(paths::folderOf("C:\\runs\\upgrade.scenario"), "C:\\runs\\");
        EXPECT_EQ(paths::fileNameOf("D:/x\\261207.log"), "261207.log");
        EXPECT_EQ(paths::withSeparator("C:\\Logs"), "C:\\Logs\\");
        EXPECT_EQ(paths::withoutTrailingSeparators("C:\\"), "C:\\");
        EXPECT_EQ(paths::withoutTrailingSeparators("C:\\Logs\\/"), "C:\\Logs");
        EXPECT_EQ(paths::besideFile("C:\\runs\\a.scenario", "fw2.bin"), "C:\\runs\\fw2.bin");
        EXPECT_EQ(paths::besideFile("C:\\runs\\a.scenario", "D:\\fw2.bin"), "D:\\fw2.bin");
        EXPECT_EQ(paths::besideFile("C:\\runs\\a.scenario", "\\\\server\\share\\fw2.bin"), "\\\\server\\share\\fw2.bin");
    } else {
        // A backslash is part of a Linux file name, never a folder.
        EXPECT_FALSE(paths::isSeparator('\\'));
        EXPECT_EQ(paths::fileNameOf("/logs/a\\261207.log"), "a\\261207.log");
        EXPECT_EQ(paths::folderOf("a\\b.scenario"), "");
        EXPECT_EQ(paths::join("C:\\Logs", "a.log"), "C:\\Logs/a.log");
        EXPECT_EQ(paths::besideFile("/runs/a.scenario", "/abs/fw2.bin"), "/abs/fw2.bin");
        EXPECT_EQ(paths::besideFile("/runs/a.scenario", "C:\\fw2.bin"), "/runs/C:\\fw2.bin");
    }
}

}  // namespace
}  // namespace raid
