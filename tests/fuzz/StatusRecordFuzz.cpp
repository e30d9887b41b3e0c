// Status records and identity pages are whatever the enclosure sends. This target plays
// a run of them through the record field access, the alert texts and full decoder
// passes (day log in an in-memory file store), so the decoder's state moves from record
// to record the way it does between polls.
//
// Input layout:
//   byte 0     device count (mod 5)
//   bytes 1-4  the DeviceCode of device index 0..3 (the low nibble is its slot; slots
//              beyond the tables must read as zero pages)
//   then steps, each a control byte c and its payload:
//     c bits 0-1  the device index the step writes
//     c bit 2     write its identity page instead of its status record
//     c bit 3     payload is a whole page (512 bytes, short input zero-filled);
//                 otherwise a patch: offset (2 bytes, big-endian, mod 512), length n
//                 (1 byte), n bytes. An offset of 0xFF00 or more is no patch but a
//                 device-list change to (offset & 7) mod 5 enclosures.
//     c bit 4     the user aborted that device's scan before this pass
//     c bit 5     FirstPass is set for this pass
//     c bit 6     the pass runs a day later (day roll-over), else 4 s later
//     c bit 7     every device was refreshed, else only the written one
// After every pass: no line of the day log, no alert line and no text of a record may
// hold a byte outside printable ASCII, and the day file must hold exactly the day lines.
// The summary for scripts (--status) of the tables must be one well-formed JSON
// document, and its text printable lines.
#include <algorithm>
#include <cctype>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "monitor/DeviceListCompare.h"
#include "monitor/EventLog.h"
#include "monitor/Fixtures.h"
#include "monitor/StatusDecoder.h"
#include "monitor/StatusPageModel.h"
#include "monitor/StatusRecord.h"
#include "monitor/StatusSummary.h"
#include "monitor/StatusTexts.h"
#include "notify/Alerts.h"

namespace {

using namespace raid;

void requirePrintable(const std::string& text) {
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) std::abort();
    }
}

// A strict reader of one JSON value from `at`; false at the first thing out of place.
bool jsonValue(const std::string& t, std::size_t& at, int depth = 0) {
    auto skip = [&] {
        while (at < t.size() && (t[at] == ' ' || t[at] == '\n')) ++at;
    };
    skip();
    if (at >= t.size() || depth > 16) return false;
    const char c = t[at];
    if (c == '"') {
        for (++at; at < t.size(); ++at) {
            const auto b = static_cast<unsigned char>(t[at]);
            if (b < 0x20) return false;
            if (t[at] == '\\') {
                if (++at >= t.size()) return false;
                if (t[at] == 'u') {
                    if (at + 4 >= t.size()) return false;
                    for (int k = 1; k <= 4; ++k)
                        if (!std::isxdigit(static_cast<unsigned char>(t[at + static_cast<std::size_t>(k)]))) return false;
                    at += 4;
                } else if (std::string("\"\\/bfnrt").find(t[at]) == std::string::npos) {
                    return false;
                }
            } else if (t[at] == '"') {
                ++at;
                return true;
            }
        }
        return false;
    }
    if (c == '{' || c == '[') {
        const char close = c == '{' ? '}' : ']';
        ++at;
        skip();
        if (at < t.size() && t[at] == close) return ++at, true;
        for (;;) {
            if (c == '{') {
                skip();
                if (at >= t.size() || t[at] != '"' || !jsonValue(t, at, depth + 1)) return false;
                skip();
                if (at >= t.size() || t[at++] != ':') return false;
            }
            if (!jsonValue(t, at, depth + 1)) return false;
            skip();
            if (at >= t.size()) return false;
            if (t[at] == close) return ++at, true;
            if (t[at++] != ',') return false;
        }
    }
    for (const char* word : {"true", "false", "null"})
        if (t.compare(at, std::strlen(word), word) == 0) return at += std::strlen(word), true;
    const std::size_t start = at;
    if (at < t.size() && t[at] == '-') ++at;
    while (at < t.size() && std::isdigit(static_cast<unsigned char>(t[at]))) ++at;
    return at > start && std::isdigit(static_cast<unsigned char>(t[at - 1]));
}

void requireSummary(const DeviceState& dev, std::uint8_t polled) {
    const StatusSummary s = summarizeStatus(dev, polled);
    const std::string json = statusJson(s);
    std::size_t at = 0;
    if (!jsonValue(json, at) || json.substr(at) != "\n") std::abort();
    const std::string text = statusText(s);
    for (const char c : text)
        if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)) std::abort();
    if (s.exitCode() < 0 || s.exitCode() > 2) std::abort();
}

