// raid-gui.exe: the window on the real drives of this PC (Windows). The engine runs in
// this process, beside the window, on the Windows ports.
//
// Placeholder until the native front end lands: the window on the real platform.
#include <memory>

#include "app/EngineHost.h"
#include "app/MainForm.h"
#include "gui-win32/WinApp.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    return 0;
}
