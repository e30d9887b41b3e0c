// Linux programs as peers of the Windows tests under Wine: the aiosmtpd server of
// tests/notify/smtp_test_server.py and the openssl tool for certificates.
//
// Wine starts a Linux executable handed to CreateProcess, but the handle it returns
// can neither be waited for nor terminated. So every program runs inside a small
// shell script that reports through files in a folder both sides see (/tmp/..., which
// is Z:\tmp\... to the Windows side) and that ends its program when the test asks for
// it or when the test process is gone.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace raid::testing {

// The Linux process id of this Wine process: what /proc/self is, read through drive Z:.
inline std::string unixPidOfThisProcess() {
    std::ifstream stat("Z:\\proc\\self\\stat");
    std::string pid;
    stat >> pid;
    return pid;
}

// A folder under /tmp, by its Linux and its Windows name. Named after the Linux process
// id: Windows process ids repeat across Wine prefixes running side by side.
class UnixFolder {
public:
    UnixFolder() {
        static int serial = 0;
        unix_ = "/tmp/raid-win-" + unixPidOfThisProcess() + "-" + std::to_string(++serial);
        std::error_code ignored;
        std::filesystem::remove_all(win(""), ignored);
        std::filesystem::create_directories(win(""), ignored);
    }
    ~UnixFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(win(""), ignored);
    }
    UnixFolder(const UnixFolder&) = delete;
    UnixFolder& operator=(const UnixFolder&) = delete;

    std::string unixPath(const std::string& name) const { return name.empty() ? unix_ : unix_ + "/" + name; }
    // Wine's drive Z: is the Linux root.
    std::string win(const std::string& name) const {
        std::string path = "Z:" + unixPath(name);
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }
    bool exists(const std::string& name) const { return ::GetFileAttributesA(win(name).c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string read(const std::string& name) const {
        std::ifstream f(win(name), std::ios::binary);
        std::stringstream text;
        text << f.rdbuf();
        return text.str();
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(win(name), std::ios::binary) << text;
    }

private:
    std::string unix_;
};

// Polls `done` until it holds or `bound` passes.
template <class Done>
bool waitUntil(Done done, std::chrono::seconds bound = std::chrono::seconds(120)) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts `/bin/sh` on `body`, written to `folder`/`name`; false when Wine would not.
inline bool startShell(const UnixFolder& folder, const std::string& name, const std::string& body) {
    folder.write(name, "PATH=/usr/bin:/bin\nexport PATH\nunset SSL_CERT_FILE SSL_CERT_DIR\ncd " + folder.unixPath("") +
                           " || exit 1\n" + body + "\n");
    std::string command = "/bin/sh " + folder.unixPath(name);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hThread) ::CloseHandle(process.hThread);
    if (process.hProcess) ::CloseHandle(process.hProcess);
    return true;
}

// Runs `body` in a shell to its end; its exit status, or -1 when it did not run or end.
inline int runShell(const UnixFolder& folder, const std::string& name, const std::string& body) {
    const std::string rc = name + ".rc";
    if (!startShell(folder, name, "(\n" + body + "\n) >" + name + ".log 2>&1\necho $? >" + rc + ".tmp && mv " + rc +
                                      ".tmp " + rc))
        return -1;
    if (!waitUntil([&] { return folder.exists(rc); })) return -1;
    return std::stoi("0" + folder.read(rc));
}

// Whether the Linux side has Debian's python3 with aiosmtpd.
inline bool haveAiosmtpd() {
    UnixFolder folder;
    return runShell(folder, "probe", "/usr/bin/python3 -c 'import aiosmtpd'") == 0;
}

