// The decoding of a bus method's arguments, and the texts the service puts on the bus.
// Input: a byte picking the member, a signature up to the first NUL, then arguments
// separated by NUL. Whatever comes, a call that passes names a known method, its
// signature is the method's own, a day is six digits of a calendar date, and an
// upgrade names one enclosure object exactly and a descriptor; every
// text made for the bus is UTF-8 without NUL and stays as it is when made again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "notify/AlertProgram.h"
#include "service/bus/BusArgs.h"
#include "service/bus/BusState.h"
#include "service/bus/BusText.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kMembers[] = {"GetDayLog",       "GetOlderDayLog",   "ListDayLogs", "GetMailSettings",
                                           "SaveMailSettings", "SendTestMail",     "StartUpgrade", "WatchDayLog",
                                           "UnwatchDayLog",    "SetAlertCommand",  "Frobnicate", ""};
    const std::string_view member = kMembers[data[0] % 12];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t nul = rest.find('\0', at);
        parts.push_back(rest.substr(at, nul == std::string_view::npos ? std::string_view::npos : nul - at));
        if (nul == std::string_view::npos) break;
        at = nul + 1;
    }
    const std::string_view signature = parts.front();
    // Each part after the signature is an argument of the signature's next type: a
    // boolean or number from its first bytes, a list split at 0x01.
    std::vector<raid::bus::BusArg> args;
    std::size_t t = 0;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::string_view p = parts[i];
        const char type = t < signature.size() ? signature[t] : 's';
        t += type == 'a' ? 2 : 1;
        if (type == 'b' || type == 'u' || type == 'h') {
            std::uint32_t n = 0;
            for (std::size_t k = 0; k < p.size() && k < 4; ++k) n = n << 8 | static_cast<unsigned char>(p[k]);
            args.push_back(type == 'b'   ? raid::bus::BusArg::flag(n & 1)
                           : type == 'h' ? raid::bus::BusArg::descriptor(static_cast<int>(n))
                                         : raid::bus::BusArg::unsignedNumber(n));
            if (type == 'b' && p.size() > 1) args.back().number = n;  // a reader never gives this; refused
        } else if (type == 'a') {
            std::vector<std::string_view> list;
            for (std::size_t at = 0;;) {
                const std::size_t sep = p.find('\x01', at);
                list.push_back(p.substr(at, sep == std::string_view::npos ? std::string_view::npos : sep - at));
                if (sep == std::string_view::npos) break;
                at = sep + 1;
            }
            args.push_back(raid::bus::BusArg::strings(std::move(list)));
        } else if (type == 'o') {
            args.push_back(raid::bus::BusArg::path(p));
        } else {
            args.emplace_back(p);
        }
    }
    std::string error;
    const auto call = raid::bus::decodeCall(member, signature, args, error);
    if (call) {
        const char* wanted = raid::bus::methodSignature(member);
        check(wanted && signature == wanted);
        if (call->method == raid::bus::BusMethod::getOlderDayLog) {
            check(raid::bus::validDayName(call->day));
            for (char c : call->day) check(c >= '0' && c <= '9');
        } else {
            check(call->day.empty());
        }
        if (call->method == raid::bus::BusMethod::startUpgrade) {
            // The enclosure is one object's name exactly, the image a descriptor.
            check(call->slot >= 0 && call->slot <= 99 && call->imageFd >= 0);
            check(raid::bus::enclosureSlot(std::string(raid::bus::kEnclosurePrefix) + "/drive" +
                                           std::to_string(call->slot)) == call->slot);
        } else {
            check(call->slot == -1 && call->imageFd == -1);
        }
        if (call->method == raid::bus::BusMethod::setAlertCommand) {
            // Root runs what it names: an absolute path of bounded length, no control
            // character, no "." or ".." step; or nothing.
            const std::string& p = call->alertCommand;
            check(p.empty() || (p[0] == '/' && p.size() <= raid::kAlertCommandLimit && raid::bus::validUtf8(p)));
            check(!raid::hasControlCharacter(p) && p.find("/../") == std::string::npos &&
                  p.find("/./") == std::string::npos);
            check(raid::alertCommandRefusal(p).empty());
        } else {
            check(call->alertCommand.empty());
        }
        if (call->method == raid::bus::BusMethod::saveMailSettings) {
            // Every text is UTF-8 and bounded, the lists are counted, the choice in range.
            const raid::SettingsEdits& e = call->mail;
            for (const std::string& f : e.fields) check(raid::bus::validUtf8(f) && f.size() <= 1024);
            check(e.working.size() <= raid::kMaxRecipients && e.security <= raid::kSecurityTls);
            for (const std::string& r : e.working) check(raid::bus::validUtf8(r) && r.size() <= 1024);
            for (const std::string& c : e.contents) check(raid::bus::validUtf8(c) && c.size() <= raid::kContentsLimit);
            check(call->newPassword || e.fields[raid::kPassword].empty());
        }
    } else {
        check(!error.empty());
    }
    const std::string text = raid::bus::busText(std::string(rest));
    check(raid::bus::validUtf8(text));
    check(raid::bus::busText(text) == text);
    return 0;
}
