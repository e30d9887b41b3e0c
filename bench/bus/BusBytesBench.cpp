// Bytes on the bus per poll: raid-gui-monitor-sim watching one or two simulated
// enclosures in real time (a poll every 4 s) and publishing them on a private
// system-like bus, with a monitor connection reading every message the bus daemon
// routes. Counted are the messages the service sends, over N polls after the start-up
// has settled: first with no client on the bus, then with one subscribed client (a
// window's kind: GetManagedObjects once, then every signal). Each subscribed client is
// sent those signals once more by the bus daemon.
//
//   raid_bench_bus [--polls N]        (default 5; the two set-ups run side by side)
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bus/BusTraffic.h"
#include "sim/Records.h"
#include "support/PrivateBus.h"
#include "support/ToolRun.h"

namespace {

using raid::bench::BusMessage;
using raid::bench::BusMonitor;
using raid::bench::Subscriber;
using raid::test::PrivateBus;

struct Figures {
    double messages = 0, bytes = 0;
    std::map<std::string, double> byMember;  // bytes per poll of each kind of message
    unsigned long clientSignals = 0;         // signals the subscribed client took over the polls
};

struct Run {
    int enclosures = 1;
    std::string dir, error;
    Figures idle, subscribed;
};

bool isPoll(const BusMessage& m, const std::string& service) {
    return m.sender == service && m.member == "PropertiesChanged" &&
           m.path == "/org/qxraidgui/Monitor1/enclosure/drive1";
}

// Waits (generous bound) until `count` polls of the service have been seen past
// message index `from`; returns the index just past the last of them, or 0.
std::size_t afterPolls(const BusMonitor& monitor, const std::string& service, std::size_t from, int count) {
    std::size_t end = 0;
    PrivateBus::waitFor(
        [&] {
            const auto all = monitor.messages();
            int seen = 0;
            for (std::size_t i = from; i < all.size(); ++i)
                if (isPoll(all[i], service) && ++seen == count) {
                    end = i + 1;
                    return true;
                }
            return false;
        },
        std::chrono::seconds(60 + 12 * count));
    return end;
}

// The service's messages in (polls [from, to)): per poll.
Figures measure(const std::vector<BusMessage>& all, const std::string& service, std::size_t from, std::size_t to,
                int polls) {
    Figures f;
    for (std::size_t i = from; i < to && i < all.size(); ++i) {
        if (all[i].sender != service) continue;
        f.messages += 1;
        f.bytes += static_cast<double>(all[i].bytes);
        f.byMember[all[i].member] += static_cast<double>(all[i].bytes);
    }
    f.messages /= polls;
    f.bytes /= polls;
    for (auto& [member, bytes] : f.byMember) bytes /= polls;
    return f;
}

void runOne(Run& run, int polls) {
    char pattern[] = "/tmp/raid-bench-bus-XXXXXX";
    run.dir = ::mkdtemp(pattern);
    // The default machine of the simulator, with one or two enclosures.
    std::ofstream scenario(run.dir + "/bench.scenario");
    scenario << "0 disk 0\n0 volume C 0\n";
    for (int n = 1; n <= run.enclosures; ++n) {
        raid::sim::IdentityOptions id;
        id.serial = "SIMENC0000000000000" + std::to_string(n);
        raid::sim::writeBlockFile(run.dir + "/id" + std::to_string(n) + ".bin", raid::sim::makeIdentityPage(id));
        raid::sim::writeBlockFile(run.dir + "/st" + std::to_string(n) + ".bin", raid::sim::makeStatusRecord());
        scenario << "0 attach " << n << " mailbox identity=id" << n << ".bin status=st" << n << ".bin\n";
        scenario << "0 volume " << static_cast<char>('D' + n) << ' ' << n << '\n';
    }
    scenario.close();

    PrivateBus bus(run.dir);
    if (!bus.start()) {
        run.error = "no dbus-daemon";
        return;
    }
    BusMonitor monitor(bus.address());
    if (!monitor.ok()) {
        run.error = "no dbus-monitor";
        return;
    }
    raid::test::BackgroundTool service;
    const std::string until = std::to_string(60 + 4 * (2 * polls + 8));
    if (!service.start("raid-gui-monitor-sim",
                       {"--scenario", run.dir + "/bench.scenario", "--until", until, "--log-dir", run.dir + "/logs",
                        "--settings", run.dir + "/settings.reg", "--bus", bus.address()},
                       run.dir + "/service.out", run.dir + "/service.err")) {
        run.error = "raid-gui-monitor-sim did not start";
        return;
    }
    if (!PrivateBus::waitFor([&] { return bus.owned("org.qxraidgui.Monitor1"); })) {
        run.error = "the service did not take its name (see " + run.dir + "/service.err)";
        return;
    }
    // The service's unique name: the sender of everything it sends.
    const std::string ownerFile = run.dir + "/owner.txt";
    bus.busctl("call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus GetNameOwner s "
               "org.qxraidgui.Monitor1",
               ownerFile);
    std::string owner;
    {
        std::ifstream f(ownerFile);
        std::string s;
        f >> s >> owner;  // s ":1.3"
        if (owner.size() > 2) owner = owner.substr(1, owner.size() - 2);
    }
    if (owner.empty()) {
        run.error = "no owner of org.qxraidgui.Monitor1";
        return;
    }

    // Detection and the first polls are start-up, not the steady state.
    std::size_t start = afterPolls(monitor, owner, 0, 2);
    std::size_t end = start ? afterPolls(monitor, owner, start, polls) : 0;
    if (!end) {
        run.error = "fewer polls than expected (see " + run.dir + "/service.err)";
        return;
    }
    run.idle = measure(monitor.messages(), owner, start, end, polls);

    Subscriber client(bus.address());
    if (!client.ok()) {
        run.error = "the client could not list the enclosures";
        return;
    }
    // Its GetManagedObjects answer is behind us after the next poll.
    start = afterPolls(monitor, owner, end, 1);
    const unsigned long signalsBefore = client.signals();
    end = start ? afterPolls(monitor, owner, start, polls) : 0;
    if (!end) {
        run.error = "fewer polls than expected with the client";
        return;
    }
    run.subscribed = measure(monitor.messages(), owner, start, end, polls);
    // The client processes a poll's signals a moment after the monitor sees them.
    PrivateBus::waitFor([&] { return client.signals() - signalsBefore >= static_cast<unsigned long>(polls); },
                        std::chrono::seconds(10));
    run.subscribed.clientSignals = client.signals() - signalsBefore;
    if (monitor.broken()) run.error = "the monitor's stream could not be split into messages";
    service.stop();
}

}  // namespace

