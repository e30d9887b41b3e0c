#include "platform/RegistryText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace raid {

namespace {

// Names longer than the registry allows, and more values than any settings key holds,
// are refused rather than kept: the file may be anything.
constexpr std::size_t kMaxNameLength = 16383;
constexpr std::size_t kMaxValues = 4096;
constexpr std::size_t kMaxValueBytes = 1 << 20;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A quoted string starting at s[0] == '"'; `end` is set past the closing quote.
bool quoted(std::string_view s, std::string& out, std::size_t& end) {
    out.clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            end = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size()) return false;
            const char n = s[++i];
            if (n != '\\' && n != '"') return false;
            out += n;
        } else {
            out += c;
        }
        if (out.size() > kMaxValueBytes) return false;
    }
    return false;
}

bool hexBytes(std::string_view s, std::vector<std::uint8_t>& out) {
    out.clear();
    s = trim(s);
    if (s.empty()) return true;
    std::size_t i = 0;
    while (true) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i + 2 > s.size()) return false;
        const int hi = hexDigit(s[i]), lo = hexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        if (out.size() > kMaxValueBytes) return false;
        i += 2;
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        if (i == s.size()) return true;
        if (s[i] != ',') return false;
        ++i;
    }
}

// The value part after "=". Returns false with `why` on a malformed value; `deleted`
// for "-".
bool value(std::string_view s, RegValue& v, bool& deleted, std::string& why) {
    deleted = false;
    s = trim(s);
    if (s == "-") {
        deleted = true;
        return true;
    }
    if (!s.empty() && s.front() == '"') {
        std::string text;
        std::size_t end = 0;
        if (!quoted(s, text, end) || !trim(s.substr(end)).empty()) {
            why = "a string value that is not one quoted text";
            return false;
        }
        v = RegValue::sz(std::move(text));
        return true;
    }
    const std::string head = lower(s.substr(0, std::min<std::size_t>(s.size(), 8)));
    if (head.rfind("dword:", 0) == 0) {
        const std::string_view digits = trim(s.substr(6));
        if (digits.empty() || digits.size() > 8) {
            why = "a dword value that is not 1 to 8 hexadecimal digits";
            return false;
        }
        std::uint32_t n = 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0) {
                why = "a dword value that is not 1 to 8 hexadecimal digits";
                return false;
            }
            n = n * 16 + static_cast<std::uint32_t>(d);
        }
        v = RegValue::number(n);
        return true;
    }
    int type = 3;
    std::string_view rest;
    if (head.rfind("hex:", 0) == 0) {
        rest = s.substr(4);
    } else if (head.rfind("hex(", 0) == 0) {
        const std::size_t close = s.find(')');
        if (close == std::string_view::npos || close + 1 >= s.size() || s[close + 1] != ':' || close == 4 ||
            close > 12) {
            why = "a typed hex value without its type";
            return false;
        }
        type = 0;
        for (char c : s.substr(4, close - 4)) {
            const int d = hexDigit(c);
            if (d < 0) {
                why = "a typed hex value without its type";
                return false;
            }
            type = type * 16 + d;
            if (type > 0xFFFF) break;
        }
        rest = s.substr(close + 2);
    } else {
        why = "a value that is neither a string, a dword nor hex bytes";
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!hexBytes(rest, bytes)) {
        why = "hex bytes that are not pairs of hexadecimal digits separated by commas";
        return false;
    }
    switch (type) {
        case 0:
        case 3:
            v = RegValue::binary(std::move(bytes));
            return true;
        case 1: {
            // A string's bytes end at the first zero.
            const auto zero = std::find(bytes.begin(), bytes.end(), 0);
            v = RegValue::sz(std::string(bytes.begin(), zero));
            return true;
        }
        case 4:
            if (bytes.size() != 4) {
                why = "a hex(4) value that is not four bytes";
                return false;
            }
            v = RegValue::number(static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                                 static_cast<std::uint32_t>(bytes[3]) << 24);
            return true;
        default:
            why = "a value type this program does not keep";
            return false;
    }
}

