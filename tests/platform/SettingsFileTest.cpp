// The settings key in its export text form, and the file that keeps it: what a hand
// edit may hold, what a write leaves on disk, and special files where the file should be.
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

TEST(RegistryText, ValuesOfEveryTypeRoundTrip) {
    std::vector<std::pair<std::string, RegValue>> values = {
        {"Port", RegValue::sz("25")},
        {"UserName", RegValue::sz("Ann \"The Admin\" O\\Neil")},
        {"EMailSend", RegValue::number(0xDEADBEEF)},
        {"ProductID", RegValue::binary({0x00, 0x7f, 0x80, 0xff, 0x12})},
        {"Odd", RegValue::sz(std::string("two\r\nlines\0x", 13))},
        {"Empty", RegValue::binary({})},
    };
    const std::string text = formatRegistryText(values);
    EXPECT_EQ(text.rfind("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\n\"Port\"=\"25\"\n", 0), 0u) << text;
    EXPECT_NE(text.find("\"EMailSend\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("\"ProductID\"=hex:00,7f,80,ff,12\n"), std::string::npos);
    EXPECT_NE(text.find("\"UserName\"=\"Ann \\\"The Admin\\\" O\\\\Neil\"\n"), std::string::npos);
    // Every value on its own line, whatever it holds.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9);
    const RegistryText back = parseRegistryText(text);
    EXPECT_TRUE(back.hasKey);
    EXPECT_TRUE(back.problems.empty());
    ASSERT_EQ(back.values.size(), values.size());
    // A string is kept up to its first zero byte.
    values[4].second = RegValue::sz("two\r\nlines");
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back.values[i].first, values[i].first);
        EXPECT_TRUE(back.values[i].second == values[i].second) << values[i].first;
    }
}

