#include "notify/SmtpReply.h"

#include <algorithm>
#include <cctype>

#include "device/DeviceText.h"

namespace raid {
namespace {

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

std::string SmtpReply::text() const {
    std::string joined;
    for (const auto& line : lines) {
        if (!joined.empty()) joined += ' ';
        joined += line;
        // Enough for the message; no need to copy a megabyte of reply first.
        if (joined.size() > kSmtpMaxErrorText) break;
    }
    return printableSmtpText(joined);
}

int smtpReplyCode(std::string_view line) {
    const std::string_view head = line.substr(0, 3);
    if (head.empty()) return 0;
    int code = 0;
    for (const char c : head) {
        if (c < '0' || c > '9') return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

bool endsSmtpReply(std::string_view first, std::string_view line) {
    if (line.size() < 4) return true;
    if (line[3] != ' ' || first.size() < 3) return false;
    for (std::size_t i = 0; i < 3; ++i)
        if (upper(line[i]) != upper(first[i])) return false;
    return true;
}

bool readSmtpReply(TcpConnection& connection, TcpDeadline deadline, SmtpReply& reply, std::string& error) {
    reply = SmtpReply{};
    std::string line;
    if (!connection.receiveLine(line, deadline, error)) return false;
    std::size_t bytes = line.size();
    reply.lines.push_back(std::move(line));
    const bool multiLine = reply.lines.front().size() >= 4 && reply.lines.front()[3] == '-';
    while (multiLine) {
        if (reply.lines.size() >= kSmtpMaxReplyLines) {
            error = "Reply longer than " + std::to_string(kSmtpMaxReplyLines) + " lines";
            return false;
        }
        if (!connection.receiveLine(line, deadline, error)) return false;
        bytes += line.size();
        if (bytes > kSmtpMaxReplyBytes) {
            error = "Reply longer than " + std::to_string(kSmtpMaxReplyBytes) + " bytes";
            return false;
        }
        const bool last = endsSmtpReply(reply.lines.front(), line);
        reply.lines.push_back(std::move(line));
        if (last) break;
    }
    reply.code = smtpReplyCode(reply.lines.back());
    return true;
}

std::set<std::string> smtpAuthMethods(const SmtpReply& ehloReply) {
    std::set<std::string> methods;
    for (std::size_t i = 1; i < ehloReply.lines.size(); ++i) {
        std::string line = ehloReply.lines[i];
        for (char& c : line) c = upper(c);
        if (line.find("AUTH") != 4 || line.size() < 9 || (line[8] != ' ' && line[8] != '=')) continue;
        std::size_t pos = 9;
        while (pos < line.size()) {
            const std::size_t end = std::min(line.find(' ', pos), line.size());
            if (end > pos) methods.insert(line.substr(pos, end - pos));
            pos = end + 1;
        }
    }
    return methods;
}

bool smtpAnnounces(const SmtpReply& ehloReply, std::string_view keyword) {
    for (std::size_t i = 1; i < ehloReply.lines.size(); ++i) {
        const std::string& line = ehloReply.lines[i];
        if (line.size() < 4 + keyword.size()) continue;
        if (line.size() > 4 + keyword.size() && line[4 + keyword.size()] != ' ') continue;
        bool same = true;
        for (std::size_t k = 0; k < keyword.size() && same; ++k) same = upper(line[4 + k]) == keyword[k];
        if (same) return true;
    }
    return false;
}

std::string printableSmtpText(std::string_view text, std::size_t limit) {
    const bool cut = text.size() > limit;
    std::string shown;
    shown.reserve(std::min(text.size(), limit) + 3);
    for (const char c : text.substr(0, limit))
        shown += isPrintableDeviceByte(static_cast<unsigned char>(c)) ? c : ' ';
    if (cut) shown += "...";
    return shown;
}

}  // namespace raid
