// The mail settings against an in-memory key and file store: start-up, the save in its
// order, the password record and the text files, and what a damaged store gives.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "monitor/MemoryFileStore.h"
#include "notify/AlertMail.h"
#include "notify/NotificationSettings.h"
#ifndef _WIN32
#include "platform/linux/LinuxSettingsFile.h"
#endif
#include "support/Portable.h"

namespace raid {
namespace {

struct Store : ::testing::Test {
    MemorySettings key;
    testing::MemoryFileStore files;
    std::vector<std::string> reports;
    SettingsStore store{key, files, [this](const std::string& r) { reports.push_back(r); }};
    NotificationSettings s;

    SettingsEdits edits(std::vector<std::string> to = {"a@x"}) {
        SettingsEdits e;
        e.fields = {"25", "mail.example", "Ann", "ann@example.org", "10", "secret"};
        e.working = std::move(to);
        e.dirty = 0x3F;
        return e;
    }
    std::vector<std::string> writtenNames() const {
        std::vector<std::string> n;
        for (const auto& v : key.values) n.push_back(v.first);
        return n;
    }
    std::string text(const std::string& name) { return key.read(name) ? key.read(name)->text : "<none>"; }
};

TEST_F(Store, NoKeyAtStartThenTheFirstSaveWritesEveryValue) {
    EXPECT_FALSE(store.startUp(s, "/etc/qx-raid-gui/"));
    EXPECT_FALSE(s.SettingsKeyExists);
    EXPECT_FALSE(s.loaded);
    EXPECT_EQ(s.filePath, "/etc/qx-raid-gui/");
    EXPECT_EQ(key.writes, 0);

    SettingsEdits e = edits();
    e.dirty = 0;  // nothing typed: the first save writes everything anyway
    e.fields[kPort] = "";
    e.fields[kTimeout] = "";
    e.subject = {"Disk trouble", ""};
    e.contents = {"line one\nline two", ""};
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_EQ(writtenNames(), (std::vector<std::string>{"Port", "SMTP", "UserName", "Addr", "TimeOut", "EMailSend",
                                                        "ProductID", "ToAddrCount", "ToAddr_00", "FilePath"}));
    EXPECT_EQ(text("Port"), "25");
    EXPECT_EQ(text("TimeOut"), "0");
    EXPECT_EQ(e.dirty, kDirtyPort | kDirtyTimeout);
    EXPECT_EQ(text("FilePath"), "/etc/qx-raid-gui/");
    EXPECT_EQ(files.files.at("/etc/qx-raid-gui/EmailSubject Hard Disks Fail.txt"), "Disk trouble\r\n");
    EXPECT_EQ(files.files.at("/etc/qx-raid-gui/EmailContens Hard Disks Fail.txt"), "line one\r\nline two\r\n");
    EXPECT_TRUE(s.SettingsKeyExists);
    EXPECT_FALSE(s.loaded);

    // Loaded back, every field is what was saved.
    NotificationSettings back;
    SettingsStore again(key, files, {});
    ASSERT_TRUE(again.startUp(back, "/etc/qx-raid-gui/"));
    again.load(back);
    EXPECT_TRUE(back.loaded);
    EXPECT_EQ(back.connection, (std::array<std::string, 6>{"25", "mail.example", "Ann", "ann@example.org", "0", "secret"}));
    EXPECT_EQ(back.authState, 0);
    EXPECT_EQ(back.recipients, std::vector<std::string>{"a@x"});
    EXPECT_EQ(back.subjectLine(1), "Disk trouble");
    EXPECT_EQ(back.contents[0], (std::vector<std::string>{"line one", "line two"}));
    EXPECT_TRUE(back.subjects[1].empty());
}

TEST_F(Store, StartUpCreatesAMissingSendMaskAndLoadIsRequested) {
    key.exists = true;
    key.values = {{"Port", RegValue::sz("2525")}};
    EXPECT_TRUE(store.startUp(s, "/cfg/"));
    ASSERT_TRUE(key.read("EMailSend"));
    EXPECT_EQ(key.read("EMailSend")->dword, 0u);
    key.values.back().second = RegValue::number(2);
    EXPECT_TRUE(store.startUp(s, "/cfg/"));
    EXPECT_EQ(key.read("EMailSend")->dword, 2u);  // an existing mask is left alone
}

TEST_F(Store, PasswordRecordKeepsFifteenCharactersAndTheLoginSwitchInByte17) {
    const std::string pw = "Abcdefghij12345";
    const ScrambledPassword on = scramble(pw, 0x37, true), off = scramble(pw, 0x37, false);
    EXPECT_EQ(on[17] ^ off[17], 1);
    EXPECT_TRUE(std::equal(on.begin(), on.begin() + 17, off.begin()));
    EXPECT_EQ(unscramble(on).password, pw);
    EXPECT_EQ(unscramble(on).authState, 1);
    EXPECT_EQ(unscramble(off).authState, 0);
    // Longer input is cut to the field's limit; an empty password reads back empty.
    EXPECT_EQ(unscramble(scramble(pw + "XYZ", 0, true)).password, pw);
    EXPECT_EQ(unscramble(scramble("", 0, false)).password, "");
    // Bytes of UTF-8, as the page and --set count them; a character is never cut in
    // two, even in a password of 16 bytes from a record of another program.
    EXPECT_EQ(unscramble(scramble("пароль1", 0x37, true)).password, "пароль1");
    EXPECT_EQ(unscramble(scramble("abcdefghijklmn\xC3\xA9", 0, true)).password, "abcdefghijklmn");
    // A record whose check byte fits neither state.
    ScrambledPassword broken = on;
    broken[17] ^= 0x40;
    EXPECT_EQ(unscramble(broken).password, "ErrorFormat");
    EXPECT_EQ(unscramble(broken).authState, 2);

    // Through a save and a load, with the key byte of the record read last.
    key.exists = true;
    key.values = {{"ProductID", RegValue::binary({on.begin(), on.end()})}};
    store.startUp(s, "/c/");
    store.load(s);
    EXPECT_EQ(s.password(), pw);
    EXPECT_EQ(s.keyByte, 0x37);
    SettingsEdits e = edits();
    e.fields[kPassword] = pw;
    e.loginOn = true;
    e.dirty = 0;
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_EQ(e.dirty, 0);  // the switch did not change: the record is not rewritten
    EXPECT_EQ(key.read("ProductID")->bytes, std::vector<std::uint8_t>(on.begin(), on.end()));
    e.loginOn = false;
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_EQ(e.dirty, kDirtyPassword);
    EXPECT_EQ(key.read("ProductID")->bytes[17], off[17]);
}

TEST_F(Store, ShrinkingTheListLeavesTheOldTailUnread) {
    key.exists = true;
    store.startUp(s, "/c/");
    SettingsEdits five = edits({"1@a", "2@a", "3@a", "4@a", "5@a"});
    ASSERT_EQ(store.save(s, five), "");
    store.load(s);
    EXPECT_EQ(s.recipients.size(), 5u);
    SettingsEdits e = edits({"1@a", "2@a", "3@a"});
    const int before = key.writes;
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_EQ(key.read("ToAddrCount")->dword, 3u);
    EXPECT_EQ(text("ToAddr_03"), "4@a");
    EXPECT_EQ(text("ToAddr_04"), "5@a");
    store.load(s);
    EXPECT_EQ(s.recipients, (std::vector<std::string>{"1@a", "2@a", "3@a"}));
    // A save that changes nothing writes nothing.
    const int afterShrink = key.writes;
    SettingsEdits same = edits({"1@a", "2@a", "3@a"});
    same.dirty = 0;
    ASSERT_EQ(store.save(s, same), "");
    EXPECT_EQ(key.writes, afterShrink);
    EXPECT_GT(afterShrink, before);
}

TEST_F(Store, ClearingASubjectDeletesItsFile) {
    key.exists = true;
    store.startUp(s, "/c/");
    SettingsEdits e = edits();
    e.subject = {"Subject one", "Subject two"};
    e.contents = {"Body one", "Body two"};
    ASSERT_EQ(store.save(s, e), "");
    ASSERT_TRUE(files.files.count("/c/EmailSubject Hard Disks Fail.txt"));
    ASSERT_TRUE(files.files.count("/c/EmailContens Device Removed.txt"));
    e.subject[0] = "";
    e.contents[1] = "";
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_FALSE(files.files.count("/c/EmailSubject Hard Disks Fail.txt"));
    EXPECT_FALSE(files.files.count("/c/EmailContens Device Removed.txt"));
    EXPECT_TRUE(files.files.count("/c/EmailSubject Device Removed.txt"));
}

TEST_F(Store, AFailingSaveWritesNothing) {
    key.exists = true;
    store.startUp(s, "/c/");
    files.files["/c/EmailSubject Hard Disks Fail.txt"] = "Old subject\r\n";
    key.failOn = "SMTP";
    SettingsEdits e = edits();
    e.subject = {"New subject", "Other"};
    EXPECT_EQ(store.save(s, e), "Access is denied.");
    EXPECT_EQ(writtenNames(), std::vector<std::string>{"EMailSend"});  // only start-up's
    // The text files it had written are as they were.
    EXPECT_EQ(files.files.at("/c/EmailSubject Hard Disks Fail.txt"), "Old subject\r\n");
    EXPECT_FALSE(files.files.count("/c/EmailSubject Device Removed.txt"));
    files.readOnlyTrees.insert("/c");
    key.failOn.clear();
    EXPECT_EQ(store.save(s, e), "/c/EmailSubject Hard Disks Fail.txt: cannot be written; nothing was saved");
    EXPECT_EQ(writtenNames(), std::vector<std::string>{"EMailSend"});
}

TEST_F(Store, DamagedValuesAreReportedOnceAndReadAsMissing) {
    key.exists = true;
    key.problems = {"settings.reg: line 7: a line that is not \"name\"=value"};
    key.values = {{"Port", RegValue::number(25)},
                  {"SMTP", RegValue::sz("mail.example")},
                  {"ProductID", RegValue::binary({1, 2, 3})},
                  {"ToAddrCount", RegValue::number(0xFFFFFFFF)},
                  {"EMailSend", RegValue::sz("1")}};
    store.startUp(s, "/c/");
    store.load(s);
    EXPECT_EQ(s.smtpPort(), "");
    EXPECT_EQ(s.smtpHost(), "mail.example");
    EXPECT_EQ(s.password(), "");
    EXPECT_EQ(s.authState, 0);
    EXPECT_EQ(s.recipientCount, 0);  // -1 in the store: no recipients
    EXPECT_EQ(s.suppressMask, 0u);
    EXPECT_EQ(s.filePath, "/c/");  // no FilePath value: beside the settings
    EXPECT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0], "settings.reg: line 7: a line that is not \"name\"=value");
    EXPECT_NE(std::find(reports.begin(), reports.end(),
                        "Settings value \"Port\" is a dword where a string belongs; it is not used"),
              reports.end());
    key.values = {{"ToAddrCount", RegValue::number(40)}, {"ToAddr_00", RegValue::sz("only@one")}};
    reports.clear();
    store.load(s);
    EXPECT_EQ(s.recipientCount, 10);
    EXPECT_EQ(s.recipients, std::vector<std::string>{"only@one"});
    EXPECT_EQ(reports.front(), "Settings value \"ToAddrCount\" is 40; 10 recipients are read");
}

