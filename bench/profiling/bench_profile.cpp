// How long one profile() takes.
//
//  - Concurrency: the developer's Mac of scenarios/developer-mac.json with
//    every program the profiler runs directly (not the login shell) pinned to
//    answer after 200 ms. SlowestDetection times each detection that can be run
//    on its own (a one-shot command as the architecture check runs
//    it; XcodeCLTProbe.path(); Probes.collect()) and reports the
//    slowest; Profile reports the whole profile, and its counter
//    "ratio_to_slowest" divides the two (the detections run concurrently, so
//    the target is at most 1.2).
//  - The simulated Mac's cost: FirstProfile/<scenario> times loading the
//    scenario, making its Mac and taking the first profile there, against the
//    live profile of this machine with HOME set to a directory holding the
//    same home files and the scenario's login shell, run alternately in the
//    same process; its counter "ratio_to_live" divides the two (target: at
//    most 1.5), and "making_ms" is the part that made the Mac.
//  - Live: the profile of this machine with the live services.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include <sys/resource.h>

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
        const std::vector<std::vector<std::string>> programs = {
            {"/usr/bin/uname", "-m"},           {"/usr/bin/xcode-select", "-p"},  {"/usr/libexec/java_home", "-V"},
            {"/usr/bin/which", "java"},         {"/usr/bin/which", "mise"},       {"/usr/bin/which", "claude"},
            {"/usr/bin/which", "codex"},        {"/usr/bin/which", "aider"}};
        for (const auto& argv : programs) {
            lumo::ScenarioCommand command;
            command.argv = argv;
            command.delayMs = kCommandDelayMs;
            scenario->commands.push_back(command);
        }
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

lumo::Scenario bundled(const std::string& name) {
    auto scenario = lumo::loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name);
    if (!scenario) {
        std::cerr << scenario.error().description << '\n';
        std::abort();
    }
    return *scenario;
}

// A directory holding the scenario's home files (its text files and folders
// under the home), the live machine's stand-in for the same home.
class SameHome {
public:
    explicit SameHome(const lumo::Scenario& scenario) {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumo-bench-home-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        m_path = pattern;
        const std::string prefix = scenario.home + "/";
        for (const auto& [path, file] : scenario.files) {
            if (path.rfind(prefix, 0) != 0 || !file.symlink.empty() || !file.standIn.empty()) continue;
            const auto target = std::filesystem::path(m_path) / path.substr(prefix.size());
            if (file.directory) {
                std::filesystem::create_directories(target);
                continue;
            }
            std::filesystem::create_directories(target.parent_path());
            std::ofstream(target, std::ios::binary) << file.contents;
        }
    }
    ~SameHome() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// CPU seconds this process and its waited-for children have used so far.
double cpuSeconds() {
    double total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime})
            total += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    }
    return total;
}

void FirstProfile(benchmark::State& state, const std::string& name) {
    const lumo::Scenario scenario = bundled(name);
    const SameHome home(scenario);
    const std::string ownHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", home.path().c_str(), 1);
    // The scenario's login shell, not this account's: root's bash would read
    // none of a zsh user's start-up files.
    lumo::HostInfo host = lumo::currentHostInfo();
    host.userShell = lumo::loginShell(scenario);
    const lumo::SystemProfiler live(std::make_shared<lumo::LiveProcessRunner>(),
                                    std::make_shared<lumo::LiveFileSystem>(), host, nullptr);
    double liveTotal = 0, liveCPU = 0;
    double simulatedTotal = 0, simulatedCPU = 0, makingTotal = 0;
    for (auto _ : state) {
        double before = cpuSeconds();
        liveTotal += secondsOf([&] { return live.profile(); });
        liveCPU += cpuSeconds() - before;
        std::optional<lumo::AppServices> services;
        before = cpuSeconds();
        double making = 0;
        const double seconds = secondsOf([&] {
            making = secondsOf([&] { return (services = lumo::makeSimulatedServices(bundled(name))).has_value(); });
            return lumo::SystemProfiler(*services, nullptr).profile();
        });
        makingTotal += making;
        simulatedCPU += cpuSeconds() - before;
        services.reset();  // the sandbox goes away outside the measurement
        state.SetIterationTime(seconds);
        simulatedTotal += seconds;
    }
    ::setenv("HOME", ownHome.c_str(), 1);
    state.counters["live_ms"] = liveTotal / static_cast<double>(state.iterations()) * 1000;
    state.counters["ratio_to_live"] = simulatedTotal / liveTotal;
    // Of the simulated side, loading the scenario and making its Mac; the
    // rest is the Mac's programs running.
    state.counters["making_ms"] = makingTotal / static_cast<double>(state.iterations()) * 1000;
    // CPU time, the children's included: what the work costs, whatever else the machine runs.
    state.counters["cpu_ratio_to_live"] = simulatedCPU / liveCPU;
}
BENCHMARK_CAPTURE(FirstProfile, no_jdk, std::string("no-jdk.json"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(FirstProfile, developer_mac, std::string("developer-mac.json"))
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

void LiveProfile(benchmark::State& state) {
    const lumo::SystemProfiler profiler(std::make_shared<lumo::LiveProcessRunner>(),
                                        std::make_shared<lumo::LiveFileSystem>(), lumo::currentHostInfo(), nullptr);
    for (auto _ : state) benchmark::DoNotOptimize(profiler.profile());
}
BENCHMARK(LiveProfile)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
