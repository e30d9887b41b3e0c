#include "service/bus/BusText.h"

namespace raid::bus {

std::size_t utf8SequenceAt(std::string_view s, std::size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    const std::size_t n = c == 0                   ? 0
                          : c < 0x80               ? 1
                          : c >= 0xC2 && c <= 0xDF ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || at + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[at + k]) & 0xC0) != 0x80) return 0;
    if (n >= 3) {
        const auto d = static_cast<unsigned char>(s[at + 1]);
        // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
        if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
            return 0;
    }
    return n;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceAt(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string busText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceAt(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(s.substr(i, n));
        i += n;
    }
    return out;
}

}  // namespace raid::bus
