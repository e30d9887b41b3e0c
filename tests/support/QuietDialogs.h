// A dialog port for engine tests: every box is answered OK and remembered as
// "caption:text", from whichever thread asked.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/Dialogs.h"

namespace raid::test {

struct QuietDialogs : DialogPort {
    std::mutex m;
    std::vector<std::string> shown;
    int messageBox(const std::string& text, const std::string& caption, int) override {
        std::lock_guard<std::mutex> lock(m);
        shown.push_back(caption + ":" + text);
        return Ok;
    }
    // The next file the open-file dialog gives ("" = the user cancels), and the
    // filters it was asked with.
    std::string nextFile;
    std::vector<std::string> fileFilters;
    bool chooseFile(const std::string& filter, std::string& path) override {
        std::lock_guard<std::mutex> lock(m);
        fileFilters.push_back(filter);
        path = nextFile;
        return !nextFile.empty();
    }
};

}  // namespace raid::test