TEST_F(Store, TextFilesThatAreNotRegularOrHugeAreNotRead) {
    key.exists = true;
#ifdef _WIN32
    const std::string t = "C:\\t\\";  // a folder from the root, as each system writes one
#else
    const std::string t = "/t/";
#endif
    key.values = {{"FilePath", RegValue::sz(t)}};
    files.special.insert(t + "EmailSubject Hard Disks Fail.txt");
    files.files[t + "EmailContens Fan Fail.txt"] = std::string(2 << 20, 'x');
    store.startUp(s, "/c/");
    store.load(s);
    EXPECT_TRUE(s.subjects[0].empty());
    EXPECT_TRUE(s.contents[3].empty());
    EXPECT_EQ(reports.size(), 2u);
}

TEST_F(Store, SecurityAndLoginNameAreWrittenOnlyWhenTheyChangeAndAnUnknownSecurityIsNoClearText) {
    store.startUp(s, "/tmp/");
    store.load(s, {});
    EXPECT_EQ(s.security, kSecurityNone);  // an older store has no such value
    EXPECT_EQ(s.loginName, "");            // nor this one: the address gives the name
    SettingsEdits e = edits();
    ASSERT_EQ(store.save(s, e), "");
    EXPECT_FALSE(key.read("Security"));  // unchanged 0: the store stays as older versions wrote it
    EXPECT_FALSE(key.read("LoginName"));
    e = edits();
    e.security = kSecurityStartTls;
    e.loginName = "ann@example.org";
    ASSERT_EQ(store.save(s, e), "");
    ASSERT_TRUE(key.read("Security"));
    EXPECT_EQ(key.read("Security")->dword, kSecurityStartTls);
    EXPECT_EQ(text("LoginName"), "ann@example.org");
    NotificationSettings again;
    store.load(again, {});
    EXPECT_EQ(again.security, kSecurityStartTls);
    EXPECT_EQ(smtpSettings(again).security, kSmtpSecurityStartTls);
    EXPECT_EQ(smtpSettings(again).loginName, "ann@example.org");
    // Bounded like the other values; a refused one saves nothing.
    const int writes = key.writes;
    SettingsEdits bad = shownEdits(again);
    bad.loginName = "ann\r\nRSET";
    EXPECT_EQ(store.save(again, bad), "Login Name holds a control character; nothing was saved");
    bad.loginName = std::string(kLoginNameLimit + 1, 'n');
    EXPECT_EQ(store.save(again, bad), "Login Name takes at most 254 bytes (UTF-8); nothing was saved");
    EXPECT_EQ(key.writes, writes);

    key.write("Security", RegValue::number(7));
    reports.clear();
    store.load(again, {});
    EXPECT_EQ(again.security, kSecurityTls);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("\"Security\" is 7"), std::string::npos);
    EXPECT_EQ(securityFromName("STARTTLS"), kSecurityStartTls);
    EXPECT_FALSE(securityFromName("starttls"));
}

