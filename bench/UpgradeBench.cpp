// The firmware upgrade's own cost: a full upgrade through the window's engine on the
// virtual clock, against a simulated enclosure on each path, with 0 and 500 us per
// request. The wall time per request is the engine's own time (with the simulator's,
// which is small: a copy of 512 bytes); beside the device time it must stay small.
#include <benchmark/benchmark.h>

#include <chrono>
#include <unistd.h>

#include "app/MainForm.h"
#include "app/UpgradeOperations.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"
#include "sim/SimPlatform.h"

namespace raid {
namespace {

struct OkDialogs final : DialogPort {
    int messageBox(const std::string&, const std::string&, int) override { return Ok; }
};

void BM_FullUpgrade(benchmark::State& st) {
    const auto path = static_cast<sim::Path>(st.range(0));
    const std::int64_t latencyUs = st.range(1);
    auto sched = makeVirtualScheduler(1796601600.0);
    std::uint64_t requests = 0;
    sim::SimPlatform platform([&](std::int64_t us) {
        ++requests;
        sched->sleepUs(us);
    });
    platform.setLatencyUs(latencyUs);
    platform.addPlainDisk(0);
    platform.attach(1, path, sim::makeIdentityPage(), sim::makeStatusRecord());
    sim::FirmwareImageOptions o;
    o.subCodes.assign(5, sim::SubCodeOptions{});
    const std::string image = "/tmp/raid-bench-fw-" + std::to_string(getpid()) + ".bin";
    sim::writeFlashFile(image, sim::makeFirmwareImage(o));
    OkDialogs dialogs;
    Controls controls;
    MainForm form(Ports{*sched, platform, platform, dialogs, nullptr, nullptr, nullptr, "/tmp", "/tmp"}, controls);
    form.FormCreate();
    sched->run(6'000'000);
    form.Click(names::Image_FWUpg);
    loadFirmwareImage(form, image);
    std::remove(image.c_str());

    std::uint64_t upgradeRequests = 0;
    double wall = 0;
    std::int64_t virtualUs = 0;
    for (auto _ : st) {
        const std::int64_t from = sched->nowUs();
        sched->post([&] {
            const std::uint64_t before = requests;
            const auto t0 = std::chrono::steady_clock::now();
            form.Click(names::Image2_Upgrade);
            wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            upgradeRequests += requests - before;
        });
        // Long enough for the upgrade's device time; the polls after it cost next to nothing.
        std::int64_t end = 0;
        sched->run(sched->nowUs() + 30'000'000);
        end = sched->nowUs();
        virtualUs += end - from;
    }
    const double n = static_cast<double>(st.iterations());
    const double perUpgrade = static_cast<double>(upgradeRequests) / n;
    st.counters["requests"] = perUpgrade;
    st.counters["engine_us_per_request"] = wall * 1e6 / static_cast<double>(upgradeRequests);
    st.counters["device_s"] = perUpgrade * static_cast<double>(latencyUs) / 1e6;
    st.counters["virtual_s_with_idle"] = static_cast<double>(virtualUs) / 1e6 / n;
    if (latencyUs > 0)
        st.counters["engine_pct_of_device"] =
            100.0 * wall / (static_cast<double>(upgradeRequests) * static_cast<double>(latencyUs) / 1e6);
}
BENCHMARK(BM_FullUpgrade)
    ->ArgNames({"path", "latency_us"})
    ->ArgsProduct({{static_cast<long>(sim::Path::Mailbox), static_cast<long>(sim::Path::Ata),
                    static_cast<long>(sim::Path::Vu1)},
                   {0, 500}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
}  // namespace raid
