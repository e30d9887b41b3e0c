// What the program's windows share: the DPI a window is shown at, design units scaled
// to it, and the plain window class of the event log and history windows.
#pragma once

#include <windows.h>

namespace raid::win {

// The DPI of the window's monitor (GetDpiForWindow, Windows 10 1607 on, looked up at
// run time so that Windows 7 still starts); the screen's before that; 96 if neither says.
UINT windowDpi(HWND hwnd);

// A length in 96-DPI design units at `scale` (DPI / 96).
int px(int design, double scale);

// Registers, once per name, a window class whose procedure each window replaces as soon
// as it knows its object: an arrow cursor on a dialog-coloured background.
void registerPlainClass(const wchar_t* name);

}  // namespace raid::win
