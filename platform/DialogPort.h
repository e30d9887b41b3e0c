// Modal message boxes, behind a port like every other way out of the core.
#pragma once

#include <string>

namespace raid {

// Modal message boxes. The call blocks the engine until the user has answered, the
// way a modal box blocks the window's thread; it returns the button pressed.
class DialogPort {
public:
    enum Button { Ok = 1, Cancel = 2, Yes = 6, No = 7 };
    enum Buttons { OkOnly = 0, OkCancel = 1, YesNo = 4 };
    virtual ~DialogPort() = default;
    // `caption` empty = the platform's default caption, shown as "Error".
    virtual int messageBox(const std::string& text, const std::string& caption, int buttons) = 0;
    // The open-file dialog, modal like a box: true with `path` when the user chose a
    // file. `filter` pairs names and patterns with "|": "Binary code (*.bin)|*.bin|...".
    // A front end without one never chooses.
    virtual bool chooseFile(const std::string& filter, std::string& path) {
        (void)filter;
        (void)path;
        return false;
    }
};

}  // namespace raid
