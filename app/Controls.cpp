#include "app/Controls.h"

namespace raid {

const char* propName(Prop p) {
    switch (p) {
        case Prop::Text: return "text";
        case Prop::Visible: return "visible";
        case Prop::Enabled: return "enabled";
        case Prop::Checked: return "checked";
        case Prop::Color: return "color";
        case Prop::Hint: return "hint";
        case Prop::Left: return "left";
        case Prop::Top: return "top";
        case Prop::All: return "all";
    }
    return "?";
}

std::string panelName(int index) { return "StatusBar1.Panel" + std::to_string(index); }

void Controls::declare(const std::string& name, ControlState initial) { map_[name] = std::move(initial); }

const ControlState& Controls::get(const std::string& name) const {
    static const ControlState empty;
    auto it = map_.find(name);
    return it == map_.end() ? empty : it->second;
}

void Controls::broadcastAll() {
    for (const auto& [name, state] : map_) {
        ControlChange change{name, Prop::All, state};
        for (auto& l : listeners_) l(change);
    }
}

void Controls::changed(const std::string& name, Prop prop) {
    if (listeners_.empty()) return;
    ControlChange change{name, prop, map_[name]};
    for (auto& l : listeners_) l(change);
}

#define RAID_SET(field, prop)                   \
    ControlState& c = map_[name];               \
    if (c.field == value) return;               \
    c.field = value;                            \
    changed(name, prop)

void Controls::setText(const std::string& name, const std::string& value) { RAID_SET(text, Prop::Text); }
void Controls::setVisible(const std::string& name, bool value) { RAID_SET(visible, Prop::Visible); }
void Controls::setEnabled(const std::string& name, bool value) { RAID_SET(enabled, Prop::Enabled); }
void Controls::setChecked(const std::string& name, bool value) { RAID_SET(checked, Prop::Checked); }
void Controls::setColor(const std::string& name, const std::string& value) { RAID_SET(color, Prop::Color); }
void Controls::setHint(const std::string& name, const std::string& value) { RAID_SET(hint, Prop::Hint); }

#undef RAID_SET

void Controls::setPos(const std::string& name, int left, int top) {
    ControlState& c = map_[name];
    if (c.left == left && c.top == top) return;
    const bool moved = c.left != left;
    c.left = left;
    c.top = top;
    changed(name, moved ? Prop::Left : Prop::Top);
}

}  // namespace raid
