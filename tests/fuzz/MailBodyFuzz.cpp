// The text of an alert mail comes from the owner's files (subjects, contents) and the
// enclosure's own texts: outside input. This target composes a message from the input
// and reads it back as a receiving server would.
//
// Input: byte 0 says whether the server announced 8BITMIME (bit 0) and whether the
// message goes with SMTPUTF8 (bit 1); the rest is the body, its lines separated by
// 0x1E (a line may hold CR, LF, NUL, anything); the first line is also the subject,
// the last, when it is an address the dialogue can carry, also a recipient.
//
// On the wire: CR and LF only as the pair CR LF, no line over 998 octets, no byte
// above 0x7F in the body unless it went as 8-bit text, which only a server that
// announced 8BITMIME gets, none in the header unless SMTPUTF8 is used. To: lists the
// recipients, those outside ASCII only with SMTPUTF8. Read back (dots undoubled,
// quoted-printable decoded), the body is exactly the text given: its lines, each
// ended by a line feed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "notify/MailFormat.h"

namespace {

using namespace raid;

void check(bool ok) {
    if (!ok) std::abort();
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Quoted-printable lines back to text; every line the encoder wrote is well formed.
std::string decodeQuotedPrintable(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        check(line.size() <= 76);
        bool soft = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            check((c >= 33 && c <= 126) || c == ' ' || c == '\t');
            if (c != '=') {
                text += c;
                continue;
            }
            if (i + 1 == line.size()) {
                soft = true;
                break;
            }
            check(i + 2 < line.size());
            const int high = hexValue(line[i + 1]), low = hexValue(line[i + 2]);
            check(high >= 0 && low >= 0);
            text += static_cast<char>(high * 16 + low);
            i += 2;
        }
        // A blank at the end of a line would not survive transport.
        if (!soft && !line.empty()) check(line.back() != ' ' && line.back() != '\t');
        if (!soft) text += '\n';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool eightBitMime = (data[0] & 1) != 0;
    const bool utf8 = (data[0] & 2) != 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::vector<std::string> body;
    std::size_t at = 0;
    for (std::size_t sep = input.find('\x1e'); sep != std::string::npos; sep = input.find('\x1e', at)) {
        body.push_back(input.substr(at, sep - at));
        at = sep + 1;
    }
    body.push_back(input.substr(at));
    std::string text;
    for (const std::string& line : body) text += line + "\n";

    MailFields fields;
    fields.senderName = body.front();
    fields.senderAddress = "alice@example.com";
    fields.subject = body.front();
    fields.recipients = {"ops@example.com"};
    // Three times: long addresses make a To: header that has to fold.
    if (!body.back().empty() && sendableAddress(body.back())) fields.recipients.resize(4, body.back());
    fields.utf8 = utf8;
    std::string to;
    for (const std::string& address : fields.recipients)
        if (utf8 || !needsSmtpUtf8(address)) to += (to.empty() ? "" : ", ") + address;
    fields.messageId = messageIdValue(1796601600.0, 42, body.front());
    const MailBody encoded = encodeMailBody(body, eightBitMime);
    const std::string wire = mailDataText(fields, encoded);

    // Line ends are CR LF and nothing else; lines are short enough for every server.
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\r' || wire[i] == '\n') {
            check(wire[i] == '\r' && i + 1 < wire.size() && wire[i + 1] == '\n');
            check(i - start <= kMaxBodyLine);
            lines.push_back(wire.substr(start, i - start));
            start = i + 2;
            ++i;
        }
    }
    check(start == wire.size());
    if (encoded.transfer == BodyTransfer::EightBit) check(eightBitMime);
    const bool declared = wire.find("\r\nMIME-Version: 1.0\r\n") != std::string::npos;
    check(declared == (encoded.transfer != BodyTransfer::SevenBit));

    // The header: 8-bit only with SMTPUTF8; To: unfolded is the list of recipients.
    std::size_t blank = 0;
    std::string unfoldedTo;
    bool inTo = false;
    while (!lines[blank].empty()) {
        const std::string& line = lines[blank++];
        if (!utf8)
            for (const char c : line) check(static_cast<unsigned char>(c) < 0x80);
        inTo = line.rfind("To: ", 0) == 0 || (inTo && line.front() == ' ');
        if (inTo) unfoldedTo += line;
    }
    check(unfoldedTo == (to.empty() ? "" : "To: " + to));
    if (encoded.transfer != BodyTransfer::EightBit)
        for (std::size_t i = blank; i < lines.size(); ++i)
            for (const char c : lines[i]) check(static_cast<unsigned char>(c) < 0x80);

    // The body as the server reads it: after the empty line, each leading dot undoubled.
    std::vector<std::string> received;
    for (std::size_t i = blank + 1; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (!line.empty() && line.front() == '.') {
            check(line.size() > 1 && line[1] == '.');  // a lone "." would end the message
            line.erase(0, 1);
        }
        received.push_back(std::move(line));
    }
    std::string decoded;
    if (encoded.transfer == BodyTransfer::QuotedPrintable) {
        decoded = decodeQuotedPrintable(received);
    } else {
        for (const std::string& line : received) decoded += line + "\n";
    }
    check(decoded == text);
    return 0;
}
