// A process that uses the telemetry service the way the app does, for the
// crash tests:
//
//   telemetry_crash_child record ENDPOINT KEY PENDING_FILE COUNT
//     records COUNT events {"index": i}, prints its process id, then waits
//     to be killed;
//   telemetry_crash_child record-and-die ENDPOINT KEY PENDING_FILE COUNT
//     records COUNT events and kills itself (SIGKILL) the moment the last
//     record() returns.
#include <signal.h>
#include <unistd.h>

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
    if (argc != 6) return 2;
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
    config.retryPause = 1ms;
    config.maximumRetryPause = 20ms;
    // One event per request: a kill in the middle of a flush is likely.
    config.maximumBatchSize = 1;

    lumo::TelemetryService service(config);
    const int count = std::atoi(argv[5]);
    for (int i = 0; i < count; ++i) service.record("offer_action", {{"index", i}});
    if (mode == "record-and-die") ::kill(::getpid(), SIGKILL);
    std::printf("%d\n", static_cast<int>(::getpid()));
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(1s);
}