#ifndef _WIN32  // a Windows settings file carried to Linux: on Windows they live in the registry
// A settings file brought over from Windows, on disk: its FilePath names a Windows
// folder, which on this system would be a file name in whatever folder the program runs
// in, and a comment above a value ends in a backslash. The text files stay in the
// default folder, the folder is named once however often the settings load, the value
// after the comment is read and the password record continued over two lines too.
TEST(SettingsFromWindows, TheTextFilesStayInTheDefaultFolderAndEveryValueIsRead) {
    namespace fs = std::filesystem;
    const std::string dir = test::makeTempDir(), cwd = dir + "/cwd", folder = dir + "/";
    fs::create_directory(cwd);
    const fs::path before = fs::current_path();
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    struct Back {
        fs::path to;
        std::string dir;
        ~Back() {
            std::error_code ec;
            fs::current_path(to, ec);
            fs::remove_all(dir, ec);
        }
    } back{before, dir};

    const ScrambledPassword record = scramble("pw", 0, true);
    std::string hex;
    for (std::size_t i = 0; i < record.size(); ++i) {
        char b[16];
        std::snprintf(b, sizeof b, "%02x%s", record[i], i + 1 == record.size() ? "" : i == 8 ? ",\\\r\n  " : ",");
        hex += b;
    }
    const std::string windowsFilePath = R"("FilePath"="C:\\WINDOWS\\system32\\")";
    const std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI]\r\n"
                             "; the mail texts live in C:\\WINDOWS\\system32\\\r\n"
                             "\"Port\"=\"587\"\r\n" +
                             windowsFilePath + "\r\n\"ProductID\"=hex:" + hex +
                             "\r\n\"ToAddrCount\"=dword:00000001\r\n\"ToAddr_00\"=\"a@x\"\r\n"
                             "\"EMailSend\"=dword:00000000\r\n";
    { std::ofstream(dir + "/settings.reg", std::ios::binary) << text; }
    { std::ofstream(dir + "/EmailSubject Over Heat.txt", std::ios::binary) << "Too hot\r\n"; }

    const auto port = makeSettingsFile(dir + "/settings.reg");
    const auto files = makeStdFileStore();
    std::vector<std::string> reports;
    SettingsStore store(*port, *files, [&](const std::string& r) { reports.push_back(r); });
    NotificationSettings s;
    ASSERT_TRUE(store.startUp(s, folder));
    for (int i = 0; i < 3; ++i) store.load(s);
    EXPECT_EQ(s.smtpPort(), "587");
    EXPECT_EQ(s.password(), "pw");
    EXPECT_EQ(s.authState, 1);
    EXPECT_EQ(s.recipients, std::vector<std::string>{"a@x"});
    EXPECT_EQ(s.filePath, folder);
    EXPECT_EQ(s.subjectLine(3), "Too hot");
    ASSERT_EQ(reports.size(), 1u) << (reports.empty() ? "" : reports[0]);
    EXPECT_NE(reports[0].find("\"FilePath\" is \"C:\\WINDOWS\\system32\\\""), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(folder), std::string::npos) << reports[0];

    // A save writes the texts there and leaves the value as Windows wrote it.
    SettingsEdits e = shownEdits(s);
    e.subject[0] = "Disk trouble";
    ASSERT_EQ(store.save(s, e), "");
    store.load(s);
    EXPECT_EQ(s.subjectLine(1), "Disk trouble");
    EXPECT_TRUE(fs::exists(folder + "EmailSubject Hard Disks Fail.txt"));
    EXPECT_TRUE(fs::is_empty(cwd));
    std::ifstream saved(dir + "/settings.reg", std::ios::binary);
    const std::string after{std::istreambuf_iterator<char>(saved), std::istreambuf_iterator<char>()};
    EXPECT_NE(after.find(windowsFilePath + "\r\n"), std::string::npos) << after;
    EXPECT_EQ(reports.size(), 1u);

    // Mended, the folder is taken as it stands; broken again, it is named again.
    ASSERT_EQ(port->update({SettingsUpdate::set("FilePath", RegValue::sz(cwd + "/"))}), "");
    store.load(s);
    EXPECT_EQ(s.filePath, cwd + "/");
    ASSERT_EQ(port->update({SettingsUpdate::set("FilePath", RegValue::sz("relative/dir/"))}), "");
    store.load(s);
    store.load(s);
    EXPECT_EQ(s.filePath, folder);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[1].find("relative/dir/"), std::string::npos) << reports[1];
    // Junk is named in a line a box can show.
    ASSERT_EQ(port->update({SettingsUpdate::set("FilePath", RegValue::sz("\t" + std::string(100000, 'j')))}), "");
    store.load(s);
    EXPECT_EQ(s.filePath, folder);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_LT(reports[2].size(), 400u);
    EXPECT_FALSE(hasControlCharacter(reports[2])) << reports[2];
}
#endif

}  // namespace
}  // namespace raid
