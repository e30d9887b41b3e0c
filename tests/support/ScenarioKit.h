// Builds scenario files with their record files in a temporary folder and runs them
// through the scenario runner on the virtual clock.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/Records.h"
#include "sim/Trace.h"
#include "sim/run/SimRunner.h"
#include "tests/support/Portable.h"

namespace raid::test {

// Runs `r` on the real clock until `done` holds or the run reaches its own end, which a
// test sets far off as a mere safety bound. A real-time test waits for its outcome, not
// for a fixed stretch of wall time: under ThreadSanitizer on a busy machine the same
// work takes many times as long. `done` is asked on the engine thread (so it may read
// the form) every 20 ms. True when `done` held.
inline bool runUntilDone(sim::SimRunner& r, std::function<bool(sim::SimRunner&)> done) {
    struct State {
        std::atomic<bool> met{false};
        std::atomic<bool> over{false};
    };
    auto state = std::make_shared<State>();
    std::thread watch([&r, state, done] {
        while (!state->over) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (state->over) break;
            r.scheduler().post([&r, state, done] {
                if (state->over || state->met || !done(r)) return;
                state->met = true;
                r.scheduler().quit();
            });
        }
    });
    r.run();
    state->over = true;
    watch.join();
    return state->met;
}

class ScenarioKit {
public:
    ScenarioKit() {
        dir_ = makeTempDir();
    }
    ~ScenarioKit() {
        runner_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string& dir() const { return dir_; }

    // Writes a 512-byte block as <dir>/<name> and returns the name.
    std::string block(const std::string& name, const sim::Block& b) {
        sim::writeBlockFile(dir_ + "/" + name, b);
        return name;
    }

    // Scenario text, one step per line.
    ScenarioKit& line(const std::string& text) {
        text_ << text << '\n';
        return *this;
    }

    // Runs until `until` seconds; returns the runner for inspection.
    sim::SimRunner& run(double until, std::int64_t latencyUs = 0, double startWall = 1796601600.0 /* 2026-12-07 */) {
        const std::string path = dir_ + "/test.scenario";
        {
            std::ofstream f(path);
            f << text_.str();
        }
        sim::RunOptions options;
        options.scenarioPath = path;
        options.tracePath = dir_ + "/trace.txt";
        options.logDir = logDir.empty() ? dir_ : logDir;
        options.fallbackLogDir = dir_ + "/fallback";
        options.settingsPath = settingsPath.empty() ? dir_ + "/settings.reg" : settingsPath;
        options.untilSeconds = until;
        options.latencyUs = latencyUs;
        options.startWallSeconds = startWall;
        options.historyDays = historyDays;
        runner_ = std::make_unique<sim::SimRunner>(options, nullptr);
        std::string error;
        loadError = runner_->load(error) ? "" : error;
        if (loadError.empty() && !runner_->start(error)) loadError = error;
        if (loadError.empty()) runner_->run();
        return *runner_;
    }

    sim::SimRunner& runner() { return *runner_; }

    // Options for a run of the kit's scenario on the real clock (the caller makes the
    // runner): writes the scenario file first.
    sim::RunOptions realTimeOptions(double until, std::int64_t latencyUs = 0) {
        run(0);  // writes the scenario file (a zero-length virtual run)
        sim::RunOptions o;
        o.scenarioPath = dir_ + "/test.scenario";
        o.logDir = dir_;
        o.fallbackLogDir = dir_ + "/fallback";
        o.settingsPath = dir_ + "/settings.reg";
        o.untilSeconds = until;
        o.latencyUs = latencyUs;
        o.virtualTime = false;
        o.startWallSeconds = 1796601600.0;
        return o;
    }

    std::vector<std::string> traceLines() const {
        std::ifstream f(dir_ + "/trace.txt");
        std::vector<std::string> lines;
        for (std::string l; std::getline(f, l);) lines.push_back(l);
        return lines;
    }

    std::vector<sim::TraceLine> trace() const {
        std::vector<sim::TraceLine> out;
        for (const auto& l : traceLines()) {
            sim::TraceLine t;
            if (sim::parseTraceLine(l, t)) out.push_back(t);
        }
        return out;
    }

    std::string loadError;
    std::string logDir;  // where the day files go (default: the kit's folder)
    std::string settingsPath;  // the settings file (default: settings.reg in the kit's folder)
    int historyDays = 90;      // days of history the engine keeps

    // The day file's lines as written (CR LF ends).
    std::vector<std::string> dayFile(const std::string& yymmdd, const std::string& folder = "") const {
        std::ifstream f((folder.empty() ? (logDir.empty() ? dir_ : logDir) : folder) + "/" + yymmdd + ".log",
                        std::ios::binary);
        std::vector<std::string> lines;
        std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back(text.substr(at) + "<no CR LF>");
                break;
            }
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

private:
    std::string dir_;
    std::ostringstream text_;
    std::unique_ptr<sim::SimRunner> runner_;
};

// A compact name for a request, for comparing sequences:
// OPEN PhysicalDrive1, CLOSE, READ58, READ33, WRITE20, INQUIRY, IDENTIFY, RESCAN,
// EXTENTS, VU fe8b, VU fefe8b, TABLE fe78, PROBE 78000, VUREAD 78200 ...
inline std::string describe(const sim::TraceLine& t) {
    using K = sim::TraceLine::Kind;
    switch (t.kind) {
        case K::Open: return "OPEN " + t.target;
        case K::Close: return "CLOSE";
        case K::Rescan: return "RESCAN";
        case K::Extents: return "EXTENTS";
        case K::Ata: return t.regs.size() == 7 && t.regs[6] == 0xEC ? "IDENTIFY" : "ATA";
        case K::Scsi: break;
    }
    const auto& c = t.cdb;
    if (c.size() < 10) return "?";
    const unsigned lba = (c[2] << 24) | (c[3] << 16) | (c[4] << 8) | c[5];
    if (c[0] == 0x28) return "READ" + std::to_string(lba);
    if (c[0] == 0x2A) return "WRITE" + std::to_string(lba);
    if (c[0] == 0x12) return "INQUIRY";
    if (c[0] == 0xFE) {
        const int p = c[1] == 0xFE ? 2 : 1;
        const std::uint8_t op = c[static_cast<std::size_t>(p)];
        const std::string prefix = p == 1 ? "fe" : "fefe";
        char hex[8];
        if (op == 0x85) {
            const unsigned addr = (c[static_cast<std::size_t>(p + 2)] << 16) | (c[static_cast<std::size_t>(p + 3)] << 8) |
                                  c[static_cast<std::size_t>(p + 4)];
            std::snprintf(hex, sizeof hex, "%05x", addr);
            return (c[static_cast<std::size_t>(p + 6)] ? "PROBE " : "VUREAD ") + std::string(hex);
        }
        std::snprintf(hex, sizeof hex, "%02x", op);
        if (op == 0x78) return "TABLE " + prefix + hex;
        return "VU " + prefix + hex;
    }
    return "SCSI?";
}

inline std::vector<std::string> describeAll(const std::vector<sim::TraceLine>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(describe(l));
    return out;
}

}  // namespace raid::test
