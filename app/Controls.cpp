#include "app/Controls.h"

#include <algorithm>

namespace raid {

const char* propName(Prop p) {
    switch (p) {
        case Prop::Text: return "text";
        case Prop::Visible: return "visible";
        case Prop::Enabled: return "enabled";
        case Prop::Checked: return "checked";
        case Prop::Color: return "color";
        case Prop::Hint: return "hint";
        case Prop::Slot: return "slot";
        case Prop::Bays: return "bays";
        case Prop::Progress: return "progress";
        case Prop::Rows: return "rows";
        case Prop::Page: return "page";
        case Prop::All: return "all";
    }
    return "?";
}

Controls::Controls() {
    for (const std::string& name : names::all()) map_.emplace(name, ControlState{});
    // A control with a caption shows it from the start.
    for (const names::Caption& c : names::captions) map_[c.control].text = c.text;
}

ControlState& Controls::at(const std::string& name) {
    auto it = map_.find(name);
    if (it == map_.end()) throw UnknownControl(name);
    return it->second;
}

void Controls::declare(const std::string& name, ControlState initial) { at(name) = std::move(initial); }

const ControlState& Controls::get(const std::string& name) const {
    auto it = map_.find(name);
    if (it == map_.end()) throw UnknownControl(name);
    return it->second;
}

void Controls::broadcastAll() {
    for (const auto& [name, state] : map_) {
        ControlChange change{name, Prop::All, state};
        for (auto& l : listeners_) l(change);
    }
}

void Controls::changed(const std::string& name, Prop prop) {
    if (listeners_.empty()) return;
    ControlChange change{name, prop, at(name)};
    for (auto& l : listeners_) l(change);
}

#define RAID_SET(field, prop)                   \
    ControlState& c = at(name);                 \
    if (c.field == value) return;               \
    c.field = value;                            \
    changed(name, prop)

void Controls::setText(const std::string& name, const std::string& value) { RAID_SET(text, Prop::Text); }
void Controls::setVisible(const std::string& name, bool value) { RAID_SET(visible, Prop::Visible); }
void Controls::setEnabled(const std::string& name, bool value) { RAID_SET(enabled, Prop::Enabled); }
void Controls::setChecked(const std::string& name, bool value) { RAID_SET(checked, Prop::Checked); }
void Controls::setColor(const std::string& name, const std::string& value) { RAID_SET(color, Prop::Color); }
void Controls::setHint(const std::string& name, const std::string& value) { RAID_SET(hint, Prop::Hint); }
void Controls::setBays(const std::string& name, const BaysView& value) { RAID_SET(bays, Prop::Bays); }
void Controls::setRows(const std::string& name, const std::vector<std::string>& value) { RAID_SET(rows, Prop::Rows); }

void Controls::setProgress(const std::string& name, std::uint32_t current, std::uint32_t maximum) {
    const Progress value{std::min(current, maximum), maximum};
    RAID_SET(progress, Prop::Progress);
}

void Controls::setPage(const std::string& name, int index, const std::string& pageName) {
    const PageChoice value{index, pageName};
    RAID_SET(page, Prop::Page);
}

#undef RAID_SET

void Controls::setSlot(const std::string& name, int slot) {
    ControlState& c = at(name);
    if (c.slot == slot) return;
    c.slot = slot;
    changed(name, Prop::Slot);
}

}  // namespace raid
