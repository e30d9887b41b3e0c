// Starts tests/notify/smtp_test_server.py (aiosmtpd) on 127.0.0.1 for one test and
// reads back what it received.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ToolRun.h"

namespace raid::testing {

// One message as the server received it.
struct ReceivedMail {
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string login, password;
    std::string data;  // the message bytes as they arrived (dots already unstuffed)
    // What Python's mail parser reads from the headers.
    std::string subject, fromName, fromAddress, to, dateSeconds;
    // What a strict reading (Python's email.policy.strict, lines of at most 998
    // octets, CR and LF only as line ends) finds wrong: empty when nothing.
    std::string defects;
    std::string text;  // the body decoded, its lines ended by "\n"
    std::string messageId;
    std::string mailOptions;  // the parameters of MAIL FROM, upper-cased ("BODY=8BITMIME")
};

inline std::string unbase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text) {
        const std::size_t v = alphabet.find(c);
        if (v == std::string::npos) continue;
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

class PythonSmtpServer {
public:
    // The interpreter that has aiosmtpd: Debian's own first (a python3 earlier on
    // PATH may be another installation without Debian's packages). "" when none.
    static std::string python() {
#ifdef _WIN32
        // Debian's interpreter does not run under Windows: there the mail goes to the
        // Windows SMTP test's own server.
        return {};
#endif
        for (const char* candidate : {"/usr/bin/python3", "python3"}) {
            const std::string probe = std::string(candidate) + " -c 'import aiosmtpd' >/dev/null 2>&1";
            if (std::system(probe.c_str()) == 0) return candidate;
        }
        return {};
    }

    // `options`: arguments after the script, e.g. {"--mode", "silent"}.
    bool start(const std::string& python, const std::vector<std::string>& options) {
        static int serial = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("raid-smtp-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(++serial));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::vector<std::string> args = {std::string(RAID_SOURCE_DIR) + "/tests/notify/smtp_test_server.py",
                                         "--port-file", (dir_ / "port").string(), "--capture",
                                         (dir_ / "capture").string(), "--transcript",
                                         (dir_ / "transcript").string()};
        args.insert(args.end(), options.begin(), options.end());
        if (!server_.start(python, args, (dir_ / "out").string(), (dir_ / "err").string(), {}, true)) return false;
        for (int i = 0; i < 200; ++i) {  // up to 10 s for the interpreter to start
            std::ifstream f(dir_ / "port");
            if (f >> port) return true;
            if (!server_.running()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Ends the server (the port is free again afterwards).
    void stop() {
        if (!server_.started()) return;
        server_.askToEnd();
        if (server_.wait(std::chrono::seconds(120)) < 0 && server_.started()) {
            server_.kill();
            server_.wait(std::chrono::seconds(120));
        }
    }

    ~PythonSmtpServer() {
        stop();
        std::error_code ignored;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
    }

    std::vector<ReceivedMail> received() const {
        std::vector<ReceivedMail> mails;
        std::ifstream f(dir_ / "capture");
        std::string line;
        while (std::getline(f, line)) {
            std::vector<std::string> fields;
            std::stringstream s(line);
            std::string field;
            while (std::getline(s, field, '\t')) fields.push_back(unbase64(field));
            fields.resize(14);
            ReceivedMail m;
            m.mailFrom = fields[0];
            std::stringstream r(fields[1]);
            while (std::getline(r, field)) m.rcptTos.push_back(field);
            m.login = fields[2], m.password = fields[3], m.data = fields[4], m.subject = fields[5];
            m.fromName = fields[6], m.fromAddress = fields[7], m.to = fields[8], m.dateSeconds = fields[9];
            m.defects = fields[10], m.text = fields[11], m.messageId = fields[12], m.mailOptions = fields[13];
            // Every message a test receives must read cleanly under the strict rules.
            EXPECT_EQ(m.defects, "") << m.data;
            mails.push_back(std::move(m));
        }
        return mails;
    }

    // The commands the server took, each "VERB 1" (inside TLS) or "VERB 0".
    std::vector<std::string> transcript() const {
        std::vector<std::string> lines;
        std::ifstream f(dir_ / "transcript");
        std::string line;
        while (std::getline(f, line)) lines.push_back(line);
        return lines;
    }

    std::uint16_t port = 0;

private:
    std::filesystem::path dir_;
    test::ChildProcess server_;
};

}  // namespace raid::testing
