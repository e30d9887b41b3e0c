// The day logs go beside the program on Windows: the folder comes from the system, not
// from the folder the program happens to be started in.
#include <gtest/gtest.h>

#include <windows.h>

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

}  // namespace
}  // namespace raid
