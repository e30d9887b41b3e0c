// A private bus for the tests of the service's bus side: a dbus-daemon of the test's own
// that behaves like the system bus (EXTERNAL authentication, a policy like the system
// bus's), and on it, when asked, python3-dbusmock's polkit authority.
//
// Every process is started by the rig and ended with it; nothing reaches the machine's
// own buses. Where dbus-daemon or Debian's python3-dbusmock is missing, start() and
// startPolkit() return false and the test skips.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace raid::test {

class PrivateBus {
public:
    // `dir` is the test's own folder (the socket and the configuration go there).
    // `extraPolicy` is put inside <busconfig> after the open default policy: a bus
    // policy file's own <policy> elements, to test them.
    explicit PrivateBus(std::string dir, std::string extraPolicy = {})
        : dir_(std::move(dir)), extraPolicy_(std::move(extraPolicy)) {}
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Starts the daemon and waits (generous bound) until its socket takes connections.
    bool start() {
        if (access("/usr/bin/dbus-daemon", X_OK) != 0) return false;
        socket_ = dir_ + "/system_bus_socket";
        const std::string config = dir_ + "/bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig>\n"
                                 "  <type>system</type>\n"
                                 "  <listen>unix:path="
                              << socket_
                              << "</listen>\n"
                                 "  <auth>EXTERNAL</auth>\n"
                                 "  <policy context=\"default\">\n"
                                 "    <allow user=\"*\"/>\n"
                                 "    <allow own=\"*\"/>\n"
                                 "    <allow send_type=\"method_call\"/>\n"
                                 "    <allow send_type=\"signal\"/>\n"
                                 "    <allow send_requested_reply=\"true\" send_type=\"method_return\"/>\n"
                                 "    <allow send_requested_reply=\"true\" send_type=\"error\"/>\n"
                                 "    <allow receive_type=\"method_call\"/>\n"
                                 "    <allow receive_type=\"method_return\"/>\n"
                                 "    <allow receive_type=\"error\"/>\n"
                                 "    <allow receive_type=\"signal\"/>\n"
                                 "  </policy>\n"
                              << extraPolicy_ << "</busconfig>\n";
        daemon_ = spawn({"/usr/bin/dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config}, {});
        if (daemon_ <= 0) return false;
        // Other users (an unprivileged client) must reach the socket too.
        chmod(dir_.c_str(), 0755);
        if (!waitFor([this] { return access(socket_.c_str(), F_OK) == 0; })) return false;
        chmod(socket_.c_str(), 0777);
        return true;
    }

    // "unix:path=..." for DBUS_SYSTEM_BUS_ADDRESS / sd_bus_set_address.
    std::string address() const { return "unix:path=" + socket_; }

    // python3-dbusmock's polkitd template on this bus (every action refused until
    // allowed). Waits until the name org.freedesktop.PolicyKit1 is owned.
    bool startPolkit() {
        if (daemon_ <= 0 || access("/usr/bin/python3", X_OK) != 0) return false;
        if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) return false;
        polkit_ = spawn({"/usr/bin/python3", "-m", "dbusmock", "--template", "polkitd"},
                        {"DBUS_SYSTEM_BUS_ADDRESS=" + address()});
        if (polkit_ <= 0) return false;
        return waitFor([this] { return owned("org.freedesktop.PolicyKit1"); });
    }
    // Lets the mock allow exactly `actions` (SetAllowed).
    bool allowActions(const std::vector<std::string>& actions) {
        return busctl("call org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority "
                      "org.freedesktop.DBus.Mock SetAllowed as " +
                      std::to_string(actions.size()) + " " + spaced(actions)) == 0;
    }
    // Makes every CheckAuthorization hang (never answered), or answer again.
    bool hangPolkit(bool hang) {
        return busctl(std::string("call org.freedesktop.PolicyKit1 /org/freedesktop/PolicyKit1/Authority "
                                  "org.freedesktop.DBus.Mock SimulateHang b ") +
                      (hang ? "true" : "false")) == 0;
    }
    void stopPolkit() { end(polkit_); }

    // python3-dbusmock's plain mock on this bus: `name` owned, an object at `path` with
    // `interface` (methods come with org.freedesktop.DBus.Mock's AddMethod). Waits until
    // the name is owned; false when it cannot be (not installed, or the policy refuses).
    bool startMock(const std::string& name, const std::string& path, const std::string& interface) {
        if (daemon_ <= 0 || access("/usr/bin/python3", X_OK) != 0) return false;
        if (std::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0) return false;
        mock_ = spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", name, path, interface},
                      {"DBUS_SYSTEM_BUS_ADDRESS=" + address()});
        if (mock_ <= 0) return false;
        return waitFor([this, &name] { return owned(name); }, std::chrono::seconds(60));
    }

    // busctl against this bus; returns its exit status.
    int busctl(const std::string& args, const std::string& outputFile = "/dev/null") const {
        const std::string cmd = "timeout 60 busctl --address=" + address() + " " + args + " >" + outputFile + " 2>&1";
        const int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    bool owned(const std::string& name) const {
        return busctl("call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus GetNameOwner s " + name) == 0;
    }

    void stop() {
        end(mock_);
        end(polkit_);
        end(daemon_);
    }

    // Polls `done` until it holds, for at most two minutes (a loaded machine under a
    // sanitizer is slow, a hung one must not hang the suite).
    template <class Pred>
    static bool waitFor(Pred done, std::chrono::seconds bound = std::chrono::seconds(120)) {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

private:
    static std::string spaced(const std::vector<std::string>& words) {
        std::string s;
        for (const auto& w : words) s += (s.empty() ? "" : " ") + ("'" + w + "'");
        return s;
    }
    static pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
        }
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    static void end(pid_t& pid) {
        if (pid <= 0) return;
        kill(-pid, SIGTERM);
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }

    std::string dir_, extraPolicy_, socket_;
    pid_t daemon_ = -1, polkit_ = -1, mock_ = -1;
};

}  // namespace raid::test