// Every accessor of one record and one identity page; every text they give.
void touchRecord(const Sector& page, const Sector& identity) {
    // The record's own layout, and the RAID one the alert texts always read.
    const bool raid = page[1] == kControllerRaid;
    for (const StatusLayout* layout : {&hybridLayout(), &raidLayout()}) {
        if (raid && layout == &hybridLayout()) continue;
        const StatusRecord rec(page, *layout);
        for (int d = 0; d < 2; ++d) {
            // Model, serial and capacity, as the log and the mail show them.
            for (const auto& line : driveDetailLines(rec, d, "  ")) requirePrintable(line);
            requirePrintable(rec.fullModel(d));
            requirePrintable(driveName(rec.kind(), d));
        }
        requirePrintable(rec.subCode());
        requirePrintable(raidModeText(rec.raidMode()));
        requirePrintable(hybridModeText(rec.hybridMode()));
        requirePrintable(sataSpeedName(rec.sataSpeeds() >> 4));
        requirePrintable(sataSpeedName(rec.layoutSpeeds() & 0x0F));
        requirePrintable(firmwareLine(raidModeText(rec.raidMode()), identity, rec));
        volatile std::uint64_t sink = rec.configuredCapacity() ^ rec.fanSpeed() ^ rec.flushPosition() ^
                                      rec.secondFlushPosition() ^ rec.driveFlags() ^ rec.activity();
        for (unsigned k = 0; k < 300; k += 7) sink = sink ^ rec.badSector(k);
        (void)sink;
    }
    const std::string revision = firmwareRevision(identity);
    requirePrintable(revision);
    requirePrintable(enclosureModel(identity));
    volatile bool caps = scanCapable(revision) != monitorCapable(revision);
    volatile int cls = productClass(identity);
    (void)caps;
    (void)cls;
}

// The Status page drawn from the same record: every text printable but for the line
// breaks the page's own texts carry, and the enclosure picture's words read back.
void drawPage(StatusPageModel& model, const DeviceState& dev, int index, bool full) {
    const auto allowBreaks = [](std::string text) {
        std::replace(text.begin(), text.end(), '\n', ' ');
        requirePrintable(text);
    };
    const StatusDrawing d = model.draw(statusOf(dev, index), index & 1, true, full);
    if (d.result != 0) std::abort();
    requirePrintable(d.firmware);
    requirePrintable(d.mode);
    requirePrintable(d.fan);
    requirePrintable(d.temperature);
    requirePrintable(d.configured);
    for (const auto& drive : d.drives) {
        allowBreaks(drive.capacity);
        requirePrintable(drive.model);
        if (drive.model.size() > 40) std::abort();
    }
    if (d.centre) allowBreaks(*d.centre);
    for (const auto& f : d.flush)
        if (f) requirePrintable(*f);
    if (d.panels)
        for (const auto& p : *d.panels) requirePrintable(p);
    // The picture's view: every value one the picture knows, a target and a percentage
    // only with the work that has them.
    const BaysView& bays = model.bays();
    const bool measured = bays.work == BayWork::Rebuild || bays.work == BayWork::Scan;
    if (!baysInRange(bays) || (!measured && (bays.target != 0 || bays.percent != 0))) std::abort();
    if (const auto t = model.timerTexts(statusOf(dev, index), false))
        for (const auto& p : *t) requirePrintable(p);
}