// A certificate authority and server certificates made with the openssl tool: "good"
// (127.0.0.1 and localhost), "other" (another host name), "expired", the self-signed "self".
inline bool makeTestPki(const UnixFolder& folder) {
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    folder.write("ca.cnf", "[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\n"
                           "serial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                           "[any]\ncommonName = supplied\n"
                           "[local]\nsubjectAltName = IP:127.0.0.1,DNS:localhost\n"
                           "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n"
                           "[other]\nsubjectAltName = DNS:mail.other.example\n"
                           "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n");
    folder.write("index.txt", "");
    folder.write("serial", "1000\n");
    std::string script = "set -e\nopenssl req -x509" + key +
                         " -keyout ca.key -out ca.pem -days 30 -subj '/CN=Raid Test CA'"
                         " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign\n";
    for (const auto& [name, section, dates] :
         {std::tuple{"good", "local", "-days 30"}, std::tuple{"other", "other", "-days 30"},
          std::tuple{"expired", "local", "-startdate 20200101000000Z -enddate 20200201000000Z"}}) {
        script += std::string("openssl req") + key + " -keyout " + name + ".key -out " + name + ".csr -subj /CN=" +
                  name + "\nopenssl ca -batch -notext -config ca.cnf -cert ca.pem -keyfile ca.key -in " + name +
                  ".csr -out " + name + ".pem -extensions " + section + " " + dates + "\n";
    }
    script += "openssl req -x509" + key +
              " -keyout self.key -out self.pem -days 30 -subj /CN=localhost"
              " -addext subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    return runShell(folder, "pki", script) == 0;
}

// tests/notify/smtp_test_server.py on 127.0.0.1, for one test.
class UnixSmtpServer {
public:
    // `options`: arguments after the script, e.g. {"--mode", "silent"}.
    bool start(const std::vector<std::string>& options) {
        std::string command = "/usr/bin/python3 " + std::string(RAID_SOURCE_DIR) +
                              "/tests/notify/smtp_test_server.py --port-file port --capture capture"
                              " --transcript transcript";
        for (const auto& o : options) command += " '" + o + "'";
        // The server ends when the test asks ("stop") or when the test process is gone.
        const std::string watch = unixPidOfThisProcess();
        const std::string body = "exec >/dev/null 2>&1\n" + command + " >log 2>&1 &\nserver=$!\nwhile [ ! -e stop ] && kill -0 " +
                                 (watch.empty() ? std::string("$$") : watch) +
                                 " 2>/dev/null && kill -0 $server 2>/dev/null; do sleep 0.1; done\n"
                                 "kill $server 2>/dev/null\nwait $server\ntouch stopped\n";
        if (!startShell(folder_, "server", body)) return false;
        if (!waitUntil([&] { return folder_.exists("port") || folder_.exists("stopped"); })) return false;
        port = static_cast<std::uint16_t>(std::stoi("0" + folder_.read("port")));
        EXPECT_NE(port, 0) << folder_.read("log");
        return port != 0;
    }

    // Ends the server (the port is free again afterwards).
    void stop() {
        if (port == 0 || stopped_) return;
        folder_.write("stop", "");
        EXPECT_TRUE(waitUntil([&] { return folder_.exists("stopped"); })) << "the test server did not end";
        stopped_ = true;
    }

    ~UnixSmtpServer() { stop(); }

    // The messages received, each a list of its capture fields: envelope sender,
    // recipients, login, password, data, ...
    std::vector<std::vector<std::string>> received() const {
        std::vector<std::vector<std::string>> mails;
        std::stringstream lines(folder_.read("capture"));
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::stringstream s(line);
            std::string field;
            while (std::getline(s, field, '\t')) fields.push_back(decode(field));
            mails.push_back(fields);
        }
        return mails;
    }

    // The commands the server took, each "VERB 1" (inside TLS) or "VERB 0".
    std::vector<std::string> transcript() const {
        std::vector<std::string> lines;
        std::stringstream text(folder_.read("transcript"));
        std::string line;
        while (std::getline(text, line)) lines.push_back(line);
        return lines;
    }

    std::uint16_t port = 0;

private:
    static std::string decode(const std::string& base64) {
        DWORD size = 0;
        if (base64.empty() || !::CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()),
                                                      CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
            return {};
        std::string bytes(size, '\0');
        ::CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()), CRYPT_STRING_BASE64,
                               reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr);
        bytes.resize(size);
        return bytes;
    }

    UnixFolder folder_;
    bool stopped_ = false;
};

}  // namespace raid::testing