void put(std::vector<std::pair<std::string, RegValue>>& values, std::string name, RegValue v) {
    for (auto& [n, old] : values)
        if (lower(n) == lower(name)) {
            old = std::move(v);
            return;
        }
    values.emplace_back(std::move(name), std::move(v));
}

void drop(std::vector<std::pair<std::string, RegValue>>& values, const std::string& name) {
    values.erase(std::remove_if(values.begin(), values.end(), [&](const auto& e) { return lower(e.first) == lower(name); }),
                 values.end());
}

std::string hexList(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        if (i) s += ',';
        s += b;
    }
    return s;
}

// Whether a trimmed line sets a value in hex bytes ("name"=hex:..., "name"=hex(N):...,
// @=hex...): the only lines the registry editor continues over a trailing backslash.
// The name is only skipped here, however it is spelled; the reader judges it.
bool startsHexValue(std::string_view t) {
    std::size_t i = 0;
    if (!t.empty() && t.front() == '@') {
        i = 1;
    } else if (!t.empty() && t.front() == '"') {
        for (i = 1; i < t.size() && t[i] != '"'; ++i)
            if (t[i] == '\\') ++i;
        if (i >= t.size()) return false;
        ++i;
    } else {
        return false;
    }
    std::string_view rest = trim(t.substr(i));
    if (rest.empty() || rest.front() != '=') return false;
    rest = trim(rest.substr(1));
    const std::string head = lower(rest.substr(0, std::min<std::size_t>(rest.size(), 4)));
    return head == "hex:" || head == "hex(";
}

// One line as the reader takes it: continued lines joined, blanks trimmed, and where
// its bytes are in the text (the line ends included).
struct Logical {
    std::string text;
    std::size_t line = 0;   // number of its first line
    std::size_t begin = 0;  // first byte
    std::size_t end = 0;    // past its last line end
    bool endsText = false;  // no line end after it: the text ends there
    bool open = false;      // the text ends while this line was to go on
};

// A trailing backslash continues a hex value on the next line, and only that: a
// comment or a Windows path in a string often ends in one, and must not take the next
// line (and the value on it) along. Elsewhere the backslash stays part of the line.
std::vector<Logical> logicalLines(std::string_view text) {
    std::vector<Logical> lines;
    std::size_t lineNo = 0, at = 0;
    bool continuing = false;
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") at = 3;  // a byte-order mark
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        const bool last = end == std::string_view::npos;
        if (last) end = text.size();
        std::string_view raw = text.substr(at, end - at);
        ++lineNo;
        const std::size_t begin = at;
        at = last ? end : end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        std::string_view t = trim(raw);
        const bool more = !t.empty() && t.back() == '\\' && (continuing || startsHexValue(t));
        if (more) t.remove_suffix(1);
        if (continuing && !lines.empty()) {
            lines.back().text += std::string(t);
            lines.back().end = at;
            lines.back().endsText = last;
        } else {
            lines.push_back({std::string(t), lineNo, begin, at, last});
        }
        // At the end of the text the line is still open when it was to go on: after its
        // backslash, or after the line end that followed it, since whatever is added
        // next would be read as its next line.
        lines.back().open = last && (more || (continuing && begin == text.size()));
        continuing = more;
        if (last) break;
    }
    return lines;
}

// What the reader makes of each line; `mention` names the value a line inside the key
// sets or deletes, whether or not its value can be read ("" for any other line).
struct Reading {
    RegistryText result;
    std::vector<std::string> mention;  // per logical line, the name in lower case
    std::vector<std::string> spelled;  // the same as the line spells it
    std::vector<bool> inKey;           // per logical line: inside the key's section
    bool anyLine = false;              // a line that is neither blank nor a comment
};

