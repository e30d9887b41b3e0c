// The program's user-visible outputs as text lines, for runs without a window
// (raid-gui-sim --headless and raid-gui-monitor).
//
// Every output is one line: seconds since the start, the control's name and the text
// (or a typed view in words: the enclosure picture, "value/maximum" of a progress bar,
// a grid's rows one per line, a page's name or number), line breaks written as \n. Message boxes become lines of their own and are answered
// OK; alerts and mail outcomes get lines too. The password never reaches a line, only
// its length.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/Dialogs.h"
#include "platform/Scheduler.h"

namespace raid {

class MainForm;

// Escapes line breaks as \n and \r, and every other control character as \xNN, so that
// no text from a device or a server can end a line early or steer a terminal.
std::string escapeText(const std::string& text);

class HeadlessOutput final : public DialogPort {
public:
    // `out` receives the lines as they happen (may be null); `alerts` receives the alert
    // lines once more (may be null). With `keepLines` every line is also kept for
    // lines() (tests and tools; a service running for months keeps none).
    HeadlessOutput(Scheduler& scheduler, std::ostream* out, std::ostream* alerts = nullptr, bool keepLines = true);

    // Prints the changes of the control model that a user reads.
    void watchControls(Controls& controls);
    // Prints the form's alerts and mail outcomes.
    void watchForm(MainForm& form);

    // Emits one line (the time prefix is added).
    void output(const std::string& control, const std::string& text);
    int messageBox(const std::string& text, const std::string& caption, int buttons) override;

    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string> linesWith(const std::string& needle) const;
    // Message boxes shown so far.
    std::size_t boxes() const { return boxes_; }
    // Whether every line so far reached `out` (false once a write failed).
    bool written() const { return !out_ || out_->good(); }

private:
    Scheduler& scheduler_;
    std::ostream* out_;
    std::ostream* alerts_;
    bool keep_;
    std::size_t boxes_ = 0;
    std::vector<std::string> lines_;
};

}  // namespace raid
