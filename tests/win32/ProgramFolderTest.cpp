// The day logs go beside the program on Windows: the folder comes from the system, not
// from the folder the program happens to be started in.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "monitor/EventLog.h"
#include "monitor/Fixtures.h"
#include "platform/FileStore.h"
#include "platform/win32/WinPlatform.h"

namespace raid {
namespace {

TEST(ProgramFolder, IsTheFolderOfTheRunningExe) {
    char exe[MAX_PATH + 1] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, MAX_PATH), 0u);
    const std::string folder = win32::programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '\\');
    EXPECT_EQ(std::string(exe).rfind(folder, 0), 0u) << exe << " vs " << folder;
    EXPECT_EQ(defaultLogFolders(nullptr).log, folder);
}

TEST(ProgramFolder, TheDayLogIsWrittenBesideTheProgramWithItsOwnLineEnds) {
    // Started from another folder, and told another name for itself.
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    char was[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(MAX_PATH, was);
    ASSERT_TRUE(SetCurrentDirectoryA(temp));
    const LogFolders folders = defaultLogFolders("C:\\elsewhere\\raid-gui.exe");
    SetCurrentDirectoryA(was);
    EXPECT_EQ(folders.log, win32::programFolder());
    char local[MAX_PATH + 1] = {};
    if (GetEnvironmentVariableA("LOCALAPPDATA", local, MAX_PATH) > 0) {
        EXPECT_EQ(folders.fallback, std::string(local) + "\\raid-gui");
    }

    auto store = makeStdFileStore();
    const std::string day = folders.log + "261207.log";
    DeleteFileA(day.c_str());
    {
        EventLog log(*store, folders.log, folders.fallback, "RAID GUI v0.23.7-3");
        log.prepareForPass(testing::wallAt(2026, 12, 7, 9, 30, 0), true);
        log.addLine("D1 HDD2 was removed, " + log.timestamp());
        ASSERT_TRUE(log.save());
        EXPECT_EQ(log.dayName(), "261207");
    }
    const std::optional<std::string> text = store->readAll(day);
    ASSERT_TRUE(text);
    // Every line ends with one CR LF: binary mode adds no second CR.
    EXPECT_NE(text->find("D1 HDD2 was removed, 12/07/26 09:30:00\r\n"), std::string::npos) << *text;
    EXPECT_EQ(text->find("\r\r"), std::string::npos);
    EXPECT_EQ(text->back(), '\n');
    DeleteFileA(day.c_str());
}

}  // namespace
}  // namespace raid
