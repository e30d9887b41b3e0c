// The settings in the registry: the values of one key, with their real types
// (REG_SZ, REG_DWORD, REG_BINARY), in the 64-bit view whatever the program's build.
//
// The key is read when the store is made and again by every save. A save works its
// values out against the key as it is at that moment and writes only those that
// change; when one of them cannot be written, those written before it get their
// earlier values back (and a key the save created is removed again), so a save is
// whole or not at all. Saves of several programs take turns through a machine-wide
// lock. A key this program creates is made readable and writable by the system and
// the administrators only, since it holds the scrambled mail password; the access
// rules of a key that already exists are left as they are.
//
// Values of other types (REG_EXPAND_SZ, REG_MULTI_SZ, a REG_DWORD that is not four
// bytes ...) are reported once and left alone; so is anything larger than 1 MiB.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/SettingsPort.h"

namespace raid::win32 {

// The key `subkey` under `root`; `displayName` names it in problems and errors.
std::unique_ptr<SettingsPort> makeRegistrySettingsAt(HKEY root, std::string subkey, std::string displayName);

// The access rules a created key gets, in the system's descriptor language: protected
// from inheritance, full control for SYSTEM and the Administrators group, nothing for
// anyone else.
inline constexpr char kAdminOnlyKeyAccess[] = "D:P(A;OICI;KA;;;SY)(A;OICI;KA;;;BA)";

}  // namespace raid::win32
