// Detection cost: requests per detection pass on the simulator, and the engine's
// own time per request (measured against a port that answers at once, so what is
// left is our request building, the checks and the bookkeeping around them).
#include <benchmark/benchmark.h>

#include <cstring>

#include "device/Discovery.h"
#include "device/StatusRead.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace raid {
namespace {

// Answers every request successfully and instantly, with the "3X" mark in every
// 512-byte answer, so every drive looks like an enclosure on every path.
class InstantPort final : public StoragePort {
public:
    DriveHandle open(std::uint8_t) override { return 1; }
    void close(DriveHandle) override {}
    bool scsiPassThrough(DriveHandle, std::uint8_t* request, std::uint8_t* data) override {
        std::uint32_t len;
        std::memcpy(&len, request + spt::kDataTransferLength, 4);
        if (request[spt::kDataIn] && len >= 512) {
            data[0] = 0;
            data[258] = '3';
            data[259] = 'X';
        }
        return true;
    }
    bool idePassThrough(DriveHandle, std::uint8_t*, std::size_t) override { return true; }
    bool rescanBus(DriveHandle) override { return true; }
    bool volumeDiskExtents(DriveHandle, DiskExtent& e) override {
        e = {};
        return true;
    }
};

class NoVolumes final : public VolumePort {
public:
    std::uint32_t logicalDriveMask() override { return 0x1C; }  // C D E
    std::uint8_t driveType(char) override { return kDriveFixed; }
};

void BM_EngineTimePerRequest(benchmark::State& st) {
    auto sched = makeVirtualScheduler(0);
    InstantPort port;
    NoVolumes volumes;
    XorShiftRandom random;
    NullDeviceReport report;
    Transport t(port, *sched, random, report);
    DeviceState state;
    Discovery d(t, volumes, state);
    d.EnumerateLetters();
    d.CountPhysicalDrives();
    const std::uint64_t before = t.requestCount();
    for (auto _ : st) d.DetectionPass();
    const double requests = static_cast<double>(t.requestCount() - before);
    st.counters["requests_per_pass"] = requests / static_cast<double>(st.iterations());
    st.counters["time_per_request"] =
        benchmark::Counter(requests, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EngineTimePerRequest);

// A realistic machine on the zero-latency simulator: a plain system disk and one
// enclosure on each path.
void BM_DetectionPassOnSimulator(benchmark::State& st) {
    auto sched = makeVirtualScheduler(0);
    sim::SimPlatform platform;
    const sim::Block status = sim::makeStatusRecord();
    platform.addPlainDisk(0);
    platform.addVolume('C', 0);
    platform.attach(1, sim::Path::Mailbox, sim::makeIdentityPage(sim::IdentityOptions().setModel("A")), status);
    platform.addVolume('E', 1);
    platform.attach(2, sim::Path::Vu1, sim::makeIdentityPage(sim::IdentityOptions().setModel("B")), status);
    platform.attach(3, sim::Path::Vu2, sim::makeIdentityPage(sim::IdentityOptions().setModel("C")), status);
    platform.attach(4, sim::Path::Ata, sim::makeIdentityPage(sim::IdentityOptions().setModel("D")), status);
    XorShiftRandom random;
    NullDeviceReport report;
    Transport t(platform, *sched, random, report);
    DeviceState state;
    Discovery d(t, platform, state);
    d.EnumerateLetters();
    d.CountPhysicalDrives();
    const std::uint64_t before = t.requestCount();
    for (auto _ : st) d.DetectionPass();
    const double requests = static_cast<double>(t.requestCount() - before);
    st.counters["requests_per_pass"] = requests / static_cast<double>(st.iterations());
    st.counters["time_per_request"] =
        benchmark::Counter(requests, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    st.counters["found"] = state.FoundCount;
}
BENCHMARK(BM_DetectionPassOnSimulator);

}  // namespace
}  // namespace raid

BENCHMARK_MAIN();
