// A reporter that keeps every status-bar panel text it is given, in order, and
// drops message boxes: what the device and mail routines told the user.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "device/Reporter.h"

namespace raid::test {

using Panels = std::vector<std::pair<int, std::string>>;

class PanelLog final : public Reporter {
public:
    Panels panels;
    void panel(int index, const std::string& text) override { panels.emplace_back(index, text); }
    void messageBox(const std::string&, const std::string&) override {}
};

}  // namespace raid::test
