// What assistive technology is told about the window's controls, for every window
// the program has (the Qt window and the native Windows one): the role and name of
// each control that acts when clicked, the key that reaches a page from anywhere, and
// the enclosure picture put into words.
//
// The pictures used as buttons carry their captions only as pixels; these are the
// same words as text. Kept free of any toolkit so both windows say the same thing.
#pragma once

#include <string>

#include "monitor/StatusBays.h"

namespace raid::access {

enum class Role {
    None,        // not described here (labels speak their own text)
    Button,      // a picture that acts as a push button
    PageTab,     // a picture that chooses a page or a device
    Graphic,     // the enclosure picture
    CheckBox,
    Edit,
    ComboBox,
    Table,       // the recipient lists
    ProgressBar,
};

struct Description {
    Role role = Role::None;
    std::string name;      // what a screen reader reads for the control
    char mnemonic = '\0';  // with Alt: reaches the control's page from anywhere ('\0' = none)
};

// The description of the control with this name (Role::None for the others).
Description describe(const std::string& control);

// The enclosure picture in words: each bay, then the work between them, e.g.
//   "Drive 1: failed. Drive 2: present. Rebuilding drive 1 from drive 2, 37 %."
std::string baysText(const BaysView& view);

// The bays' health alone (what an owner must be told at once when it changes): the
// same sentence without the work's progress, so a rising percentage is not announced.
std::string baysHealth(const BaysView& view);

}  // namespace raid::access
