#include <gtest/gtest.h>

#include "notify/ScriptedTcp.h"
#include "notify/SmtpReply.h"

namespace raid {
namespace {

using Lines = std::vector<std::string>;
using Methods = std::set<std::string>;

// Reads replies from `stream` until the reader fails; each reply as (code, lines).
struct Read {
    std::vector<SmtpReply> replies;
    std::string error;
};
Read readAll(const std::string& stream) {
    auto script = std::make_shared<testing::TcpScript>();
    script->replies = stream;
    testing::ScriptedConnection connection(script);
    Read r;
    SmtpReply reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (readSmtpReply(connection, deadline, reply, r.error)) r.replies.push_back(reply);
    return r;
}

TEST(SmtpReply, CodeIsTheNumberAtTheStartOfTheLine) {
    EXPECT_EQ(smtpReplyCode("250 ok"), 250);
    EXPECT_EQ(smtpReplyCode("2500 ok"), 250);
    EXPECT_EQ(smtpReplyCode("354"), 354);
    EXPECT_EQ(smtpReplyCode("25"), 25);  // a short line: its digits are the number
    EXPECT_EQ(smtpReplyCode(""), 0);
    EXPECT_EQ(smtpReplyCode("2x0 ok"), 0);
    EXPECT_EQ(smtpReplyCode(" 25 ok"), 0);
    EXPECT_EQ(smtpReplyCode("-25 ok"), 0);
    EXPECT_EQ(smtpReplyCode("+25 ok"), 0);
    EXPECT_EQ(smtpReplyCode("abc"), 0);
}

TEST(SmtpReply, MultiLineRepliesEndOnTheSameCodeAndABlankOrAShortLine) {
    Read r = readAll(
        "250-mail.example\r\n250-PIPELINING\r\n250 SIZE 1000\r\n"  // ordinary
        "220 single\r\n"
        "220-a\r\n250 other code goes on\r\n220-still\r\n220 end\r\n"  // only the first line's code ends it
        "abc-x\r\nABC y\r\n"                                            // same characters in any case
        "421-a\r\nxy\r\n"                                               // a short line ends it; its code counts
        "22\r\n"                                                        // short first line: one line
        "250-x\n250 bare line feeds\n");                               // LF alone ends a line as well
    ASSERT_EQ(r.replies.size(), 7u);
    EXPECT_EQ(r.replies[0].code, 250);
    EXPECT_EQ(r.replies[0].lines, (Lines{"250-mail.example", "250-PIPELINING", "250 SIZE 1000"}));
    EXPECT_EQ(r.replies[1].lines, (Lines{"220 single"}));
    EXPECT_EQ(r.replies[2].lines, (Lines{"220-a", "250 other code goes on", "220-still", "220 end"}));
    EXPECT_EQ(r.replies[2].code, 220);
    EXPECT_EQ(r.replies[3].lines, (Lines{"abc-x", "ABC y"}));
    EXPECT_EQ(r.replies[3].code, 0);
    EXPECT_EQ(r.replies[4].code, 0);
    EXPECT_EQ(r.replies[5].code, 22);
    EXPECT_EQ(r.replies[6].lines, (Lines{"250-x", "250 bare line feeds"}));
    EXPECT_EQ(r.error, "Connection timed out");
}

TEST(SmtpReply, RepliesAreBounded) {
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "250-line\r\n";
    many += "250 end\r\n";
    Read r = readAll(many);
    EXPECT_TRUE(r.replies.empty());
    EXPECT_EQ(r.error, "Reply longer than 1000 lines");

    // 999 lines are still a reply.
    std::string enough;
    for (int i = 0; i < 999; ++i) enough += "250-line\r\n";
    r = readAll(enough + "250 end\r\n");
    ASSERT_EQ(r.replies.size(), 1u);
    EXPECT_EQ(r.replies[0].lines.size(), 1000u);

    // Long lines add up before the line count does.
    std::string heavy;
    for (int i = 0; i < 20; ++i) heavy += "250-" + std::string(60000, 'x') + "\r\n";
    r = readAll(heavy + "250 end\r\n");
    EXPECT_TRUE(r.replies.empty());
    EXPECT_EQ(r.error, "Reply longer than 1048576 bytes");
}

TEST(SmtpReply, TextIsPrintableAndShort) {
    SmtpReply reply;
    reply.lines = {"550-no\x1b[31m such\tuser\x7f", "550 bye\x01"};
    EXPECT_EQ(reply.text(), "550-no [31m such user  550 bye ");
    reply.lines = {"550 " + std::string(5000, 'y')};
    EXPECT_EQ(reply.text(), "550 " + std::string(508, 'y') + "...");
    EXPECT_EQ(printableSmtpText("caf\xc3\xa9"), "caf  ");
}

SmtpReply ehlo(Lines lines) {
    SmtpReply reply;
    reply.code = 250;
    reply.lines = std::move(lines);
    return reply;
}

TEST(SmtpReply, AuthMethodsFollowThePositionRules) {
    EXPECT_EQ(smtpAuthMethods(ehlo({"250-mail.example", "250-AUTH PLAIN LOGIN", "250 8BITMIME"})),
              (Methods{"PLAIN", "LOGIN"}));
    // "=" after AUTH, lower case, repeated blanks and words, several AUTH lines.
    EXPECT_EQ(smtpAuthMethods(ehlo({"250-x", "250-auth=login  cram-md5 ", "250 AUTH LOGIN XOAUTH2"})),
              (Methods{"LOGIN", "CRAM-MD5", "XOAUTH2"}));
    // The first line is the greeting line and never counts.
    EXPECT_TRUE(smtpAuthMethods(ehlo({"250 AUTH LOGIN"})).empty());
    // AUTH must stand at the fifth character, followed by a blank or "=".
    EXPECT_TRUE(smtpAuthMethods(ehlo({"250-x", "250-XAUTH LOGIN", "250-AUTHLOGIN", "250-AUTH", "250  AUTH LOGIN",
                                      "250 AUTH-LOGIN"}))
                    .empty());
    // An earlier "AUTH" (in the code's place) means it does not first occur at the fifth.
    EXPECT_TRUE(smtpAuthMethods(ehlo({"250-x", "AUTHAUTH LOGIN"})).empty());
    // Nothing after the blank: no method.
    EXPECT_TRUE(smtpAuthMethods(ehlo({"250-x", "250 AUTH "})).empty());
}

}  // namespace
}  // namespace raid
