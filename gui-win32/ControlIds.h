// Control names on native controls.
//
// Each native control carries its control name (app/ControlNames.h) as its control
// ID: the name's place in the list plus a base. An ID is what Win32 tools and UI
// Automation already read from a control (its AutomationId), so tests and automation
// find a control by name, in this process or another, without knowing where it is.
#pragma once

#include <string>

#include <windows.h>

namespace raid::win {

// The ID of a control name; 0 for a name not in the list.
int controlId(const std::string& name);
// The name of an ID; "" for none.
std::string controlNameOfId(int id);
// The name `hwnd` carries ("" for none).
std::string controlName(HWND hwnd);
// The first descendant of `root` (at any depth) carrying `name`; nullptr if none.
HWND findControl(HWND root, const std::string& name);

}  // namespace raid::win
