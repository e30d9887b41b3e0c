// What the window hands to the engine, and the user-action entry points it uses.
//
// Typing into an edit box and choosing a grid row have no fixed entry point on the
// engine yet. The window calls `EditChange(name, text)` / `SelectCell(name, row)` when
// the engine offers them; until then an edit goes into the engine's own picture of
// the control (on the engine thread, where the handlers read it back), and a grid
// row choice is not forwarded.
#pragma once

#include <functional>
#include <string>

#include "app/MainForm.h"

namespace raid::gui {

using EngineAction = std::function<void(MainForm&)>;
// Queues an action for the engine thread (EngineHost::post in the program).
using ActionPoster = std::function<void(EngineAction)>;

template <class Form>
void forwardEdit(Form& form, const std::string& control, const std::string& text) {
    if constexpr (requires { form.EditChange(control, text); })
        form.EditChange(control, text);
    else
        form.controls().setText(control, text);
}

template <class Form>
void forwardSelectCell(Form& form, const std::string& control, int row) {
    if constexpr (requires { form.SelectCell(control, row); }) form.SelectCell(control, row);
}

}  // namespace raid::gui
