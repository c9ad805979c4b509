// A process that uses the telemetry service the way the app does, for the
// crash test:
//
//   telemetry_crash_child record ENDPOINT KEY PENDING_FILE COUNT
//     records COUNT events {"index": i}, prints "persisted" once they are all
//     in the pending file, then waits to be killed;
//   telemetry_crash_child deliver ENDPOINT KEY PENDING_FILE
//     starts a service, which loads the pending file, and exits 0 once the
//     queue is empty (1 after 60 s).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "simulated/SimulatedServices.h"
#include "telemetry/TelemetryService.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    if (argc < 5) return 2;
    const std::string mode = argv[1];
    lumo::TelemetryService::Configuration config;
    config.endpointURL = argv[2];
    config.anonKey = argv[3];
    config.pendingFileURL = argv[4];
    config.appVersion = "1.0 (7)";
    config.appID = "example.lumo.java";
    config.urlSessionFactory = [] { return std::make_shared<lumo::LiveHTTPFetcher>(); };
    config.kvStore = std::make_shared<lumo::InMemoryKeyValueStore>();
    config.fs = std::make_shared<lumo::LiveFileSystem>();
    config.userDefaultsPrefix = "example.lumo";
    config.retryPauses = {20ms, 40ms};

    lumo::TelemetryService service(config);
    if (mode == "record" && argc == 6) {
        const int count = std::atoi(argv[5]);
        for (int i = 0; i < count; ++i) service.record("offer_action", {{"index", i}});
        service.waitUntilPersisted();
        std::printf("persisted\n");
        std::fflush(stdout);
        for (;;) std::this_thread::sleep_for(1s);
    }
    if (mode == "deliver") {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto state = service.snapshot();
            if (state.pending.empty() && !state.isFlushing) return 0;
            std::this_thread::sleep_for(10ms);
        }
        return 1;
    }
    return 2;
}
