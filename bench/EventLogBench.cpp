// One decoder pass that logs an event, plus its save, with a day file that already
// holds 10, 1,000 or 100,000 lines. The cost per save must not grow with the day.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "monitor/EventLog.h"
#include "monitor/StatusDecoder.h"
#include "monitor/TimeFormat.h"
#include "sim/Records.h"

namespace raid {
namespace {

void BM_DecoderPassWithSave(benchmark::State& st) {
    const auto lines = static_cast<std::size_t>(st.range(0));
    char pattern[] = "/tmp/raidgui-bench-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const double start = 1796601600.0 + 3600;
    {
        std::ofstream f(dir + "/" + formatYymmdd(start) + ".log", std::ios::binary);
        for (std::size_t i = 0; i < lines; ++i) f << "D1 HDD2 was removed, 12/07/26 01:00:00\r\n";
    }
    auto store = makeStdFileStore();
    EventLog log(*store, dir, "", "RAID GUI v0.23.7-3");
    DeviceState dev;
    dev.ActiveDevices[0] = 0x41;
    dev.ActiveCount = 1;
    dev.FirstPass = false;
    dev.EnclosureIdentity[1] = sim::makeIdentityPage();
    const sim::Block both = sim::makeStatusRecord();
    const sim::Block pulled = sim::makeStatusRecord(sim::StatusOptions().setDriveState(1, sim::kDriveAbsent));
    std::array<bool, kDecoderDevices> abort{};
    double clock = start;
    double now = start;
    StatusDecoder decoder(DecoderContext{dev, log, abort, dev.FirstPass, clock, [&] { return now; },
                                         [](int, int, int) {}});
    dev.EnclosureStatus[1] = both;
    decoder.decode(1);  // loads the day and writes the information block
    bool flip = false;
    for (auto _ : st) {
        // Every pass sees drive 2 come or go: one or more lines, one save.
        flip = !flip;
        dev.EnclosureStatus[1] = flip ? pulled : both;
        now += 4;
        decoder.decode(1);
    }
    st.counters["day_lines"] = static_cast<double>(log.lines().size());
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_DecoderPassWithSave)->Arg(10)->Arg(1000)->Arg(100000)->Iterations(2000);

}  // namespace
}  // namespace raid
