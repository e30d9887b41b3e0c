// raid-gui-monitor's command line is typed by people and written by scripts: any words
// must give either options or a reason, and the --set words either settings the E-mail
// page takes or a reason. Input: words separated by NUL bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "notify/EmailSettingsWords.h"
#include "notify/NotificationSettings.h"
#include "service/Monitor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size && words.size() < 64; ++i) {
        if (data[i] == 0) words.emplace_back();
        else words.back() += static_cast<char>(data[i]);
    }
    raid::service::MonitorOptions options;
    std::string error;
    const bool ok = raid::service::parseMonitorOptions(words, options, error);
    if (!ok && error.empty()) std::abort();  // a refusal always says why
    if (ok && options.mode == raid::service::MonitorOptions::Mode::Set && options.setWords.empty()) std::abort();
    // A watching run is on a bus; --set and --test-mail look for the service on one.
    if (ok && !options.busAddress.empty() && options.mode != raid::service::MonitorOptions::Mode::Watch &&
        options.mode != raid::service::MonitorOptions::Mode::Set &&
        options.mode != raid::service::MonitorOptions::Mode::TestMail &&
        options.mode != raid::service::MonitorOptions::Mode::Help)
        std::abort();

    raid::EmailSettingsWords step;
    std::string why;
    if (raid::parseEmailSettings(words, step, why)) {
        for (const auto& [key, value] : step.fields)
            if (key.empty() || value.size() > size) std::abort();
        if (raid::checkEmailSettings(step, why)) {
            // What is saved reads back and cannot reach the mail dialogue as a command:
            // bounded, no control character outside the contents, plain addresses, a
            // port a connection can use.
            std::size_t total = 0;
            for (const auto& [key, value] : step.fields) {
                total += value.size();
                if (value.size() > raid::kContentsLimit) std::abort();
                if (raid::hasControlCharacter(value, key.rfind("contents", 0) == 0)) std::abort();
                if (key == "port" && !value.empty() && (std::stol(value) < 1 || std::stol(value) > 65535)) std::abort();
                if (key == "addr" && !value.empty() && !raid::isPlainAddress(value)) std::abort();
                // The password record holds 15 bytes: what is taken fits whole.
                if (key == "password" && value.size() > raid::kPasswordLimit) std::abort();
                if (key == "login-name" && value.size() > raid::kLoginNameLimit) std::abort();
            }
            std::size_t given = 0;
            for (const auto& address : step.to) {
                if (address.empty()) continue;  // adds nothing
                ++given;
                total += address.size();
                if (!raid::isPlainAddress(address) || address.size() > raid::kAddressLimit) std::abort();
            }
            if (given > raid::kMaxRecipients || total > (1u << 20) / 4) std::abort();
            // The values the save gets hold exactly what was given.
            raid::SettingsEdits values;
            raid::applyEmailSettings(step, values);
            if (step.replaceList && values.working.size() != given) std::abort();
        } else if (why.empty()) {
            std::abort();
        }
    } else if (why.empty()) {
        std::abort();
    }
    return 0;
}
