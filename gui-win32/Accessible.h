// What screen readers and UI Automation learn about the native window's controls.
//
// The pictures used as buttons, the page pictures, the fan panel and the enclosure
// picture are owner-drawn: without help they are unnamed buttons and blank windows.
// Each named control answers WM_GETOBJECT with an IAccessible that takes the standard
// one's answers and puts in the role, name, state, shortcut and description from
// app/AccessibleText, the same words the Qt window gives. UI Automation reads it
// through its MSAA bridge, with the control ID as the AutomationId.
#pragma once

#include <windows.h>

#include "monitor/StatusBays.h"

namespace raid::win {

// Gives `control`, a control of the main window carrying a control name, its
// description for assistive technology. Controls without one are left alone.
void makeAccessible(HWND control);

// The enclosure picture changed from `before` to `after`: its words changed, and a
// change of the drives' health is raised as an alert, so that it is read out at once.
void announceBays(HWND bays, const BaysView& before, const BaysView& after);

// A page or device picture was chosen or left: its selected state changed.
void announceSelection(HWND image);

}  // namespace raid::win
