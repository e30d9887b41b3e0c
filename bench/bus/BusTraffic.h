// What the benchmarks see of the service's bus: every message the bus daemon routes, as
// a monitor connection reads it (dbus-monitor --binary: each message's bytes as they go
// over the wire, one after the other), and a subscribed client of the kind a window is.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace raid::bench {

// One message as the bus carried it: its size and the header fields the benchmarks
// sort by.
struct BusMessage {
    std::size_t bytes = 0;
    int type = 0;  // 1 call, 2 return, 3 error, 4 signal
    std::string path, interface, member, destination, sender;
};

// Splits a stream of marshalled messages. Returns how many bytes of `data` were used
// (whole messages only); a message that cannot be a D-Bus message ends the parse with
// `broken` set.
inline std::size_t splitMessages(const std::string& data, std::vector<BusMessage>& out, bool& broken) {
    std::size_t at = 0;
    while (data.size() - at >= 16) {
        const auto* m = reinterpret_cast<const unsigned char*>(data.data() + at);
        const bool little = m[0] == 'l';
        if (!little && m[0] != 'B') {
            broken = true;
            return at;
        }
        auto u32 = [&](std::size_t i) -> std::uint32_t {
            return little ? (m[i] | m[i + 1] << 8 | m[i + 2] << 16 | std::uint32_t(m[i + 3]) << 24)
                          : (std::uint32_t(m[i]) << 24 | m[i + 1] << 16 | m[i + 2] << 8 | m[i + 3]);
        };
        const std::uint32_t body = u32(4), fields = u32(12);
        if (body > (1u << 27) || fields > (1u << 26)) {
            broken = true;
            return at;
        }
        const std::size_t headerEnd = (16 + std::size_t(fields) + 7) & ~std::size_t(7);
        const std::size_t total = headerEnd + body;
        if (data.size() - at < total) break;
        BusMessage msg;
        msg.bytes = total;
        msg.type = m[1];
        // The header fields: (byte code, variant) structs, each aligned to 8.
        std::size_t i = 16;
        const std::size_t end = 16 + fields;
        while (i + 4 <= end) {
            const unsigned code = m[i];
            const unsigned sigLen = m[i + 1];
            if (i + 2 + sigLen + 1 > end) break;
            const char sig = sigLen == 1 ? static_cast<char>(m[i + 2]) : '?';
            i += 2 + sigLen + 1;
            std::string text;
            if (sig == 's' || sig == 'o') {
                i = (i + 3) & ~std::size_t(3);
                if (i + 4 > end) break;
                const std::uint32_t len = u32(i);
                if (i + 4 + len > end) break;
                text.assign(reinterpret_cast<const char*>(m + i + 4), len);
                i += 4 + len + 1;
            } else if (sig == 'g') {
                const unsigned len = m[i];
                text.assign(reinterpret_cast<const char*>(m + i + 1), len);
                i += 1 + len + 1;
            } else if (sig == 'u') {
                i = ((i + 3) & ~std::size_t(3)) + 4;
            } else {
                break;
            }
            switch (code) {
                case 1: msg.path = text; break;
                case 2: msg.interface = text; break;
                case 3: msg.member = text; break;
                case 6: msg.destination = text; break;
                case 7: msg.sender = text; break;
                default: break;
            }
            i = (i + 7) & ~std::size_t(7);
        }
        out.push_back(std::move(msg));
        at += total;
    }
    return at;
}

// dbus-monitor on `address` in a process of its own, its messages collected by a
// thread of the benchmark.
class BusMonitor {
public:
    explicit BusMonitor(const std::string& address) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            const int null = ::open("/dev/null", O_WRONLY);
            if (null >= 0) ::dup2(null, 2);
            ::execl("/usr/bin/dbus-monitor", "dbus-monitor", "--address", address.c_str(), "--binary",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] { read(); });
    }
    ~BusMonitor() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    BusMonitor(const BusMonitor&) = delete;
    BusMonitor& operator=(const BusMonitor&) = delete;

    bool ok() const { return pid_ > 0 && fd_ >= 0; }
    bool broken() const { return broken_; }
    std::vector<BusMessage> messages() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    void read() {
        std::string pending;
        char buf[65536];
        for (;;) {
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) return;
            pending.append(buf, static_cast<std::size_t>(n));
            std::vector<BusMessage> got;
            bool broken = false;
            const std::size_t used = splitMessages(pending, got, broken);
            pending.erase(0, used);
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.insert(messages_.end(), got.begin(), got.end());
            if (broken) {
                broken_ = true;
                return;
            }
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<BusMessage> messages_;
    std::atomic<bool> broken_{false};
};