int main(int argc, char** argv) {
    int polls = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--polls") polls = std::max(1, std::atoi(argv[i + 1]));

    Run runs[2];
    runs[0].enclosures = 1;
    runs[1].enclosures = 2;
    std::thread second([&] { runOne(runs[1], polls); });
    runOne(runs[0], polls);
    second.join();

    std::printf("The service's messages on the bus per poll (poll every 4 s; %d polls each, after start-up)\n", polls);
    std::printf("%-11s %-17s %10s %12s   %s\n", "enclosures", "clients", "messages", "bytes", "bytes by message");
    int rc = 0;
    for (Run& run : runs) {
        if (!run.error.empty()) {
            std::printf("%-11d %s (%s)\n", run.enclosures, run.error.c_str(), run.dir.c_str());
            rc = 1;
            continue;
        }
        const std::pair<const char*, const Figures*> rows[] = {{"none", &run.idle},
                                                                {"1 subscribed", &run.subscribed}};
        for (const auto& [label, f] : rows) {
            std::string parts;
            for (const auto& [member, bytes] : f->byMember)
                parts += (parts.empty() ? "" : ", ") + member + " " + std::to_string(static_cast<long>(bytes + 0.5));
            std::printf("%-11d %-17s %10.1f %12.0f   %s\n", run.enclosures, label, f->messages, f->bytes,
                        parts.c_str());
        }
        std::printf("%-11s the client took %.1f signals per poll; the bus daemon sends each subscribed client the "
                    "same bytes again\n",
                    "", static_cast<double>(run.subscribed.clientSignals) / polls);
        std::error_code ec;
        std::filesystem::remove_all(run.dir, ec);
    }
    return rc;
}
