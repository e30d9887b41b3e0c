// The status bar's panels and OK message boxes, as routines that report as they go use
// them (the mail client, the image loader, the upgrade's steps).
//
// The engine's implementation forwards whatever arrives off its thread to the engine
// thread, so callers never care where they run. Device failures do not come here
// directly: they are values handed to device/DeviceReport, whose presenter in app/ turns
// them into panel lines and boxes.
#pragma once

#include <string>

namespace raid {

class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void panel(int index, const std::string& text) = 0;
    // An OK box. `caption` empty = the platform's default caption ("Error").
    virtual void messageBox(const std::string& text, const std::string& caption) = 0;
};

// A reporter that drops everything (tools and tests that don't look).
class NullReporter final : public Reporter {
public:
    void panel(int, const std::string&) override {}
    void messageBox(const std::string&, const std::string&) override {}
};

}  // namespace raid
