// How long one profile() takes.
//
//  - Simulated: the developer's Mac of scenarios/developer-mac.json with every
//    command answering after 200 ms. SlowestDetection times each detection that
//    can be run on its own (a one-shot command as the architecture check runs
//    it; XcodeCLTProbe.path(); Probes.collect()) and reports the slowest;
//    Profile reports the whole profile, and its counter "ratio_to_slowest"
//    divides the two (the detections run concurrently, so the target is at
//    most 1.2).
//  - Live: the profile of this machine with the live services.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/LiveProcessRunner.h"
#include "profiling/SystemProfile.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCommandDelayMs = 200;

const lumo::AppServices& slowServices() {
    static const lumo::AppServices services = [] {
        auto scenario = lumo::loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/developer-mac.json");
        if (!scenario) {
            std::cerr << scenario.error().description << '\n';
            std::abort();
        }
        for (auto& command : scenario->commands) command.delayMs = kCommandDelayMs;
        return lumo::makeSimulatedServices(*scenario);
    }();
    return services;
}

double secondsOf(auto work) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(work());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The slowest detection that runs on its own, in seconds.
double slowestDetection() {
    const auto& services = slowServices();
    const double command = secondsOf([&] { return services.processRunner->run("/usr/bin/uname", {"-m"}).ok(); });
    const double xcode =
        secondsOf([&] { return lumo::XcodeCLTProbe(services.processRunner, services.fs, nullptr).path(); });
    const double java = secondsOf([&] { return lumo::Probes(services, nullptr).collect(); });
    return std::max({command, xcode, java});
}

void SlowestDetection(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(slowestDetection());
}
BENCHMARK(SlowestDetection)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void Profile(benchmark::State& state) {
    const lumo::SystemProfiler profiler(slowServices(), nullptr);
    const double baseline = slowestDetection();
    double total = 0;
    for (auto _ : state) {
        const double seconds = secondsOf([&] { return profiler.profile(); });
        state.SetIterationTime(seconds);
        total += seconds;
    }
    state.counters["ratio_to_slowest"] = total / static_cast<double>(state.iterations()) / baseline;
}
BENCHMARK(Profile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void LiveProfile(benchmark::State& state) {
    const lumo::SystemProfiler profiler(std::make_shared<lumo::LiveProcessRunner>(),
                                        std::make_shared<lumo::LiveFileSystem>(), lumo::currentHostInfo(), nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(profiler.profile());
}
BENCHMARK(LiveProfile)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
