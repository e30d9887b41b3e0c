// The settings file is whatever a user, an editor or a broken disk left there. Any text
// must parse without a crash, and what it yields must survive being written back: the
// written text reads back to the same values with no problem reported.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/RegistryText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace raid;
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
    return 0;
}
