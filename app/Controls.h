// The engine's picture of the window: every control by its name, with the
// properties renderers draw (text, visible, enabled, checked, ...), captions included,
// and the typed views of the controls that show more than a text: the enclosure
// picture, a progress bar, a grid's rows and the page a page book shows.
//
// The engine is the only writer, and it only writes: what it needs to know (which
// devices are watched, what the start-up text and the status bar say) it keeps in its
// own fields and publishes here. Whoever shows the window - the Qt window, or the
// headless runner that prints each change - listens to the changes and renders them;
// the getters are for them, the scenario runner's simulated user and tests (a test
// fails when engine code reads a property back).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ControlNames.h"
#include "monitor/StatusBays.h"

namespace raid {

// `All` is a resend of a control's whole state (after start-up, so a window that
// attaches late can catch up). `Slot` is the navigation slot a page image sits in
// (the window decides where a slot is on the screen). `Bays`, `Progress`, `Rows` and
// `Page` are the typed views below.
enum class Prop { Text, Visible, Enabled, Checked, Color, Hint, Slot, Bays, Progress, Rows, Page, All };

const char* propName(Prop p);

// A progress bar stands at `value` of `maximum` (never past it); a maximum of 0 has
// nothing to count.
struct Progress {
    std::uint32_t value = 0;
    std::uint32_t maximum = 0;
    friend bool operator==(const Progress&, const Progress&) = default;
};

// The page a page book shows, by its number; `name` is the page's name where the
// engine calls it by one (the output lines show it instead of the number).
struct PageChoice {
    int index = -1;  // -1: none chosen yet
    std::string name;
    friend bool operator==(const PageChoice&, const PageChoice&) = default;
};

struct ControlState {
    std::string text;
    std::string color;
    std::string hint;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    int slot = -1;  // navigation slot, -1 = none
    BaysView bays;                  // Image0_Bays
    Progress progress;              // ProgressBar1
    std::vector<std::string> rows;  // a grid, one entry per row
    PageChoice page;                // Notebook1, Notebook2
};

// A control name that is not in the list (app/ControlNames.h).
struct UnknownControl : std::invalid_argument {
    explicit UnknownControl(const std::string& name) : std::invalid_argument("unknown control " + name) {}
};

struct ControlChange {
    std::string control;
    Prop prop;
    ControlState state;  // the control's state after the change
};

// Every control of names::all() exists from the start with a default state; any
// other name throws UnknownControl.
class Controls {
public:
    Controls();
    using Listener = std::function<void(const ControlChange&)>;

    // Listeners are called synchronously, on the engine thread, after each change.
    void addListener(Listener listener) { listeners_.push_back(std::move(listener)); }

    void setText(const std::string& name, const std::string& text);
    void setVisible(const std::string& name, bool visible);
    void setEnabled(const std::string& name, bool enabled);
    void setChecked(const std::string& name, bool checked);
    void setColor(const std::string& name, const std::string& color);
    void setHint(const std::string& name, const std::string& hint);
    void setSlot(const std::string& name, int slot);
    void setBays(const std::string& name, const BaysView& view);
    // A value past the maximum is kept as the maximum.
    void setProgress(const std::string& name, std::uint32_t current, std::uint32_t maximum);
    void setRows(const std::string& name, const std::vector<std::string>& rows);
    void setPage(const std::string& name, int index, const std::string& pageName = {});

    const ControlState& get(const std::string& name) const;
    static bool has(const std::string& name) { return names::known(name); }
    const std::string& text(const std::string& name) const { return get(name).text; }
    bool visible(const std::string& name) const { return get(name).visible; }
    bool enabled(const std::string& name) const { return get(name).enabled; }
    bool checked(const std::string& name) const { return get(name).checked; }

    // Sets a control's initial state (no notification).
    void declare(const std::string& name, ControlState initial = {});
    const std::map<std::string, ControlState>& all() const { return map_; }
    // Notifies every control's whole state (Prop::All).
    void broadcastAll();

private:
    void changed(const std::string& name, Prop prop);
    ControlState& at(const std::string& name);

    std::map<std::string, ControlState> map_;
    std::vector<Listener> listeners_;
};

// Status bar panel names: "StatusBar1.Panel0" .. "StatusBar1.Panel4".
inline std::string panelName(int index) { return names::panel(index); }

}  // namespace raid
