// The text form of one registry key, as Windows' registry editor exports it:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\QX_RAID_GUI]
//   "Port"="25"
//   "EMailSend"=dword:00000000
//   "ProductID"=hex:3c,9a,...
//
// Strings escape "\" and the double quote with a backslash; a string that holds a line
// break or a zero byte is written as hex(1): with its bytes and a closing zero, so every
// value stays on its line. Reading accepts what a hand edit or the registry editor may
// produce: either header, ";" comments, blank lines, continued hex lines (a trailing
// "\" on a hex value's line goes on with the next line; on any other line, a comment
// or a string, it is just a character), names in any case for the key,
// hex(1)/hex(4)/hex(3)/hex(0) typed values, and "name"=- for a deleted value. Anything else is a problem reported with its line
// number; the rest of the file is still read. A later line for the same name wins, as
// on import.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SettingsPort.h"

namespace raid {

inline constexpr char kSettingsKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QX_RAID_GUI";

struct RegistryText {
    bool hasKey = false;  // the key's section is in the text
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::string> problems;  // "line N: what is wrong"
};

RegistryText parseRegistryText(std::string_view text);
std::string formatRegistryText(const std::vector<std::pair<std::string, RegValue>>& values);
// `text` with `changes` made and every other byte as it was: a value's last line (the
// one that decides it, even when it cannot be read) takes the new value; a value the
// text does not hold goes after the last line of the key. Comments, the lines of other
// keys and lines that cannot be read stay as they stand, so a hand edit is never lost.
std::string editRegistryText(std::string_view text, const std::vector<std::pair<std::string, RegValue>>& changes);

}  // namespace raid
