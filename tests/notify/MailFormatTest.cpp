#include <gtest/gtest.h>

#include <ctime>

#include "notify/MailFormat.h"
#include "support/Portable.h"

namespace raid {
namespace {

using Lines = std::vector<std::string>;

// Base64 back to bytes (standard alphabet, padded), for checking encoded words.
std::string unbase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') break;
        bits = (bits << 6) | static_cast<std::uint32_t>(alphabet.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// Splits encoded words "=?cs?B?...?= =?cs?B?...?=" into (charset, decoded bytes).
std::vector<std::pair<std::string, std::string>> decodeWords(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(pos, end - pos);
        EXPECT_LE(word.size(), 75u) << word;
        EXPECT_EQ(word.substr(0, 2), "=?");
        EXPECT_EQ(word.substr(word.size() - 2), "?=");
        const std::size_t q = word.find("?B?");
        words.emplace_back(word.substr(2, q - 2), unbase64(word.substr(q + 3, word.size() - q - 5)));
        pos = end + 1;
    }
    return words;
}

TEST(MailFormat, Base64AndLoginName) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("alice"), "YWxpY2U=");
    EXPECT_EQ(base64(std::string("\xff\x00\xfe", 3)), "/wD+");
    EXPECT_EQ(loginName("alice@example.com"), "alice");
    EXPECT_EQ(loginName("a@b@c"), "a");
    EXPECT_EQ(loginName("alice"), "alice");
    EXPECT_EQ(loginName("@example.com"), "");
}

TEST(MailFormat, FromQuotesOrEncodesTheName) {
    EXPECT_EQ(fromHeaderValue("", "ops@example.com"), "ops@example.com");
    EXPECT_EQ(fromHeaderValue("Night Desk", "ops@example.com"), "\"Night Desk\" <ops@example.com>");
    EXPECT_EQ(fromHeaderValue("Ops \"night\" \\ desk", "o@x"), "\"Ops \\\"night\\\" \\\\ desk\" <o@x>");
    EXPECT_EQ(fromHeaderValue("Lager S\xc3\xbc" "d", "o@x"), "=?UTF-8?B?TGFnZXIgU8O8ZA==?= <o@x>");
    // A control character is not printable ASCII either: it may not reach the header raw.
    EXPECT_EQ(fromHeaderValue("a\r\nBcc: x", "o@x"), "=?UTF-8?B?YQ0KQmNjOiB4?= <o@x>");
    // Bytes that are not UTF-8 are taken as the Windows code page they most likely came from.
    EXPECT_EQ(fromHeaderValue("S\xfc" "d", "o@x"), "=?windows-1252?B?U/xk?= <o@x>");
    // Escaping may double a word past what a line can hold: then encoded words too.
    const std::string slashes(600, '\\');
    const std::string from = fromHeaderValue(slashes, "o@x");
    ASSERT_EQ(from.substr(0, 10), "=?UTF-8?B?");
    std::string decoded;
    for (const auto& [charset, bytes] : decodeWords(from.substr(0, from.size() - 6))) decoded += bytes;
    EXPECT_EQ(decoded, slashes);
    EXPECT_EQ(subjectHeaderValue("[RAID GUI v0.23.7-3 Message] "), "[RAID GUI v0.23.7-3 Message] ");
    EXPECT_EQ(subjectHeaderValue("\xe2\x82\xac"), "=?UTF-8?B?4oKs?=");
}

TEST(MailFormat, EncodedWordsNeverSplitACharacter) {
    // 40 two-byte and 40 three-byte characters: word ends fall inside characters
    // unless the encoder steps back.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "\xc3\xa9\xe2\x82\xac";
    const auto words = decodeWords(encodedWords(text));
    ASSERT_GT(words.size(), 3u);
    std::string joined;
    for (const auto& [charset, bytes] : words) {
        EXPECT_EQ(charset, "UTF-8");
        // Every word starts on a character and ends on one.
        EXPECT_NE(static_cast<unsigned char>(bytes.front()) & 0xC0, 0x80);
        joined += bytes;
    }
    EXPECT_EQ(joined, text);

    // A word too long to fold travels encoded, and comes back whole.
    const std::string word(2000, 'w');
    EXPECT_TRUE(needsEncodedWords(word));
    EXPECT_FALSE(needsEncodedWords(std::string(900, 'w') + " " + std::string(900, 'w')));
    joined.clear();
    for (const auto& [charset, bytes] : decodeWords(subjectHeaderValue(word))) joined += bytes;
    EXPECT_EQ(joined, word);
}

