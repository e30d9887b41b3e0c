// Reading SMTP replies: one reply is one line, or several when the first line's
// fourth character is "-", and its code is the number at the start of the last line.
//
// Replies are outside input. They are bounded in lines and bytes so a server that
// keeps sending continuation lines cannot grow the reply without end, and their text
// is made printable before it can reach the status bar or a log line.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TcpPort.h"

namespace raid {

constexpr std::size_t kSmtpMaxReplyLines = 1000;
constexpr std::size_t kSmtpMaxReplyBytes = 1024 * 1024;
// The longest reply text an error message carries.
constexpr std::size_t kSmtpMaxErrorText = 512;

struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;  // as received, without line ends

    // The lines joined by blanks, printable, at most kSmtpMaxErrorText characters.
    std::string text() const;
};

// The decimal number in the first three characters of `line`; 0 when they are not
// all digits (or the line is empty).
int smtpReplyCode(std::string_view line);

// Whether `line` ends a reply that began with `first`: it starts with the same three
// characters (any case) and a blank, or it is shorter than four characters.
bool endsSmtpReply(std::string_view first, std::string_view line);

// Reads one whole reply, waiting until `deadline` for it. false: `error` holds the
// connection's error or says the reply grew past its bounds.
bool readSmtpReply(TcpConnection& connection, TcpDeadline deadline, SmtpReply& reply, std::string& error);

// The login methods an EHLO reply announces: on every line after the first,
// upper-cased, "AUTH" at the fifth character (and nowhere before it) followed by a
// blank or "=" introduces a list of blank-separated method names.
std::set<std::string> smtpAuthMethods(const SmtpReply& ehloReply);

// Whether an EHLO reply announces the service extension `keyword` (upper case, e.g.
// "STARTTLS"): on a line after the first, upper-cased, the word from the fifth
// character up to a blank or the end of the line is `keyword`.
bool smtpAnnounces(const SmtpReply& ehloReply, std::string_view keyword);

// `text` with every byte outside printable ASCII shown as a blank, cut to `limit`
// characters (the cut marked with "...").
std::string printableSmtpText(std::string_view text, std::size_t limit = kSmtpMaxErrorText);

}  // namespace raid