Reading readLines(const std::vector<Logical>& lines) {
    Reading r;
    RegistryText& out = r.result;
    r.mention.assign(lines.size(), std::string());
    r.spelled.assign(lines.size(), std::string());
    r.inKey.assign(lines.size(), false);
    bool header = false;
    bool inKey = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Logical& l = lines[i];
        const std::string_view t = l.text;
        const std::string where = "line " + std::to_string(l.line) + ": ";
        r.inKey[i] = inKey;
        if (t.empty() || t.front() == ';') continue;
        r.anyLine = true;
        if (!header) {
            if (t == "REGEDIT4" || t == "Windows Registry Editor Version 5.00") {
                header = true;
                continue;
            }
            out.problems.push_back(where + "the file does not begin with REGEDIT4");
            header = true;  // reported once; the lines are still read
        }
        if (t.front() == '[') {
            if (t.back() != ']') {
                out.problems.push_back(where + "a key line without its closing bracket");
                inKey = false;
                r.inKey[i] = false;
                continue;
            }
            const std::string key = lower(t.substr(1, t.size() - 2));
            inKey = key == lower(kSettingsKey);
            r.inKey[i] = inKey;
            if (inKey) {
                out.hasKey = true;
            } else {
                out.problems.push_back(where + "a key this program does not keep");
            }
            continue;
        }
        if (!inKey) {
            out.problems.push_back(where + "a value outside the program's key");
            continue;
        }
        if (t.front() == '@') continue;  // the key's default value: not one of ours
        std::string name;
        std::size_t end = 0;
        if (t.front() != '"' || !quoted(t, name, end) || name.empty() || name.size() > kMaxNameLength) {
            out.problems.push_back(where + "a line that is not \"name\"=value");
            continue;
        }
        r.mention[i] = lower(name);
        r.spelled[i] = name;
        const std::string_view rest = trim(t.substr(end));
        if (rest.empty() || rest.front() != '=') {
            out.problems.push_back(where + "a line that is not \"name\"=value");
            continue;
        }
        RegValue v;
        bool deleted = false;
        std::string why;
        if (!value(rest.substr(1), v, deleted, why)) {
            out.problems.push_back(where + why);
            continue;
        }
        if (deleted) {
            drop(out.values, name);
        } else if (out.values.size() >= kMaxValues) {
            out.problems.push_back(where + "more values than a settings key holds");
        } else {
            put(out.values, std::move(name), std::move(v));
        }
    }
    return r;
}

std::string quote(const std::string& t) {
    std::string q = "\"";
    for (char c : t) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

// "name"=value, without a line end.
std::string valueLine(const std::string& name, const RegValue& v) {
    std::string s = quote(name) + "=";
    switch (v.type) {
        case RegType::Sz:
            if (v.text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
                std::vector<std::uint8_t> bytes(v.text.begin(), v.text.end());
                bytes.push_back(0);
                s += "hex(1):" + hexList(bytes);
            } else {
                s += quote(v.text);
            }
            break;
        case RegType::Dword: {
            char b[16];
            std::snprintf(b, sizeof b, "dword:%08x", static_cast<unsigned>(v.dword));
            s += b;
            break;
        }
        case RegType::Binary: s += "hex:" + hexList(v.bytes); break;
    }
    return s;
}

}  // namespace

RegistryText parseRegistryText(std::string_view text) { return readLines(logicalLines(text)).result; }

std::string formatRegistryText(const std::vector<std::pair<std::string, RegValue>>& values) {
    std::string s = "REGEDIT4\n\n[";
    s += kSettingsKey;
    s += "]\n";
    for (const auto& [name, v] : values) s += valueLine(name, v) + "\n";
    return s;
}

