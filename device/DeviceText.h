// Texts the enclosure hands us (drive models and serials, firmware revisions, the
// enclosure model) end up in the day log, the window, alert mails and output lines.
// They are device data and may hold anything: a model with CR LF in it would start a
// genuine-looking line of its own in the day log, and an ESC would reach a terminal.
// Device strings are ASCII by definition, so every byte outside printable ASCII is
// shown as a blank; printable text stays byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace raid {

// 0x20..0x7E: the bytes a device text may show as they are.
constexpr bool isPrintableDeviceByte(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// The text of a device string field. A zero byte ends it (controllers pad short texts
// with zeros or with blanks); every other byte that is not printable ASCII - control
// characters, DEL, anything at or above 0x80 - becomes a blank, so the text keeps its
// width and stays on one line.
std::string printableDeviceText(std::string_view raw);

}  // namespace raid
