// The settings file is whatever a user, an editor or a broken disk left there. Any text
// must parse without a crash, and what it yields must survive being written back: the
// written text reads back to the same values with no problem reported. A save edits the
// text in place: the edited text reads back with the saved values as set and every
// other value as it was.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/RegistryText.h"

namespace {

using namespace raid;

// Names are compared as the registry does, without regard to case.
bool sameName(std::string a, std::string b) {
    const auto lower = [](std::string& s) {
        for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    lower(a);
    lower(b);
    return a == b;
}

const RegValue* find(const RegistryText& r, const std::string& name) {
    for (const auto& [n, v] : r.values)
        if (sameName(n, name)) return &v;
    return nullptr;
}

void checkEdit(std::string_view text, const RegistryText& first) {
    // The changes: the first value the text holds, a name it may not hold, and values
    // made from the text's own bytes (line breaks and all; a string ends at a zero byte).
    std::string bytes(text.substr(0, 40));
    std::string str;
    for (char c : bytes)
        if (c != '\0') str += c;
    std::vector<std::pair<std::string, RegValue>> changes = {
        {"Fuzz_New", RegValue::sz(str)},
        {"EMailSend", RegValue::number(static_cast<std::uint32_t>(text.size()))},
    };
    if (!first.values.empty())
        changes.emplace_back(first.values.front().first, RegValue::binary({bytes.begin(), bytes.end()}));
    // A key that holds more values than a key may is refused by the save's read-back.
    if (first.values.size() + changes.size() >= 4000) return;
    const RegistryText again = parseRegistryText(editRegistryText(text, changes));
    if (!again.hasKey) std::abort();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        // Of two changes to one name the later wins.
        bool later = false;
        for (std::size_t j = i + 1; j < changes.size(); ++j)
            later = later || sameName(changes[i].first, changes[j].first);
        if (later) continue;
        const RegValue* got = find(again, changes[i].first);
        if (!got || !(*got == changes[i].second)) std::abort();
    }
    for (const auto& [name, v] : first.values) {
        bool changed = false;
        for (const auto& c : changes) changed = changed || sameName(c.first, name);
        if (changed) continue;
        const RegValue* got = find(again, name);
        if (!got || !(*got == v)) std::abort();
    }
    if (again.values.size() > first.values.size() + changes.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const RegistryText first = parseRegistryText(text);
    const std::string written = formatRegistryText(first.values);
    const RegistryText again = parseRegistryText(written);
    if (!again.hasKey || !again.problems.empty() || again.values.size() != first.values.size()) std::abort();
    for (std::size_t i = 0; i < first.values.size(); ++i) {
        if (again.values[i].first != first.values[i].first) std::abort();
        RegValue expected = first.values[i].second;
        // A string is kept up to its first zero byte.
        if (expected.type == RegType::Sz) expected.text = expected.text.substr(0, expected.text.find('\0'));
        if (!(again.values[i].second == expected)) std::abort();
    }
    checkEdit(text, first);
    return 0;
}