std::string editRegistryText(std::string_view text, const std::vector<std::pair<std::string, RegValue>>& changes) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return formatRegistryText(changes);
    const std::vector<Logical> lines = logicalLines(text);
    const Reading reading = readLines(lines);
    // New lines end as the file's first line does.
    const std::size_t firstEnd = text.find('\n');
    const std::string eol =
        firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r' ? "\r\n" : "\n";

    // Each name once, its last change winning.
    std::vector<std::pair<std::string, const RegValue*>> wanted;  // lower-case name, value
    std::vector<std::string> spelled;
    for (const auto& [name, v] : changes) {
        const std::string l = lower(name);
        auto it = std::find_if(wanted.begin(), wanted.end(), [&](const auto& w) { return w.first == l; });
        if (it != wanted.end()) {
            it->second = &v;
            spelled[static_cast<std::size_t>(it - wanted.begin())] = name;
        } else {
            wanted.emplace_back(l, &v);
            spelled.push_back(name);
        }
    }
    // A name's last line decides its value: that line takes the new value.
    std::vector<std::ptrdiff_t> target(wanted.size(), -1);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (reading.mention[i].empty()) continue;
        for (std::size_t w = 0; w < wanted.size(); ++w)
            if (reading.mention[i] == wanted[w].first) target[w] = static_cast<std::ptrdiff_t>(i);
    }
    // Names the text does not hold yet go after the last line of the key's last section.
    std::ptrdiff_t anchor = -1;
    bool keySeen = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!reading.inKey[i]) continue;
        keySeen = true;
        if (!lines[i].text.empty()) anchor = static_cast<std::ptrdiff_t>(i);
    }
    std::string added;
    for (std::size_t w = 0; w < wanted.size(); ++w)
        if (target[w] < 0) added += valueLine(spelled[w], *wanted[w].second) + eol;

    std::string out;
    out.reserve(text.size() + added.size() + 256);
    std::size_t copied = 0;
    // Ends `out` with a line end, and with a blank line where its last line is a hex
    // value still going on, before new lines follow.
    const auto closeLine = [&] {
        const std::vector<Logical> sofar = logicalLines(out);
        const bool open = !sofar.empty() && sofar.back().open;
        if (!out.empty() && out.back() != '\n') out += eol;
        if (open) out += eol;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::ptrdiff_t w = -1;
        for (std::size_t k = 0; k < wanted.size(); ++k)
            if (target[k] == static_cast<std::ptrdiff_t>(i)) w = static_cast<std::ptrdiff_t>(k);
        if (w >= 0) {
            out.append(text.substr(copied, lines[i].begin - copied));
            // The name as the file spells it: a hand edit's spelling stays.
            out += valueLine(reading.spelled[i], *wanted[static_cast<std::size_t>(w)].second) + eol;
            copied = lines[i].end;
        }
        if (static_cast<std::ptrdiff_t>(i) == anchor && !added.empty()) {
            out.append(text.substr(copied, lines[i].end - copied));
            copied = lines[i].end;
            closeLine();
            out += added;
            added.clear();
        }
    }
    out.append(text.substr(copied));
    if (!added.empty()) {
        // No line of the key to follow: its section, at the end.
        closeLine();
        if (!reading.anyLine) out += "REGEDIT4" + eol;
        if (!keySeen) out += eol + "[" + kSettingsKey + "]" + eol;
        out += added;
    }
    return out;
}

std::vector<std::string> MemorySettings::valueNames() {
    std::vector<std::string> n;
    for (const auto& e : values) n.push_back(e.first);
    return n;
}

std::optional<RegValue> MemorySettings::read(const std::string& name) {
    for (const auto& e : values)
        if (lower(e.first) == lower(name)) return e.second;
    return std::nullopt;
}

std::string MemorySettings::update(const std::vector<SettingsUpdate>& updates) {
    std::vector<std::pair<std::string, RegValue>> next = values;
    int written = 0;
    for (const SettingsUpdate& u : updates) {
        std::optional<RegValue> v = u.value(read(u.name));
        // Worked out against the values before this save, as a store read again would be.
        if (!v) continue;
        if (!failOn.empty() && u.name == failOn) return failText;
        put(next, u.name, std::move(*v));
        ++written;
    }
    if (written == 0) return "";
    values = std::move(next);
    writes += written;
    exists = true;
    return "";
}

}  // namespace raid
