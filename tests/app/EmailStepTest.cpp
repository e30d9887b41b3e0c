// The scenario step that fills the E-mail page: what it accepts, what it refuses, and
// that it saves through the page exactly as the user's typing and clicks would.
#include <gtest/gtest.h>

#include "app/EmailStep.h"
#include "support/ScenarioKit.h"

namespace raid {
namespace {

TEST(EmailStep, ValuesWithBlanksQuotesAndLineBreaks) {
    EmailStep s;
    std::string error;
    ASSERT_TRUE(parseEmailStep(
        R"(host=mail.example name="Ann \"The\" Admin" contents1="one\ntwo \\ three" to=a@b to="c d@e" login=on)", s,
        error))
        << error;
    ASSERT_EQ(s.fields.size(), 4u);
    EXPECT_EQ(s.fields[1].second, "Ann \"The\" Admin");
    EXPECT_EQ(s.fields[2].second, "one\ntwo \\ three");
    EXPECT_EQ(s.to, (std::vector<std::string>{"a@b", "c d@e"}));
    EXPECT_TRUE(s.replaceList);
}

TEST(EmailStep, MalformedStepsAreRefusedWithAReason) {
    const std::pair<const char*, const char*> bad[] = {
        {"", "at least one"},
        {"host", "key=value"},
        {"colour=red", "unknown key 'colour'"},
        {"login=yes", "login takes on or off"},
        {"port=25a", "port takes a number"},
        {"timeout=100", "at most 2 characters"},
        {"password=1234567890123456", "at most 15 characters"},
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

TEST(EmailStep, TheStepSavesThroughThePageAndAHashInQuotesIsNoComment) {
    test::ScenarioKit kit;
    kit.line("0 disk 0");
    kit.line(R"(1 email host=mail.example port=2525 name="Ops # night shift" addr=ops@example.org login=on password=s3cret to=a@x to=b@x subject1="Disk # 1" nomail2=on # the comment)");
    kit.line("2 email to=c@x");  // the list becomes exactly this
    sim::SimRunner& r = kit.run(3);
    ASSERT_EQ(kit.loadError, "");
    const NotificationSettings& s = r.form().settings();
    EXPECT_TRUE(s.loaded);
    EXPECT_EQ(s.smtpHost(), "mail.example");
    EXPECT_EQ(s.smtpPort(), "2525");
    EXPECT_EQ(s.senderName(), "Ops # night shift");
    EXPECT_EQ(s.password(), "s3cret");
    EXPECT_EQ(s.authState, 1);
    EXPECT_EQ(s.suppressMask, 2u);
    EXPECT_EQ(s.recipients, std::vector<std::string>{"c@x"});
    EXPECT_EQ(s.subjectLine(1), "Disk # 1");
    for (const auto& l : r.lines()) EXPECT_EQ(l.find("s3cret"), std::string::npos) << l;
}

TEST(EmailStep, ARefusedStepNamesItsLine) {
    test::ScenarioKit kit;
    kit.line("0 disk 0").line("1 email port=http");
    kit.run(2);
    EXPECT_NE(kit.loadError.find("test.scenario:2: email: port takes a number"), std::string::npos) << kit.loadError;
}

}  // namespace
}  // namespace raid