TEST(MailFormat, FoldingKeepsLinesShortAndTheValueWhole) {
    std::string to;
    for (int i = 0; i < 10; ++i) to += (i ? ", " : "") + std::string("recipient") + std::to_string(i) + "@example.com";
    const std::string header = "To: " + to;
    const Lines folded = foldHeaderLine(header);
    ASSERT_GT(folded.size(), 1u);
    std::string unfolded;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        EXPECT_LE(folded[i].size(), kMailFoldWidth) << folded[i];
        if (i > 0) {
            EXPECT_EQ(folded[i][0], ' ');
        }
        EXPECT_NE(folded[i].find_first_not_of(' '), std::string::npos);
        unfolded += folded[i];
    }
    EXPECT_EQ(unfolded, header);

    EXPECT_EQ(foldHeaderLine("Subject: short"), (Lines{"Subject: short"}));
    // No blank within the width: the fold comes at the first blank after it.
    const std::string longWord(90, 'x');
    EXPECT_EQ(foldHeaderLine("Subject: " + longWord + " tail"), (Lines{"Subject: " + longWord, " tail"}));
    // Never a fold right after the name, never a line of blanks only.
    EXPECT_EQ(foldHeaderLine("Subject: " + longWord), (Lines{"Subject: " + longWord}));
    const std::string trailing = "Subject: " + std::string(69, 'y') + "  ";  // 80 characters
    EXPECT_EQ(foldHeaderLine(trailing), (Lines{trailing}));
}

TEST(MailFormat, DateHasTheFixedFormat) {
    LocalTimeParts t;
    t.year = 2026, t.month = 12, t.day = 7, t.weekday = 1, t.hour = 1, t.minute = 2, t.second = 3;
    t.utcOffsetMinutes = 60;
    EXPECT_EQ(mailDateValue(t), "Mon, 7 Dec 2026 01:02:03 +0100");
    t.utcOffsetMinutes = -210, t.day = 6, t.weekday = 0;
    EXPECT_EQ(mailDateValue(t), "Sun, 6 Dec 2026 01:02:03 -0330");
    t.utcOffsetMinutes = 0, t.month = 1, t.day = 31;
    EXPECT_EQ(mailDateValue(t), "Sun, 31 Jan 2026 01:02:03 +0000");
}

TEST(MailFormat, MessageIdKeepsOnlyWhatAnIdMayHold) {
    EXPECT_EQ(messageIdValue(1796601600.0, 0x0123456789abcdefull, "vm.example.org"),
              "<20261207000000.0123456789abcdef@vm.example.org>");
    // A host name with blanks, brackets, control characters or stray dots.
    EXPECT_EQ(messageIdValue(0, 1, ".K\xc3\xb6ln <box>..a\r\n."), "<19700101000000.0000000000000001@Klnbox.a>");
    EXPECT_EQ(messageIdValue(-5, 2, " @ "), "<19700101000000.0000000000000002@localhost>");
}

TEST(MailFormat, LocalTimePartsCarryTheOffsetOfThatMoment) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    test::setEnv("TZ", test::kCentralEuropeTz);
    test::readTimeZone();
    const auto winter = localTimeParts(1796601600.0);  // 2026-12-07 00:00 UTC
    const auto summer = localTimeParts(1782000000.0);  // 2026-06-21 00:00 UTC
    bool summerKnown = true;
#ifdef _WIN32
    // Windows' runtime applies TZ's summer time by the United States' rule; Wine takes
    // the summer rule from the machine's own zone instead. The offset must be the one
    // the runtime itself reports for that moment.
    std::tm probe{};
    const std::time_t june = 1782000000;
    summerKnown = localtime_s(&probe, &june) == 0 && probe.tm_isdst > 0;
#endif
    test::setEnv("TZ", "NST+3:30");
    test::readTimeZone();
    const auto west = localTimeParts(1796601600.0);
    if (old)
        test::setEnv("TZ", saved);
    else
        test::unsetEnv("TZ");
    test::readTimeZone();

    ASSERT_TRUE(winter && summer && west);
    EXPECT_EQ(mailDateValue(*winter), "Mon, 7 Dec 2026 01:00:00 +0100");
    EXPECT_EQ(mailDateValue(*summer), summerKnown ? "Sun, 21 Jun 2026 02:00:00 +0200" : "Sun, 21 Jun 2026 01:00:00 +0100");
    EXPECT_EQ(mailDateValue(*west), "Sun, 6 Dec 2026 20:30:00 -0330");
}

TEST(MailFormat, BodyDotsAreDoubledWhereALineBegins) {
    EXPECT_EQ(dotStuffed("."), "..");
    EXPECT_EQ(dotStuffed("..x"), "...x");
    EXPECT_EQ(dotStuffed("a.b"), "a.b");
    EXPECT_EQ(dotStuffed("\nIP Address  : 10.0.0.1"), "\nIP Address  : 10.0.0.1");
    // Line breaks inside a line: a dot after them could end the message on a lenient server.
    EXPECT_EQ(dotStuffed("a\n.\nb"), "a\n..\nb");
    EXPECT_EQ(dotStuffed("a\r\n.\r\nMAIL FROM:<x>"), "a\r\n..\r\nMAIL FROM:<x>");
    EXPECT_EQ(dotStuffed("a\r.b"), "a\r..b");
}

}  // namespace
}  // namespace raid