TEST(RegistryText, WhatAnEditorExportOrAHandEditMayHold) {
    const std::string text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
        "; written by hand\r\n"
        "[hkey_local_machine\\software\\qx_raid_gui]\r\n"
        "@=\"default\"\r\n"
        "\"ProductID\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Count\"=hex(4):0a,00,00,00\r\n"
        "\"Text\"=hex(1):41,42,00,43\r\n"
        "\"Port\"=\"25\"\r\n"
        "\"Port\"=\"587\"\r\n"
        "\"Gone\"=\"x\"\r\n"
        "\"Gone\"=-\r\n"
        "\"Broken\"=dword:123456789\r\n"
        "\"Bad hex\"=hex:1,2\r\n"
        "no equals sign\r\n"
        "\"Unclosed=\"x\r\n"
        "\"Weird\"=hex(7):00\r\n"
        "\"After\"=dword:0000002a\r\n"
        "[HKEY_CURRENT_USER\\Other]\r\n"
        "\"Elsewhere\"=\"y\"\r\n";
    const RegistryText r = parseRegistryText(text);
    EXPECT_TRUE(r.hasKey);
    auto find = [&](const std::string& n) -> const RegValue* {
        for (const auto& e : r.values)
            if (e.first == n) return &e.second;
        return nullptr;
    };
    ASSERT_TRUE(find("ProductID"));
    EXPECT_EQ(find("ProductID")->bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(find("Count"));
    EXPECT_EQ(find("Count")->dword, 10u);
    EXPECT_EQ(find("Text")->text, "AB");
    EXPECT_EQ(find("Port")->text, "587");
    EXPECT_EQ(find("Gone"), nullptr);
    EXPECT_EQ(find("Broken"), nullptr);
    EXPECT_EQ(find("After")->dword, 42u);
    EXPECT_EQ(find("Elsewhere"), nullptr);
    // Each broken line is reported with its number; good lines after it are still read.
    ASSERT_EQ(r.problems.size(), 7u);
    EXPECT_EQ(r.problems[0].rfind("line 14: ", 0), 0u) << r.problems[0];
    EXPECT_EQ(r.problems[3].rfind("line 17: ", 0), 0u) << r.problems[3];
    EXPECT_EQ(r.problems[5].rfind("line 20: ", 0), 0u) << r.problems[5];

    const RegistryText noHeader = parseRegistryText(key() + "\"A\"=\"b\"\n");
    ASSERT_EQ(noHeader.problems.size(), 1u);
    EXPECT_NE(noHeader.problems[0].find("REGEDIT4"), std::string::npos);
    EXPECT_EQ(noHeader.values.size(), 1u);
    EXPECT_FALSE(parseRegistryText("REGEDIT4\n").hasKey);
    EXPECT_FALSE(parseRegistryText("").hasKey);
}

// A save edits the file's text: the values it sets change, every other byte stays -
// comments, other keys, earlier lines for the same name and lines it cannot read.
TEST(RegistryText, AnEditChangesItsValuesAndKeepsEveryOtherByte) {
    const std::string head = "\xEF\xBB\xBFREGEDIT4\r\n\r\n; by hand\r\n[hkey_local_machine\\software\\qx_raid_gui]\r\n";
    const std::string text = head +
                             "\"Port\"=\"25\"\r\n"
                             "\"port\"=\"587\"\r\n"
                             "\"Gone\"=-\r\n"
                             "\"Broken\"=dword:123456789\r\n"
                             "\"ProductID\"=hex:01,02,\\\r\n  03\r\n"
                             "not a value line\r\n"
                             "\r\n[HKEY_CURRENT_USER\\Other]\r\n\"Elsewhere\"=\"y\"\r\n";
    const std::string edited = editRegistryText(text, {{"Port", RegValue::sz("2525")},
                                                       {"Gone", RegValue::sz("back")},
                                                       {"Broken", RegValue::number(1)},
                                                       {"ProductID", RegValue::binary({9})},
                                                       {"New", RegValue::sz("n")}});
    EXPECT_EQ(edited, head +
                          "\"Port\"=\"25\"\r\n"
                          "\"port\"=\"2525\"\r\n"
                          "\"Gone\"=\"back\"\r\n"
                          "\"Broken\"=dword:00000001\r\n"
                          "\"ProductID\"=hex:09\r\n"
                          "not a value line\r\n"
                          "\"New\"=\"n\"\r\n"
                          "\r\n[HKEY_CURRENT_USER\\Other]\r\n\"Elsewhere\"=\"y\"\r\n");
    const RegistryText back = parseRegistryText(edited);
    ASSERT_EQ(back.problems.size(), 3u);  // the line that is no value, the other key and its value
    EXPECT_EQ(back.problems[0].rfind("line 10: ", 0), 0u) << back.problems[0];

    // No key yet: its section at the end; only comments: a header first. A last line
    // that continues is ended before anything follows it.
    EXPECT_EQ(editRegistryText("", {{"A", RegValue::sz("b")}}), formatRegistryText({{"A", RegValue::sz("b")}}));
    EXPECT_EQ(editRegistryText("; notes", {{"A", RegValue::sz("b")}}),
              "; notes\nREGEDIT4\n\n" + key() + "\"A\"=\"b\"\n");
    const std::string cont = "REGEDIT4\n" + key() + "\"P\"=hex:01,\\\n  02\\";
    const RegistryText more = parseRegistryText(editRegistryText(cont, {{"A", RegValue::sz("b")}}));
    ASSERT_EQ(more.values.size(), 2u);
    EXPECT_EQ(more.values[0].second.bytes, (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(more.values[1].second.text, "b");
    EXPECT_TRUE(more.problems.empty());
    // A comment that ends in a backslash continues nothing: no blank line is needed.
    EXPECT_EQ(editRegistryText("REGEDIT4\n" + key() + "; C:\\", {{"A", RegValue::sz("b")}}),
              "REGEDIT4\n" + key() + "; C:\\\n\"A\"=\"b\"\n");
}

// Only a hex value goes on over a line that ends in a backslash, as the registry editor
// writes long ones. A Windows comment or path often ends in one and must not take the
// next line with it; a string or dword that ends in one is a broken line of its own.
TEST(RegistryText, OnlyHexValuesContinueOnTheNextLine) {
    const std::string text = R"(REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI]
; the mail texts live in C:\WINDOWS\system32\
"Port"="587"
"FilePath"="C:\\WINDOWS\\system32\\"
"ProductID"=hex:01,02,\
  03,04
"Blob"=hex(3):0a,\
  0b,\
  0c
@=hex:ff,\
  ee
"SMTP"="mail.example"\
"UserName"="Ann"
"EMailSend"=dword:00000001\
"TimeOut"="10"
;\
"After"="x\\"
)";
    const RegistryText r = parseRegistryText(text);
    const auto find = [&](const std::string& n) -> const RegValue* {
        for (const auto& e : r.values)
            if (e.first == n) return &e.second;
        return nullptr;
    };
    ASSERT_TRUE(find("Port"));
    EXPECT_EQ(find("Port")->text, "587");
    ASSERT_TRUE(find("FilePath"));
    EXPECT_EQ(find("FilePath")->text, "C:\\WINDOWS\\system32\\");
    ASSERT_TRUE(find("ProductID"));
    EXPECT_EQ(find("ProductID")->bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    ASSERT_TRUE(find("Blob"));
    EXPECT_EQ(find("Blob")->bytes, (std::vector<std::uint8_t>{10, 11, 12}));
    EXPECT_EQ(find("SMTP"), nullptr);
    ASSERT_TRUE(find("UserName"));
    EXPECT_EQ(find("UserName")->text, "Ann");
    EXPECT_EQ(find("EMailSend"), nullptr);
    ASSERT_TRUE(find("TimeOut"));
    EXPECT_EQ(find("TimeOut")->text, "10");
    ASSERT_TRUE(find("After"));
    EXPECT_EQ(find("After")->text, "x\\");
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_EQ(r.problems[0].rfind("line 14: ", 0), 0u) << r.problems[0];
    EXPECT_EQ(r.problems[1].rfind("line 16: ", 0), 0u) << r.problems[1];

    // A save keeps those lines as they stand and the values after them readable.
    const std::string edited = editRegistryText(text, {{"Port", RegValue::sz("25")}, {"New", RegValue::sz("n")}});
    EXPECT_NE(edited.find("; the mail texts live in C:\\WINDOWS\\system32\\\n\"Port\"=\"25\"\n"), std::string::npos);
    const RegistryText back = parseRegistryText(edited);
    EXPECT_EQ(back.problems, r.problems);
    EXPECT_EQ(back.values.size(), r.values.size() + 1);
}

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
