// The file that keeps the settings key in its export text form on Linux: what a write
// leaves on disk, and special files where the file should be.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/RegistryText.h"
#include "platform/WithinDeadline.h"
#include "platform/linux/LinuxSettingsFile.h"

namespace raid {
namespace {

namespace fs = std::filesystem;

std::string key() { return std::string("[") + kSettingsKey + "]\n"; }

struct SettingsFileTest : ::testing::Test {
    std::string dir;
    void SetUp() override {
        char pattern[] = "/tmp/raid-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string slurp(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
};

TEST_F(SettingsFileTest, FirstWriteCreatesAPrivateFileAndEveryWriteReplacesIt) {
    const std::string path = dir + "/etc/qx-raid-gui/settings.reg";
    {
        auto s = makeSettingsFile(path);
        EXPECT_FALSE(s->keyExists());
        EXPECT_TRUE(s->takeProblems().empty());
        ::umask(0022);
        EXPECT_EQ(s->write("Port", RegValue::sz("25")), "");
        EXPECT_TRUE(s->keyExists());
        EXPECT_EQ(s->write("EMailSend", RegValue::number(3)), "");
        EXPECT_EQ(s->write("port", RegValue::sz("587")), "");  // names are not case-sensitive
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((dir + "/etc/qx-raid-gui").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(slurp(path), "REGEDIT4\n\n" + key() + "\"Port\"=\"587\"\n\"EMailSend\"=dword:00000003\n");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/etc/qx-raid-gui"), fs::directory_iterator()), 1);

    auto again = makeSettingsFile(path);
    EXPECT_TRUE(again->keyExists());
    ASSERT_TRUE(again->read("PORT"));
    EXPECT_EQ(again->read("PORT")->text, "587");
    EXPECT_EQ(again->valueNames(), (std::vector<std::string>{"Port", "EMailSend"}));
}

TEST_F(SettingsFileTest, AFailingWriteGivesTheSystemsTextAndKeepsTheEarlierFile) {
    const std::string path = dir + "/settings.reg";
    auto s = makeSettingsFile(path);
    ASSERT_EQ(s->write("Port", RegValue::sz("25")), "");
    const std::string before = slurp(path);
    if (::geteuid() != 0) {
        // A folder the user may not write (root may write anywhere).
        ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
        EXPECT_EQ(s->write("SMTP", RegValue::sz("mail.example")), "Permission denied");
        ::chmod(dir.c_str(), 0700);
        EXPECT_FALSE(s->read("SMTP"));
        EXPECT_EQ(slurp(path), before);
    }
    // A folder that is a file: the write fails with the system's words.
    auto blocked = makeSettingsFile(path + "/inside.reg");
    EXPECT_EQ(blocked->write("Port", RegValue::sz("25")), "Not a directory");
    EXPECT_FALSE(blocked->keyExists());
    EXPECT_EQ(slurp(path), before);
    // A folder others can write is refused, with the reason.
    fs::create_directory(dir + "/open");
    ASSERT_EQ(::chmod((dir + "/open").c_str(), 0777), 0);
    auto open = makeSettingsFile(dir + "/open/settings.reg");
    EXPECT_EQ(open->write("Port", RegValue::sz("25")), "the folder " + dir + "/open can be written by other users");
    EXPECT_TRUE(fs::is_empty(dir + "/open"));
}

TEST_F(SettingsFileTest, SpecialFilesAreNeverOpenedNorReplaced) {
    const std::string fifo = dir + "/fifo.reg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto made = std::make_shared<std::unique_ptr<SettingsPort>>();
    raid::testing::Deadline opening([made, fifo] { *made = makeSettingsFile(fifo); });
    ASSERT_TRUE(opening.wait()) << "reading the settings blocked on a FIFO";
    auto& s = *made;
    EXPECT_FALSE(s->keyExists());
    const auto problems = s->takeProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("not a regular file"), std::string::npos);
    EXPECT_TRUE(s->takeProblems().empty());  // reported once
    EXPECT_NE(s->write("Port", RegValue::sz("25")), "");
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    auto zero = makeSettingsFile("/dev/zero");
    EXPECT_FALSE(zero->keyExists());
    EXPECT_EQ(zero->takeProblems().size(), 1u);

    const std::string big = dir + "/big.reg";
    {
        std::ofstream f(big);
        f << "REGEDIT4\n" << key() << std::string(2 << 20, ';') << "\n";
    }
    auto huge = makeSettingsFile(big);
    EXPECT_FALSE(huge->keyExists());
    EXPECT_NE(huge->takeProblems().at(0).find("larger than 1 MiB"), std::string::npos);
    EXPECT_NE(huge->write("Port", RegValue::sz("25")), "");
    EXPECT_GT(fs::file_size(big), 2u << 20);  // left as it was
}

// Two programs on one file: a save reads the file again and changes only its own
// values, and never writes what would not read back.
TEST_F(SettingsFileTest, ASaveReadsTheFileAgainAndWritesOnlyItsValues) {
    const std::string path = dir + "/settings.reg";
    auto window = makeSettingsFile(path);
    auto service = makeSettingsFile(path);
    ASSERT_EQ(window->write("Port", RegValue::sz("25")), "");
    ASSERT_EQ(service->update({SettingsUpdate::set("Security", RegValue::number(1)),
                               SettingsUpdate::ifMissing("Port", RegValue::sz("2525"))}),
              "");
    EXPECT_EQ(service->read("Port")->text, "25");  // it was there by then
    ASSERT_EQ(window->write("SMTP", RegValue::sz("mail.example")), "");
    EXPECT_EQ(window->read("Security")->dword, 1u);  // the window now sees it too
    EXPECT_EQ(slurp(path),
              "REGEDIT4\n\n" + key() + "\"Port\"=\"25\"\n\"Security\"=dword:00000001\n\"SMTP\"=\"mail.example\"\n");

    // A save that would make the file larger than a start reads: refused, nothing written.
    const std::string before = slurp(path);
    const std::string error = window->write("UserName", RegValue::sz(std::string(1 << 20, 'n')));
    EXPECT_NE(error.find("larger than 1 MiB; nothing was saved"), std::string::npos) << error;
    EXPECT_EQ(slurp(path), before);
    EXPECT_FALSE(window->read("UserName"));
    // A file grown too large since: never written over.
    { std::ofstream(path, std::ios::app) << std::string(2 << 20, ';') << "\n"; }
    const std::string grown = slurp(path);
    EXPECT_NE(window->write("Port", RegValue::sz("26")).find("larger than 1 MiB; it is not written over"),
              std::string::npos);
    EXPECT_EQ(slurp(path), grown);
}

TEST(SettingsPaths, UserFolderFollowsTheXdgRules) {
    EXPECT_EQ(userSettingsPath("/x/cfg", "/home/a", "raid-gui-sim"), "/x/cfg/raid-gui-sim/settings.reg");
    EXPECT_EQ(userSettingsPath("", "/home/a", "raid-gui-sim"), "/home/a/.config/raid-gui-sim/settings.reg");
    EXPECT_EQ(userSettingsPath("relative", "/home/a", "raid-gui-sim"), "/home/a/.config/raid-gui-sim/settings.reg");
    EXPECT_EQ(userSettingsPath("", "", "raid-gui-sim"), "");
}

}  // namespace
}  // namespace raid
