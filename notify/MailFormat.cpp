#include "notify/MailFormat.h"

#include "monitor/TimeFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "device/DeviceText.h"

namespace raid {
namespace {

// A word this long cannot be folded into a line a server takes (998 characters at
// most); such text travels as encoded words, which can be split anywhere.
constexpr std::size_t kMaxPlainWord = 900;
// RFC 2047 allows 75 characters per encoded word; a little less lets the first word
// share its line with "Subject: " and still fold within kMailFoldWidth.
constexpr std::size_t kMaxEncodedWord = 66;

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t min = 0, value = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, value = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, value = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, value = c & 0x07u;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            value = (value << 6) | (d & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

// The code point of the UTF-8 character at `i` (valid UTF-8 assumed) and its length.
std::uint32_t codePointAt(std::string_view text, std::size_t i, std::size_t& length) {
    const auto c = static_cast<unsigned char>(text[i]);
    length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
    std::uint32_t value = length == 1 ? c : c & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) value = (value << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    return value;
}

// Blanks and line breaks of every script (Unicode's space separators, line and
// paragraph separators) and the C1 controls: a reader takes them for the end of the
// address or cannot see them at all.
bool blankOrControl(std::uint32_t c) {
    return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool hasNonBlank(std::string_view text) { return text.find_first_not_of(' ') != std::string_view::npos; }

}  // namespace

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string loginName(std::string_view configured, std::string_view senderAddress) {
    return configured.empty() ? loginName(senderAddress) : std::string(configured);
}

std::string loginName(std::string_view senderAddress) {
    return std::string(senderAddress.substr(0, senderAddress.find('@')));
}

bool needsSmtpUtf8(std::string_view address) {
    return std::any_of(address.begin(), address.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool sendableAddress(std::string_view address) {
    if (address.size() > kMaxAddressOctets || !validUtf8(address)) return false;
    for (std::size_t i = 0, length = 0; i < address.size(); i += length) {
        const std::uint32_t c = codePointAt(address, i, length);
        if (blankOrControl(c) || c == '<' || c == '>') return false;
    }
    return true;
}

bool needsEncodedWords(std::string_view text) {
    std::size_t run = 0;
    for (const char c : text) {
        if (!isPrintableDeviceByte(static_cast<unsigned char>(c))) return true;
        run = c == ' ' ? 0 : run + 1;
        if (run > kMaxPlainWord) return true;
    }
    return false;
}

std::string encodedWords(std::string_view text) {
    const bool utf8 = validUtf8(text);
    const std::string prefix = utf8 ? "=?UTF-8?B?" : "=?windows-1252?B?";
    // Whole Base64 groups only: each word decodes on its own.
    const std::size_t bytesPerWord = (kMaxEncodedWord - prefix.size() - 2) / 4 * 3;
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t cut = std::min(text.size(), pos + bytesPerWord);
        if (utf8)
            while (cut < text.size() && cut > pos + 1 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        if (!out.empty()) out += ' ';
        out += prefix + base64(text.substr(pos, cut - pos)) + "?=";
        pos = cut;
    }
    return out;
}

std::string fromHeaderValue(std::string_view senderName, std::string_view senderAddress) {
    if (senderName.empty()) return std::string(senderAddress);
    std::string name;
    if (!needsEncodedWords(senderName)) {
        name = "\"";
        for (const char c : senderName) {
            if (c == '\\' || c == '"') name += '\\';
            name += c;
        }
        name += '"';
    }
    // The escapes can make a word too long to fold after all: encoded words then.
    if (name.empty() || needsEncodedWords(name)) name = encodedWords(senderName);
    return name + " <" + std::string(senderAddress) + ">";
}

std::string subjectHeaderValue(std::string_view subject) {
    return needsEncodedWords(subject) ? encodedWords(subject) : std::string(subject);
}

std::string mailDateValue(const LocalTimeParts& time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int offset = std::abs(time.utcOffsetMinutes);
    char clock[16], zone[16], text[96];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", time.hour, time.minute, time.second);
    std::snprintf(zone, sizeof zone, "%c%02d%02d", time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60 % 100,
                  offset % 60);
    std::snprintf(text, sizeof text, "%s, %d %s %d %s %s", kDays[std::clamp(time.weekday, 0, 6)], time.day,
                  kMonths[std::clamp(time.month, 1, 12) - 1], time.year, clock, zone);
    return text;
}

std::string messageIdValue(double wallSeconds, std::uint64_t random, std::string_view host) {
    // The right side is a dot-atom: letters, digits and the atom specials, dots only
    // between atoms.
    std::string right;
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        const bool atom = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                          std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
        if (atom || (c == '.' && !right.empty() && right.back() != '.')) right += c;
        if (right.size() >= 200) break;
    }
    while (!right.empty() && right.back() == '.') right.pop_back();
    if (right.empty()) right = "localhost";
    const UtcParts utc = utcParts(static_cast<long long>(std::clamp(wallSeconds, 0.0, 253402300799.0)));
    char text[64];
    std::snprintf(text, sizeof text, "<%04d%02d%02d%02d%02d%02d.%016llx@", utc.year, utc.month, utc.day, utc.hour,
                  utc.minute, utc.second, static_cast<unsigned long long>(random));
    return text + right + ">";
}

std::vector<std::string> foldHeaderLine(std::string_view line) {
    std::vector<std::string> lines;
    const std::size_t colon = line.find(':');
    // Never fold right after "Name:", and never leave a line of blanks behind.
    std::size_t minPos = colon == std::string_view::npos ? 1 : colon + 2;
    auto foldsAt = [&](std::size_t i) {
        return i >= minPos && line[i] == ' ' && hasNonBlank(line.substr(0, i)) && hasNonBlank(line.substr(i));
    };
    while (line.size() > kMailFoldWidth) {
        std::size_t pos = std::string_view::npos;
        for (std::size_t i = kMailFoldWidth; i > 0 && pos == std::string_view::npos; --i)
            if (foldsAt(i)) pos = i;
        for (std::size_t i = kMailFoldWidth + 1; i < line.size() && pos == std::string_view::npos; ++i)
            if (foldsAt(i)) pos = i;
        if (pos == std::string_view::npos) break;
        lines.emplace_back(line.substr(0, pos));
        line.remove_prefix(pos);
        minPos = 1;
    }
    lines.emplace_back(line);
    return lines;
}

std::string dotStuffed(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 1);
    if (!line.empty() && line.front() == '.') out += '.';
    for (std::size_t i = 0; i < line.size(); ++i) {
        out += line[i];
        if ((line[i] == '\r' || line[i] == '\n') && i + 1 < line.size() && line[i + 1] == '.') out += '.';
    }
    return out;
}

std::vector<std::string> quotedPrintableLines(std::string_view line) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    constexpr std::size_t kWidth = 76;
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        // Blanks stay blanks unless they end the line, where transports drop them.
        const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
        std::string piece;
        if (literal) {
            piece = static_cast<char>(c);
        } else {
            piece = {'=', kHex[c >> 4], kHex[c & 15]};
        }
        // Room for the piece and, unless it is the line's last, a soft break after it.
        if (current.size() + piece.size() + (last ? 0 : 1) > kWidth) {
            lines.push_back(current + "=");
            current.clear();
        }
        current += piece;
    }
    lines.push_back(std::move(current));
    return lines;
}

MailBody encodeMailBody(const std::vector<std::string>& body, bool eightBitMime) {
    // A line feed inside a line is a line break of the text (the host information
    // lines begin with one): it goes out as the line end CR LF.
    std::vector<std::string> lines;
    for (const auto& line : body) {
        std::size_t at = 0;
        for (std::size_t lf = line.find('\n'); lf != std::string::npos; lf = line.find('\n', at)) {
            lines.push_back(line.substr(at, lf - at));
            at = lf + 1;
        }
        lines.push_back(line.substr(at));
    }
    bool ascii = true;
    // As it is, a line may hold no CR (only CR LF ends a line), no NUL, and at most
    // 998 octets once a leading dot is doubled.
    bool asItIs = true;
    for (const auto& line : lines) {
        if (line.size() + (!line.empty() && line.front() == '.') > kMaxBodyLine) asItIs = false;
        for (const char c : line) {
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            asItIs = asItIs && c != '\r' && c != '\0';
        }
    }
    MailBody out;
    if (ascii && asItIs) {
        out.lines = std::move(lines);
        return out;
    }
    std::string all;
    for (const auto& line : lines) all += line;
    out.charset = validUtf8(all) ? "UTF-8" : "windows-1252";
    if (asItIs && eightBitMime) {
        out.transfer = BodyTransfer::EightBit;
        out.lines = std::move(lines);
        return out;
    }
    out.transfer = BodyTransfer::QuotedPrintable;
    for (const auto& line : lines)
        for (auto& encoded : quotedPrintableLines(line)) out.lines.push_back(std::move(encoded));
    return out;
}

std::vector<std::string> mailHeaderLines(const MailFields& fields, const MailBody& body) {
    std::string to;
    for (const auto& address : fields.recipients) {
        // An address outside ASCII has no 7-bit form (encoded words are not allowed
        // in an address): without SMTPUTF8 it is not written at all.
        if (!fields.utf8 && needsSmtpUtf8(address)) continue;
        if (!to.empty()) to += ", ";
        to += address;
    }
    const bool declared = !body.charset.empty();
    const char* transfer = body.transfer == BodyTransfer::QuotedPrintable ? "quoted-printable"
                           : body.transfer == BodyTransfer::EightBit      ? "8bit"
                                                                          : "7bit";
    const std::pair<const char*, std::string> headers[] = {
        {"From", fromHeaderValue(fields.senderName, fields.senderAddress)},
        {"Subject", subjectHeaderValue(fields.subject)},
        {"To", to},
        {"Content-Type", declared ? "text/plain; charset=" + body.charset : ""},
        {"MIME-Version", declared ? "1.0" : ""},
        {"Content-Transfer-Encoding", declared ? transfer : ""},
        {"Date", mailDateValue(fields.date)},
        {"Message-ID", fields.messageId},
        {"X-Priority", "3"},
        {"X-Library", "Indy 8.0.25"},
    };
    std::vector<std::string> lines;
    for (const auto& [name, value] : headers)
        if (!value.empty()) lines.push_back(std::string(name) + ": " + value);
    return lines;
}

std::string mailDataText(const MailFields& fields, const MailBody& body) {
    std::string text;
    for (const auto& header : mailHeaderLines(fields, body))
        for (const auto& line : foldHeaderLine(header)) text += line + "\r\n";
    text += "\r\n";
    for (const auto& line : body.lines) text += dotStuffed(line) + "\r\n";
    return text;
}

}  // namespace raid
