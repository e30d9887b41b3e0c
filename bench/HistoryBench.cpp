// The history's costs: one sample appended to an enclosure's day file (real files in
// /tmp), and what the recorder adds to a poll - every 4 s, of which one a minute
// writes. The disk use per enclosure and day is the counter bytes_per_day.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

#include "monitor/HistoryRecorder.h"
#include "monitor/HistoryStore.h"
#include "sim/Records.h"

namespace raid {
namespace {

std::string tempDir() {
    char pattern[] = "/tmp/raidgui-bench-XXXXXX";
    return mkdtemp(pattern);
}

void BM_HistoryAppendOneSample(benchmark::State& st) {
    const std::string dir = tempDir();
    auto files = makeStdFileStore();
    HistoryStore store(*files, dir + "/history", 90);
    HistorySample s;
    s.temperature = 41;
    s.fanSpeed = 3000;
    std::int64_t minute = 1796601600;
    for (auto _ : st) {
        s.minute = minute;
        minute += 60;
        benchmark::DoNotOptimize(store.add("SIM DUAL BAY RAID ENCLOSURE|SIMENC00000000000001", "label", s));
    }
    st.counters["bytes_per_day"] = static_cast<double>(HistoryStore::kMaxFileBytes);
    st.counters["bytes_per_90_days"] = static_cast<double>(90 * HistoryStore::kMaxFileBytes);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_HistoryAppendOneSample)->Iterations(20000);

// One poll's share of the recorder, the poll every `range(0)` seconds: 4 is the
// engine's pace (one poll in 15 writes), 60 makes every poll write.
void BM_RecorderAfterPoll(benchmark::State& st) {
    const std::string dir = tempDir();
    auto files = makeStdFileStore();
    HistoryStore store(*files, dir + "/history", 90);
    HistoryRecorder recorder(store);
    DeviceState dev;
    dev.ActiveDevices[0] = 0x41;
    dev.ActiveCount = 1;
    dev.EnclosureIdentity[1] = sim::makeIdentityPage();
    dev.EnclosureStatus[1] = sim::makeStatusRecord(sim::StatusOptions().setFan(0xA0, 3000, 40));
    double now = 1796601600.0;
    const double step = static_cast<double>(st.range(0));
    for (auto _ : st) {
        recorder.afterPoll(dev, 1, now);
        now += step;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_RecorderAfterPoll)->Arg(4)->Arg(60)->Iterations(20000);

}  // namespace
}  // namespace raid
