// Texts on the bus: D-Bus strings are UTF-8 without NUL. What a caller sends is checked
// (validUtf8) and refused when it is not; what the service sends - lines from a device
// or a file - is mended (busText). Both use the one reading of UTF-8 below.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace raid::bus {

// The length of the well-formed UTF-8 sequence at `at` in `text` (1..4), or 0 when the
// bytes there are none: NUL, a stray continuation byte, a cut sequence, an overlong
// form, a UTF-16 surrogate or a code point past U+10FFFF.
std::size_t utf8SequenceAt(std::string_view text, std::size_t at);

// Whether `text` is well-formed UTF-8 without NUL.
bool validUtf8(std::string_view text);

// `text` as a D-Bus string: bytes that are no UTF-8, and NUL, become U+FFFD.
std::string busText(std::string_view text);

}  // namespace raid::bus
