// The scenario step that fills the E-mail page: what it accepts, what it refuses, and
// that it saves through the page exactly as the user's typing and clicks would; and
// the save operation under it, called with typed values as another front end does.
#include <gtest/gtest.h>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>
#include <sstream>

#include "app/EmailStep.h"
#include "app/MailOperations.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

TEST(EmailStep, ValuesWithBlanksQuotesAndLineBreaks) {
    EmailStep s;
    std::string error;
    ASSERT_TRUE(parseEmailStep(
        R"(host=mail.example name="Ann \"The\" Admin" contents1="one\ntwo \\ three" to=a@b to="c@d.e" login=on)", s,
        error))
        << error;
    ASSERT_EQ(s.fields.size(), 4u);
    EXPECT_EQ(s.fields[1].second, "Ann \"The\" Admin");
    EXPECT_EQ(s.fields[2].second, "one\ntwo \\ three");
    EXPECT_EQ(s.to, (std::vector<std::string>{"a@b", "c@d.e"}));
    EXPECT_TRUE(s.replaceList);
}

TEST(EmailStep, MalformedStepsAreRefusedWithAReason) {
    const std::pair<const char*, const char*> bad[] = {
        {"", "at least one"},
        {"host", "key=value"},
        {"colour=red", "unknown key 'colour'"},
        {"login=yes", "login takes on or off"},
        {"port=25a", "port takes a number"},
        {"timeout=100", "timeout takes at most 2 bytes"},
        {"password=1234567890123456", "password takes at most 15 bytes"},
        {"name=\"open", "no closing quote"},
        {"name=\"a\"b", "a blank must follow"},
        {"name=\"a\\tb\"", "unknown escape"},
        {"host=a host=b", "host is given twice"},
        {"security=ssl", "security takes none, starttls or tls"},
    };
    for (const auto& [text, why] : bad) {
        EmailStep s;
        std::string error;
        EXPECT_FALSE(parseEmailStep(text, s, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << " -> " << error;
    }
}

// Each value is bounded where it is entered, so what is saved always reads back: the
// step refuses what --set refuses, and the page's fields take no more than the file
// can hold and no control character that could reach the mail server's dialogue.
TEST(EmailStep, EveryValueIsBoundedWhereItIsEntered) {
    std::string eleven;
    for (int i = 0; i < 11; ++i) eleven += " to=r" + std::to_string(i) + "@x.org";
    const std::pair<std::string, std::string> bad[] = {
        {"host=" + std::string(256, 'h'), "host takes at most 255 bytes"},
        {"name=" + std::string(256, 'n'), "name takes at most 255 bytes"},
        {"contents1=" + std::string(65537, 'c'), "contents1 takes at most 65536 bytes"},
        {"port=0", "port takes a number from 1 to 65535"},
        {"name=\"Ops\\nDesk\"", "name holds a control character"},
        {"subject2=\"a\\nb\"", "subject2 holds a control character"},
        {"to=\"c d@e\"", "'c d@e' is no address"},
        {"to=a@b" + eleven, "at most 10 recipients (12 given)"},
        // Bytes, not characters: 12 Cyrillic letters are 24 bytes.
        {"password=парольпароль", "password takes at most 15 bytes (UTF-8), not 24"},
        {"login-name=" + std::string(255, 'n'), "login-name takes at most 254 bytes (UTF-8), not 255"},
        {"login-name=\"ops\nx\"", "login-name holds a control character"},
    };
    for (const auto& [text, why] : bad) {
        EmailStep s;
        std::string error;
        EXPECT_FALSE(parseEmailStep(text, s, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text.substr(0, 80) << " -> " << error;
    }

    // The page: typed or pasted text, however long, is cut to what the field takes.
    test::ScenarioKit kit;
    kit.line("0 disk 0");
    sim::SimRunner& r = kit.run(1);
    ASSERT_EQ(kit.loadError, "");
    MainForm& f = r.form();
    f.Click(names::Image_Email);
    f.EditChange(names::Edit2, std::string(2 << 20, 'h'));
    f.EditChange(names::Edit3, "Ops\r\nRSET \xC3\xA9quipe");
    f.EditChange(names::Edit10, std::string(3000, 's'));
    std::string body;
    while (body.size() < (1u << 20)) body += "line \xE2\x82\xAC\n";
    f.EditChange(names::Memo6, body);
    // A password is never cut: one longer than its 15 bytes is refused whole, and the
    // field keeps what it held.
    f.EditChange(names::Edit8, "пароль1");
    f.EditChange(names::Edit8, "парольпароль");
    EXPECT_EQ(f.controls().text(names::Edit8), "пароль1");
    f.Click(names::Image3_OK);
    r.runUntil(3);
    const auto boxes = r.linesWith("MessageBox[E-Mail Message]");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("MessageBox[E-Mail Message] SMTP Login Authentication password takes at most 15 bytes "
                            "(UTF-8), not 24; it was not changed"),
              std::string::npos)
        << boxes[0];

    // The next start reads every value back.
    test::ScenarioKit next;
    next.settingsPath = kit.dir() + "/settings.reg";
    next.line("0 disk 0");
    sim::SimRunner& again = next.run(2);
    ASSERT_EQ(next.loadError, "");
    EXPECT_TRUE(again.linesWith("MessageBox[E-Mail Message]").empty());
    const NotificationSettings& s = again.form().settings();
    EXPECT_EQ(s.smtpHost(), std::string(255, 'h'));
    EXPECT_EQ(s.senderName(), "OpsRSET \xC3\xA9quipe");
    EXPECT_EQ(s.subjectLine(1), std::string(1000, 's'));
    EXPECT_EQ(s.password(), "пароль1");
    std::size_t bytes = 0;
    const std::string whole = "line \xE2\x82\xAC";
    for (std::size_t i = 0; i < s.contents[0].size(); ++i) {
        const std::string& l = s.contents[0][i];
        bytes += l.size() + 1;
        // Only the last line may be cut, and never inside a character.
        if (i + 1 < s.contents[0].size())
            EXPECT_EQ(l, whole);
        else
            EXPECT_TRUE(l == whole || l.size() <= 5) << "a character cut in two: " << l;
    }
    EXPECT_LE(bytes, 65536u + 1);
    EXPECT_GT(bytes, 60000u);
}

TEST(EmailStep, TheStepSavesThroughThePageAndAHashInQuotesIsNoComment) {
    test::ScenarioKit kit;
    kit.line("0 disk 0");
    kit.line(R"(1 email host=mail.example port=2525 name="Ops # night shift" addr=ops@example.org login=on password=пароль1 login-name=ops@example.org to=a@x to=b@x subject1="Disk # 1" nomail2=on # the comment)");
    kit.line("2 email to=c@x");  // the list becomes exactly this
    sim::SimRunner& r = kit.run(3);
    ASSERT_EQ(kit.loadError, "");
    const NotificationSettings& s = r.form().settings();
    EXPECT_TRUE(s.loaded);
    EXPECT_EQ(s.smtpHost(), "mail.example");
    EXPECT_EQ(s.smtpPort(), "2525");
    EXPECT_EQ(s.senderName(), "Ops # night shift");
    EXPECT_EQ(s.password(), "пароль1");
    EXPECT_EQ(s.loginName, "ops@example.org");
    EXPECT_EQ(s.authState, 1);
    EXPECT_EQ(s.suppressMask, 2u);
    EXPECT_EQ(s.recipients, std::vector<std::string>{"c@x"});
    EXPECT_EQ(s.subjectLine(1), "Disk # 1");
    for (const auto& l : r.lines()) EXPECT_EQ(l.find("пароль"), std::string::npos) << l;
    // The masked field shows a star per character, not per byte; the login name field
    // shows with the password.
    EXPECT_FALSE(r.linesWith("Edit8 *******").empty());
    EXPECT_TRUE(r.linesWith("Edit8 ********").empty());
    EXPECT_FALSE(r.linesWith("Edit12 shown").empty());
    EXPECT_FALSE(r.linesWith("Edit12 ops@example.org").empty());
}

// A front end hands the save operation values no page would let through, and a
// settings path someone replaced by a link or a FIFO: each answer is a value saying
// why nothing was saved, nothing is shown, nothing is written through the link.
TEST(MailOperations, ASaveAnswersWithWhatItSavedOrWhyNot) {
    test::ScenarioKit kit;
    const std::string victim = kit.dir() + "/victim.reg";
    std::ofstream(victim) << "precious";
    const auto slurp = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream text;
        text << f.rdbuf();
        return text.str();
    };
    kit.settingsPath = kit.dir() + "/settings.reg";
    kit.line("0 disk 0");
    sim::SimRunner& r = kit.run(1);
    ASSERT_EQ(kit.loadError, "");
    MainForm& f = r.form();
    const std::size_t boxes = r.linesWith("MessageBox").size();
    const SettingsEdits shown = shownEdits(f.settings());
    SettingsEdits good = shown;
    good.fields[kHost] = "mail.example";
    good.fields[kPort] = "";  // saved as its default
    good.fields[kSenderAddress] = "ops@example.org";
    good.working = {"a@x.org"};

    const std::pair<SettingsEdits, std::string> refused[] = {
        {[&] { SettingsEdits v = good; v.fields[kPassword] = std::string(20, 'p'); v.loginOn = true; return v; }(),
         "SMTP Login Authentication password takes at most 15 bytes (UTF-8); nothing was saved"},
        {[&] { SettingsEdits v = good; v.working.assign(11, "a@x.org"); return v; }(),
         "At most 10 recipients; nothing was saved"},
        {[&] { SettingsEdits v = good; v.fields[kHost] = "mail\r\nRSET"; return v; }(), "nothing was saved"},
        {[&] { SettingsEdits v = good; v.working = {"a b@x.org"}; return v; }(),
         "A recipient address needs an \"@\" and no blanks or angle brackets; nothing was saved"},
        {[&] { SettingsEdits v = good; v.contents[0] = std::string(70000, 'c'); return v; }(), "nothing was saved"},
    };
    for (const auto& [values, why] : refused) {
        const MailSaveResult out = saveMailSettings(f, values, shown);
        EXPECT_FALSE(out.saved);
        EXPECT_NE(out.problem.find(why), std::string::npos) << out.problem;
    }
    namespace fs = std::filesystem;
    EXPECT_FALSE(fs::exists(fs::symlink_status(kit.settingsPath))) << "a refused save wrote the file";

    MailSaveResult out;
#ifndef _WIN32  // no link (mingw-w64's std::filesystem makes none) nor FIFO in a Windows folder
    // Planted where the settings go: a link to another file, then a FIFO.
    fs::create_symlink(victim, kit.settingsPath);
    out = saveMailSettings(f, good, shown);
    EXPECT_FALSE(out.saved);
    EXPECT_EQ(out.problem, kit.settingsPath + ": not a regular file; it is not written over, and nothing was saved");
    EXPECT_EQ(slurp(victim), "precious");
    ASSERT_TRUE(fs::remove(kit.settingsPath));
    ASSERT_EQ(::mkfifo(kit.settingsPath.c_str(), 0600), 0);
    out = saveMailSettings(f, good, shown);
    EXPECT_FALSE(out.saved);
    EXPECT_EQ(out.problem, kit.settingsPath + ": not a regular file; it is not written over, and nothing was saved");
    ASSERT_TRUE(fs::remove(kit.settingsPath));
#endif
    EXPECT_FALSE(f.settings().SettingsKeyExists);
    // The operation shows nothing itself: presenting is the caller's.
    EXPECT_EQ(r.linesWith("MessageBox").size(), boxes);

    out = saveMailSettings(f, good);
    ASSERT_TRUE(out.saved) << out.problem;
    EXPECT_EQ(out.problem, "");
    EXPECT_EQ(out.values.fields[kPort], "25");
    EXPECT_EQ(out.values.working, good.working);
    EXPECT_NE(slurp(kit.settingsPath).find("mail.example"), std::string::npos);
    r.runUntil(2);  // the engine's next turn reads the saved settings
    EXPECT_EQ(f.settings().smtpHost(), "mail.example");
    EXPECT_EQ(f.settings().recipients, good.working);
}

TEST(EmailStep, ARefusedStepNamesItsLine) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("1 email port=http");
    kit.run(2);
    EXPECT_NE(kit.loadError.find("test.scenario:2: email: port takes a number"), std::string::npos) << kit.loadError;
}

}  // namespace
}  // namespace raid
