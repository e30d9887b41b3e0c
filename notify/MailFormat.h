// The text of an alert mail as it goes over the wire: header lines, the body with its
// dots doubled, the Base64 of the login exchange and the "Date" header.
//
// Everything here is pure text work; SmtpClient sends what it builds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/TimeFormat.h"

namespace raid {

// Header lines longer than this are folded onto continuation lines.
constexpr std::size_t kMailFoldWidth = 78;

// Standard alphabet, "=" padding, over the bytes of `bytes`.
std::string base64(std::string_view bytes);

// The SMTP login name: the sender address up to, not including, its first "@" (the
// whole address when it has none).
std::string loginName(std::string_view senderAddress);
// The login name set of its own (`configured`), else the one the sender address gives.
std::string loginName(std::string_view configured, std::string_view senderAddress);

// Whether an address holds a byte outside ASCII: such an address (RFC 6531) travels
// only to a server that offers SMTPUTF8, and then with SMTPUTF8 on MAIL FROM.
bool needsSmtpUtf8(std::string_view address);
// The longest address a path of the mail dialogue holds (RFC 5321 4.5.3.1.3: 256
// octets with the angle brackets).
constexpr std::size_t kMaxAddressOctets = 254;
// Whether an address can stand between the angle brackets of the mail dialogue and in
// a header: at most kMaxAddressOctets, no control character (C0, DEL or C1), no blank
// of any kind, no angle bracket, and well-formed UTF-8 where it is not ASCII. The
// empty address passes (MAIL FROM:<> is the null sender).
bool sendableAddress(std::string_view address);

// Whether a display name or subject has to travel as encoded words: it holds a byte
// outside printable ASCII, or a run of non-blanks too long to fold into a line a
// server accepts (a header line may not exceed 998 characters).
bool needsEncodedWords(std::string_view text);
// `text` as RFC 2047 encoded words ("=?UTF-8?B?...?="; "windows-1252" when the
// bytes are not UTF-8), each short enough to share a line with its header name, separated by blanks so the
// header can be folded between them; a UTF-8 character is never split.
std::string encodedWords(std::string_view text);

// "From" value: the bare address without a name; otherwise the name in double quotes
// (backslash and double quote escaped) or as encoded words, then " <" address ">".
std::string fromHeaderValue(std::string_view senderName, std::string_view senderAddress);
// "Subject" value: the subject as it is, or as encoded words under the same rule.
std::string subjectHeaderValue(std::string_view subject);
// "Date" value: "Tue, 7 Dec 2026 14:03:05 +0100".
std::string mailDateValue(const LocalTimeParts& time);
// "Message-ID" value: "<" + the UTC time as YYYYMMDDHHMMSS + "." + `random` as 16 hex
// digits + "@" + `host` + ">". Only the characters a message id allows are kept of
// the host name ("localhost" when none is left).
std::string messageIdValue(double wallSeconds, std::uint64_t random, std::string_view host);

// One header line folded at blanks so that no physical line exceeds kMailFoldWidth
// where a blank allows it; continuation lines begin with the blank they were folded
// at. Returns the physical lines, without line ends.
std::vector<std::string> foldHeaderLine(std::string_view line);

// A body line as it is sent: a leading "." is doubled. So is a "." right after a CR
// or LF inside the line, so that text holding line breaks of its own can never
// end the message early on a server that reads them as line ends.
std::string dotStuffed(std::string_view line);

// How the body travels: as it is in 7-bit text (plain ASCII, no MIME headers), as
// 8-bit text where the server announced 8BITMIME (MAIL FROM then says
// BODY=8BITMIME), or quoted-printable.
enum class BodyTransfer { SevenBit, EightBit, QuotedPrintable };

// The longest line on the wire, in octets, without its CR LF.
constexpr std::size_t kMaxBodyLine = 998;

// Body lines as they go out, before their dots are doubled; none holds a CR or LF.
struct MailBody {
    BodyTransfer transfer = BodyTransfer::SevenBit;
    std::string charset;  // "" for plain ASCII; else "UTF-8" (or "windows-1252")
    std::vector<std::string> lines;
};

// Quoted-printable form of one line of text (RFC 2045): lines of at most 76
// characters, all but the last ending in a soft break "=".
std::vector<std::string> quotedPrintableLines(std::string_view line);
// The body in the form the server takes, which decodes to the lines given, each
// ended by a line break (a line feed inside a line is a line break too). Plain ASCII
// in short lines goes as it is; other text is declared (text/plain with its
// charset) and goes as 8-bit text when `eightBitMime`, quoted-printable otherwise or
// when a line holds a CR or NUL or is longer than kMaxBodyLine.
MailBody encodeMailBody(const std::vector<std::string>& body, bool eightBitMime);

struct MailFields {
    std::string senderName;
    std::string senderAddress;
    std::string subject;
    std::vector<std::string> recipients;
    // SMTPUTF8 is in use for this message: addresses outside ASCII go raw (UTF-8,
    // RFC 6532). Without it such an address never appears in a header: To: leaves
    // it out (the client never offers one to such a server), and the client fails a
    // mail whose sender address needs it before anything is composed.
    bool utf8 = false;
    LocalTimeParts date;
    std::string messageId;  // with its angle brackets; a new one for every attempt
};

// The header lines in their order ("From", "Subject", "To", "Content-Type",
// "MIME-Version", "Content-Transfer-Encoding" (for a declared body), "Date",
// "Message-ID", "X-Priority", "X-Library"), each "Name: value" and unfolded; headers
// with an empty value are left out. To: lists `recipients` (those outside ASCII only
// with `utf8`).
std::vector<std::string> mailHeaderLines(const MailFields& fields, const MailBody& body = {});

// What follows the server's 354: the folded header lines, an empty line and the
// body lines with their dots doubled, each with CR LF; the final "." is not included.
std::string mailDataText(const MailFields& fields, const MailBody& body);

}  // namespace raid
