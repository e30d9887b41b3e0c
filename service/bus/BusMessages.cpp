#include "service/bus/BusMessages.h"

#include <cstring>
#include <systemd/sd-bus.h>

#include "service/bus/BusText.h"

namespace raid::bus {

namespace {

int readText(sd_bus_message* m, std::string_view& out) {
    const char* s = nullptr;
    const int r = sd_bus_message_read_basic(m, 's', &s);
    if (r <= 0 || !s) return r < 0 ? r : -EBADMSG;
    out = std::string_view(s, strnlen(s, kMaxArgBytes + 1));
    return 0;
}

int appendFlag(sd_bus_message* m, bool b) {
    const int v = b;
    return sd_bus_message_append_basic(m, 'b', &v);
}

}  // namespace

int appendText(sd_bus_message* m, const std::string& s) {
    const std::string t = busText(s);
    return sd_bus_message_append_basic(m, 's', t.c_str());
}

int appendTexts(sd_bus_message* m, const std::vector<std::string>& list) {
    int r = sd_bus_message_open_container(m, 'a', "s");
    for (std::size_t i = 0; r >= 0 && i < list.size(); ++i) r = appendText(m, list[i]);
    return r < 0 ? r : sd_bus_message_close_container(m);
}

int readArguments(sd_bus_message* m, const char* signature, std::vector<BusArg>& out) {
    for (const char* t = signature; *t; ++t) {
        BusArg a;
        a.type = *t;
        int r = 0;
        if (*t == 's') {
            r = readText(m, a.text);
        } else if (*t == 'o') {
            const char* p = nullptr;
            r = sd_bus_message_read_basic(m, 'o', &p);
            if (r > 0 && p) a.text = std::string_view(p, strnlen(p, kMaxArgBytes + 1));
            else if (r >= 0) r = -EBADMSG;
        } else if (*t == 'h') {
            int fd = -1;
            r = sd_bus_message_read_basic(m, 'h', &fd);
            // The message keeps the descriptor: it is the caller's until the reply.
            a.number = static_cast<std::uint32_t>(fd);
        } else if (*t == 'b') {
            int v = 0;
            r = sd_bus_message_read_basic(m, 'b', &v);
            a.number = v != 0;
        } else if (*t == 'u') {
            r = sd_bus_message_read_basic(m, 'u', &a.number);
        } else if (*t == 'a' && t[1] == 's') {
            ++t;
            r = sd_bus_message_enter_container(m, 'a', "s");
            // One item past the bound is enough to refuse the list.
            while (r >= 0 && a.list.size() <= kMaxListItems) {
                std::string_view item;
                const int k = sd_bus_message_at_end(m, 0);
                if (k != 0) {
                    r = k < 0 ? k : 0;
                    break;
                }
                r = readText(m, item);
                if (r >= 0) a.list.push_back(item);
            }
            if (r >= 0 && a.list.size() <= kMaxListItems) r = sd_bus_message_exit_container(m);
        } else {
            return -EINVAL;
        }
        if (r < 0) return r;
        out.push_back(std::move(a));
        if (out.back().list.size() > kMaxListItems) return 0;  // refused by the decoding
    }
    return 0;
}

int appendMailValues(sd_bus_message* m, const SettingsEdits& v) {
    int r = 0;
    for (std::size_t i = 0; r >= 0 && i < 6; ++i) r = appendText(m, v.fields[i]);
    if (r >= 0) r = appendText(m, v.loginName);
    if (r >= 0) r = appendFlag(m, v.loginOn);
    if (r >= 0) r = appendFlag(m, v.noMailKind1);
    if (r >= 0) r = appendFlag(m, v.noMailKind2);
    if (r >= 0) r = sd_bus_message_append_basic(m, 'u', &v.security);
    if (r >= 0) r = appendTexts(m, v.working);
    if (r >= 0) r = appendTexts(m, {v.subject[0], v.subject[1]});
    if (r >= 0) r = appendTexts(m, {v.contents[0], v.contents[1]});
    return r;
}

int appendMailAnswer(sd_bus_message* reply, BusMethod method, const MailAnswer& a) {
    int r = 0;
    switch (method) {
        case BusMethod::saveMailSettings:
            r = appendFlag(reply, a.saved);
            if (r >= 0) r = appendText(reply, a.problem);
            [[fallthrough]];
        case BusMethod::getMailSettings:
            return r < 0 ? r : appendMailValues(reply, a.values);
        case BusMethod::setAlertCommand:
            r = appendFlag(reply, a.saved);
            return r < 0 ? r : appendText(reply, a.problem);
        case BusMethod::sendTestMail:
            r = appendFlag(reply, a.sent);
            if (r >= 0) r = appendText(reply, a.sendError);
            return r < 0 ? r : appendTexts(reply, a.refused);
        default:
            return -EINVAL;
    }
}

}  // namespace raid::bus
