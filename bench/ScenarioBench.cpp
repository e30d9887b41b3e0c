// One virtual day of an idle enclosure with 0, 10,000 and 100,000 scenario steps:
// what each step costs, and that the steps cost nothing while they wait.
#include <benchmark/benchmark.h>

#include "sim/Records.h"
#include "sim/run/SimRunner.h"

namespace {

raid::sim::Scenario dayScenario(int steps, bool fire) {
    using raid::sim::ScenarioStep;
    raid::sim::Scenario sc = raid::sim::defaultScenario();
    sc.name = "bench";
    const double day = 86400;
    for (int i = 0; i < steps; ++i) {
        ScenarioStep s;
        // Steps that fire are spread over the day; the others all wait past its end.
        s.seconds = fire ? 10 + (day - 20) * i / steps : day + 1 + i;
        s.verb = "status";
        s.drive = 1;
        s.status = raid::sim::makeStatusRecord();
        s.line = i + 10;
        sc.steps.push_back(s);
    }
    return sc;
}

void VirtualDay(benchmark::State& state, bool fire) {
    const int steps = static_cast<int>(state.range(0));
    for (auto _ : state) {
        raid::sim::RunOptions o;
        o.untilSeconds = 86400;
        o.startWallSeconds = 1796601600.0;
        o.logDir = "/tmp/raid-gui-bench-logs";
        o.fallbackLogDir = "/tmp/raid-gui-bench-logs/fallback";
        raid::sim::SimRunner runner(o, nullptr);
        runner.useScenario(dayScenario(steps, fire));
        std::string error;
        if (!runner.start(error)) state.SkipWithError(error.c_str());
        runner.run();
    }
    state.counters["steps"] = steps;
}

void BM_VirtualDayStepsWaiting(benchmark::State& s) { VirtualDay(s, false); }
void BM_VirtualDayStepsFiring(benchmark::State& s) { VirtualDay(s, true); }

}  // namespace

BENCHMARK(BM_VirtualDayStepsWaiting)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_VirtualDayStepsFiring)->Arg(0)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);