std::string dayFile(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

struct Run {
    DeviceState dev;
    raid::testing::FakeFileStore store;
    EventLog log{store, "/logs", "", "RAID GUI v0.23.7-3"};
    std::array<bool, kDecoderDevices> userAbort{};
    double clockNow = 0;
    double passTime = raid::testing::wallAt(2026, 12, 7, 14, 3, 5);
    std::atomic<std::uint8_t> mailFlags{0};
    AlertState alerts{dev, mailFlags};
    StatusPageModel page;
    StatusDecoder decoder{DecoderContext{dev, log, userAbort, dev.FirstPass, clockNow, [this] { return passTime; },
                                         [this](int kind, int index, int port) {
                                             alerts.raiseAlert(kind, index, port);
                                             for (const auto& line : alerts.AlertInfoLines) requirePrintable(line);
                                         }}};

    void changeList(int count) {
        dev.FoundCount = count;
        for (int i = 0; i < count; ++i) {
            dev.FoundDevices[static_cast<std::size_t>(i)] = dev.ActiveDevices[static_cast<std::size_t>(i)];
            const std::size_t slot = dev.ActiveDevices[static_cast<std::size_t>(i)] & kCodeDriveMask;
            if (slot < dev.freshPages.size()) dev.freshPages[slot] = identitySlot(dev, static_cast<int>(slot));
        }
        compareDeviceLists(dev, log, [this](int kind, int index, int port) { alerts.raiseAlert(kind, index, port); });
        for (const auto& line : log.pendingLines()) requirePrintable(line);
        dev.ActiveCount = count;
    }

    Sector& target(int index, bool identity) {
        const int slot = static_cast<int>(dev.ActiveDevices[static_cast<std::size_t>(index)] & kCodeDriveMask);
        // A slot outside a table writes to a scratch page: the decoder must still read zeros there.
        static Sector scratch;
        if (identity) {
            return static_cast<std::size_t>(slot) < dev.EnclosureIdentity.size()
                       ? dev.EnclosureIdentity[static_cast<std::size_t>(slot)]
                       : scratch;
        }
        return static_cast<std::size_t>(slot) < dev.EnclosureStatus.size()
                   ? dev.EnclosureStatus[static_cast<std::size_t>(slot)]
                   : scratch;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A fixed zone: without one the C library looks at the zone file again for every
    // event time, which is most of a pass's cost and tells the fuzzer nothing.
    setenv("TZ", "UTC0", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    Run run;
    run.dev.ActiveCount = data[0] % 5;
    for (std::size_t i = 0; i < 4; ++i) run.dev.ActiveDevices[i] = data[1 + i];
    std::size_t at = 5;
    int passes = 0;
    // Enough passes to walk through flush counters and bad-sector rings, few enough to stay fast.
    while (at < size && passes < 256) {
        const std::uint8_t c = data[at++];
        const int index = c & 0x03;
        const bool identity = (c & 0x04) != 0;
        if (c & 0x08) {
            Sector& page = run.target(index, identity);
            page.fill(0);
            const std::size_t n = std::min<std::size_t>(512, size - at);
            std::memcpy(page.data(), data + at, n);
            at += n;
        } else {
            if (size - at < 3) break;
            const unsigned offset = (static_cast<unsigned>(data[at]) << 8) | data[at + 1];
            std::size_t n = data[at + 2];
            at += 3;
            if (offset >= 0xFF00) {
                run.changeList(static_cast<int>(offset & 7) % 5);
            } else {
                n = std::min(n, size - at);
                Sector& page = run.target(index, identity);
                for (std::size_t k = 0; k < n; ++k) page[(offset + k) % 512] = data[at + k];
                at += n;
            }
        }
        if (c & 0x10) run.userAbort[static_cast<std::size_t>(index)] = true;
        run.dev.FirstPass = (c & 0x20) != 0;
        run.passTime += (c & 0x40) ? 86400.0 : 4.0;
        const std::uint8_t mask = (c & 0x80) ? 0xFF : static_cast<std::uint8_t>(1u << index);

        const std::string day = run.log.dayName();
        const std::size_t before = run.log.lines().size();
        run.decoder.decode(mask);
        ++passes;

        // Only what this pass added needs a look (a new day starts its lines afresh).
        const auto& lines = run.log.lines();
        for (std::size_t i = run.log.dayName() == day ? std::min(before, lines.size()) : 0; i < lines.size(); ++i)
            requirePrintable(lines[i]);
        const auto file = run.store.files.find("/logs/" + run.log.dayName() + ".log");
        if (file == run.store.files.end()) std::abort();
        // The accessors are plain functions of the page: whole new pages, and now and
        // then a patched one, are enough for them.
        if ((c & 0x08) || passes % 16 == 0) touchRecord(statusOf(run.dev, index), identityOf(run.dev, index));
        if (identity || passes % 8 == 0) {
            const DeviceRefreshView v = run.page.refreshDevices(run.dev, index & 1, "RAID GUI v0.23.7-3");
            requirePrintable(v.caption);
        }
        drawPage(run.page, run.dev, index, (c & 0x20) != 0);
        requireSummary(run.dev, mask);
        // The alert texts of every kind and port in turn, also for positions the list does not hold.
        const int kind = passes % 6;
        run.alerts.raiseAlert(kind, index - (c & 0x10 ? 1 : 0), (c >> 5) & 1);
        for (const auto& line : run.alerts.AlertInfoLines) requirePrintable(line);
    }
    // The day file holds exactly the day's lines, each ended by CR LF.
    const auto file = run.store.files.find("/logs/" + run.log.dayName() + ".log");
    if (passes > 0 && (file == run.store.files.end() || file->second != dayFile(run.log.lines()))) std::abort();
    return 0;
}