// A client as a window is one: it lists the enclosures once (GetManagedObjects) and
// then takes every signal the service sends, on a thread of its own until destroyed.
class Subscriber {
public:
    explicit Subscriber(std::string address) : address_(std::move(address)) {
        thread_ = std::thread([this] { run(); });
        while (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~Subscriber() {
        stop_ = true;
        thread_.join();
    }
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;

    bool ok() const { return ok_; }
    unsigned long signals() const { return signals_; }

private:
    static int onSignal(sd_bus_message*, void* self, sd_bus_error*) {
        ++static_cast<Subscriber*>(self)->signals_;
        return 0;
    }
    void run() {
        sd_bus* bus = nullptr;
        if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
            sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
            sd_bus_add_match(bus, nullptr, "type='signal',sender='org.qxraidgui.Monitor1'", &Subscriber::onSignal,
                             this) >= 0) {
            sd_bus_message* reply = nullptr;
            ok_ = sd_bus_call_method(bus, "org.qxraidgui.Monitor1", "/org/qxraidgui/Monitor1",
                                     "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr, &reply,
                                     "") >= 0;
            sd_bus_message_unref(reply);
        }
        started_ = true;
        while (ok_ && !stop_) {
            if (sd_bus_process(bus, nullptr) > 0) continue;
            sd_bus_wait(bus, 200'000);
        }
        if (bus) sd_bus_flush_close_unref(bus);
    }

    std::string address_;
    std::thread thread_;
    std::atomic<bool> started_{false}, stop_{false}, ok_{false};
    std::atomic<unsigned long> signals_{0};
};

// A monitor connection of the benchmark's own process (BecomeMonitor, as dbus-monitor
// makes one): each poll's PropertiesChanged of the enclosure object at `path`, with the
// moment the bus daemon's copy of it reached this process (steady clock, comparable
// with what the process times itself) and the Poll and Progress it carries. The bus
// daemon hands monitors their copy as it routes the message, so this is the moment the
// signal leaves the bus for its subscribers.
class PollWatcher {
public:
    struct Poll {
        std::chrono::steady_clock::time_point seen;
        std::uint32_t poll = 0;
        int progress = -1;
    };

    PollWatcher(std::string address, std::string path) : address_(std::move(address)), path_(std::move(path)) {
        thread_ = std::thread([this] { run(); });
        while (!started_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ~PollWatcher() {
        stop_ = true;
        thread_.join();
    }
    PollWatcher(const PollWatcher&) = delete;
    PollWatcher& operator=(const PollWatcher&) = delete;

    bool ok() const { return ok_; }
    std::vector<Poll> polls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return polls_;
    }

private:
    bool becomeMonitor(sd_bus* bus) {
        sd_bus_message* call = nullptr;
        const std::string match = "type='signal',interface='org.freedesktop.DBus.Properties',"
                                  "member='PropertiesChanged',path='" + path_ + "'";
        const std::uint32_t flags = 0;
        int r = sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus.Monitoring", "BecomeMonitor");
        if (r >= 0) r = sd_bus_message_append(call, "as", 1, match.c_str());
        if (r >= 0) r = sd_bus_message_append_basic(call, 'u', &flags);
        if (r >= 0) r = sd_bus_call(bus, call, 0, nullptr, nullptr);
        sd_bus_message_unref(call);
        return r >= 0;
    }
    // Poll (u) and Progress (i) out of the changed properties (sa{sv}as).
    static void read(sd_bus_message* m, Poll& p) {
        const char* interface = nullptr;
        if (sd_bus_message_read(m, "s", &interface) < 0 || sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) return;
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) return;
            const std::string n = name;
            if (n == "Poll") {
                if (sd_bus_message_read(m, "v", "u", &p.poll) < 0) return;
            } else if (n == "Progress") {
                std::int32_t v = -1;
                if (sd_bus_message_read(m, "v", "i", &v) < 0) return;
                p.progress = v;
            } else if (sd_bus_message_skip(m, "v") < 0) {
                return;
            }
            if (sd_bus_message_exit_container(m) < 0) return;
        }
    }
    void run() {
        sd_bus* bus = nullptr;
        ok_ = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
              sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_set_monitor(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
              becomeMonitor(bus);
        started_ = true;
        while (ok_ && !stop_) {
            sd_bus_message* m = nullptr;
            const int r = sd_bus_process(bus, &m);
            if (m) {
                Poll p;
                p.seen = std::chrono::steady_clock::now();
                if (sd_bus_message_is_signal(m, "org.freedesktop.DBus.Properties", "PropertiesChanged") > 0 &&
                    path_ == (sd_bus_message_get_path(m) ? sd_bus_message_get_path(m) : "")) {
                    read(m, p);
                    std::lock_guard<std::mutex> lock(mutex_);
                    polls_.push_back(p);
                }
                sd_bus_message_unref(m);
            }
            if (r < 0) break;
            if (r > 0) continue;
            sd_bus_wait(bus, 200'000);
        }
        if (bus) sd_bus_flush_close_unref(bus);
    }

    std::string address_, path_;
    std::thread thread_;
    std::atomic<bool> started_{false}, stop_{false}, ok_{false};
    mutable std::mutex mutex_;
    std::vector<Poll> polls_;
};

}  // namespace raid::bench
