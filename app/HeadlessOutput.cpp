#include "app/HeadlessOutput.h"

#include <cstdio>

#include "app/MainForm.h"

namespace raid {

namespace {

// Characters of UTF-8 text: every byte but those that continue a character.
std::size_t characters(const std::string& text) {
    std::size_t n = 0;
    for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

}  // namespace

std::string escapeText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

HeadlessOutput::HeadlessOutput(Scheduler& scheduler, std::ostream* out, std::ostream* alerts, bool keepLines)
    : scheduler_(scheduler), out_(out), alerts_(alerts), keep_(keepLines) {}

void HeadlessOutput::output(const std::string& control, const std::string& text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.3f", static_cast<double>(scheduler_.nowUs()) / 1e6);
    std::string line = std::string(stamp) + " " + control + " " + escapeText(text);
    if (out_) *out_ << line << '\n' << std::flush;
    if (keep_) lines_.push_back(std::move(line));
}

std::vector<std::string> HeadlessOutput::linesWith(const std::string& needle) const {
    std::vector<std::string> found;
    for (const auto& l : lines_)
        if (l.find(needle) != std::string::npos) found.push_back(l);
    return found;
}

int HeadlessOutput::messageBox(const std::string& text, const std::string& caption, int) {
    ++boxes_;
    output("MessageBox[" + (caption.empty() ? std::string("Error") : caption) + "]", text);
    return DialogPort::Ok;
}

void HeadlessOutput::watchControls(Controls& controls) {
    controls.addListener([this](const ControlChange& change) {
        const ControlState& s = change.state;
        switch (change.prop) {
            case Prop::Text:
                output(change.control, change.control == names::Edit8 ? std::string(characters(s.text), '*') : s.text);
                break;
            case Prop::Visible: output(change.control, s.visible ? "shown" : "hidden"); break;
            case Prop::Enabled: output(change.control, s.enabled ? "enabled" : "disabled"); break;
            case Prop::Checked: output(change.control, s.checked ? "checked" : "unchecked"); break;
            case Prop::Color: output(change.control, "color=" + s.color); break;
            case Prop::Bays: output(change.control, baysWords(s.bays)); break;
            case Prop::Progress:
                output(change.control, std::to_string(s.progress.value) + "/" + std::to_string(s.progress.maximum));
                break;
            case Prop::Rows: {
                std::string rows;
                for (std::size_t i = 0; i < s.rows.size(); ++i) rows += (i ? "\n" : "") + s.rows[i];
                output(change.control, rows);
                break;
            }
            case Prop::Page: output(change.control, s.page.name.empty() ? std::to_string(s.page.index) : s.page.name); break;
            default: break;  // positions and hints are not outputs a user reads
        }
    });
}

void HeadlessOutput::watchForm(MainForm& form) {
    MainForm* f = &form;
    form.onAlertRaised = [this, f](int kind, int device, int port) {
        std::string text;
        for (const auto& l : f->alerts().AlertInfoLines) text += (text.empty() ? "" : "\n") + l;
        const std::string control = "Alert[kind=" + std::to_string(kind) + " device=" + std::to_string(device) +
                                    " port=" + std::to_string(port) + "]";
        output(control, text);
        if (alerts_) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "%.3f", static_cast<double>(scheduler_.nowUs()) / 1e6);
            *alerts_ << stamp << ' ' << control << ' ' << escapeText(text) << '\n' << std::flush;
        }
    };
    form.onMail = [this](const OutgoingMail& mail, const SmtpResult& result, bool retry) {
        std::string to;
        for (const auto& r : mail.settings.recipients) to += (to.empty() ? "" : ",") + r;
        std::string outcome = result.sent ? "sent" : "failed: " + result.error;
        if (result.sent && !result.refused.empty()) outcome += ", " + smtpRefusalsText("not to ", result.refused);
        if (!result.sent || !result.refused.empty()) outcome += retry ? " (tried again later)" : " (given up)";
        output("Mail[kind=" + std::to_string(mail.kind) + " to=" + to + " attempt=" + std::to_string(mail.attempt) + "]",
               mail.message.subject + " -> " + outcome);
    };
}

}  // namespace raid
