// The decoding of a bus method's arguments, and the texts the service puts on the bus.
// Input: a byte picking the member, a signature up to the first NUL, then strings
// separated by NUL. Whatever comes, a call that passes names a known method, its
// signature is the method's own, and a day is six digits of a calendar date; every
// text made for the bus is UTF-8 without NUL and stays as it is when made again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "service/bus/BusArgs.h"
#include "service/bus/BusService.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool plainUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c == 0 ? 0 : c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kMembers[] = {"GetDayLog", "GetOlderDayLog", "ListDayLogs", "Frobnicate", ""};
    const std::string_view member = kMembers[data[0] % 5];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t nul = rest.find('\0', at);
        parts.push_back(rest.substr(at, nul == std::string_view::npos ? std::string_view::npos : nul - at));
        if (nul == std::string_view::npos) break;
        at = nul + 1;
    }
    const std::string_view signature = parts.front();
    const std::vector<std::string_view> strings(parts.begin() + 1, parts.end());
    std::string error;
    const auto call = raid::bus::decodeCall(member, signature, strings, error);
    if (call) {
        const char* wanted = raid::bus::methodSignature(member);
        check(wanted && signature == wanted);
        if (call->method == raid::bus::BusMethod::getOlderDayLog) {
            check(raid::bus::validDayName(call->day));
            for (char c : call->day) check(c >= '0' && c <= '9');
        } else {
            check(call->day.empty());
        }
    } else {
        check(!error.empty());
    }
    const std::string text = raid::bus::busText(std::string(rest));
    check(plainUtf8(text));
    check(raid::bus::busText(text) == text);
    return 0;
}
