// What record() costs its caller while the receiver stalls every request,
// against the cheapest hand-off there is: pushing the same event onto a
// std::deque under a mutex. Report the ratio of the two.
//
//   build/release/bench/telemetry/bench_telemetry
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

#include "TelemetryReceiver.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "simulated/SimulatedServices.h"
#include "telemetry/TelemetryService.h"

namespace {

using namespace std::chrono_literals;

constexpr int kIterations = 20'000;

lumo::JSONObject sampleData() {
    return {{"offer_id", "warp_terminal"},
            {"offer_surface", "audit"},
            {"action", "open"},
            {"result", "opened"},
            {"next_step", "build_software"}};
}

void BM_DequeUnderMutex(benchmark::State& state) {
    std::mutex mutex;
    std::deque<std::pair<std::string, lumo::JSONObject>> queue;
    const auto data = sampleData();
    for (auto _ : state) {
        std::lock_guard lock(mutex);
        queue.emplace_back("offer_action", data);
    }
    benchmark::DoNotOptimize(queue.size());
}
BENCHMARK(BM_DequeUnderMutex)->Iterations(kIterations)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_RecordWhileReceiverStalls(benchmark::State& state) {
    char pattern[] = "/tmp/bench-telemetry-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    lumo::TelemetryReceiver receiver(lumo::TelemetryReceiver::Options{.databasePath = ":memory:", .anonKey = "k"});
    if (!receiver.start().ok()) return state.SkipWithError("the receiver did not start");
    receiver.stall(600'000ms);

    lumo::TelemetryService::Configuration config;
    config.endpointURL = receiver.endpointURL();
    config.anonKey = "k";
    config.appVersion = "1.0 (1)";
    config.appID = "example.lumo.java";
    config.urlSessionFactory = [] { return std::make_shared<lumo::LiveHTTPFetcher>(); };
    config.kvStore = std::make_shared<lumo::InMemoryKeyValueStore>();
    config.fs = std::make_shared<lumo::LiveFileSystem>();
    config.pendingFileURL = directory + "/Lumora/pending-events.json";
    config.userDefaultsPrefix = "example.lumo";
    config.log = [](const std::string&) {};
    {
        lumo::TelemetryService service(config);
        service.record("app_launched");  // the first send hangs in the stalled receiver
        while (receiver.requestCount() == 0) std::this_thread::sleep_for(1ms);

        const auto data = sampleData();
        for (auto _ : state) service.record("offer_action", data);

        service.shutdown();  // after the timed loop: persists the backlog, cancels the stalled send
    }
    receiver.stop();
    std::filesystem::remove_all(directory);
}
BENCHMARK(BM_RecordWhileReceiverStalls)->Iterations(kIterations)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
