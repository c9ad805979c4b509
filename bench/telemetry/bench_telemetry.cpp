// What record() costs its caller, against the cheapest durable hand-off there
// is: one write(2) of a line of the same size to a file opened O_APPEND.
// record() does that write too, after stamping, cleaning and encoding the
// event. Each call is timed; the medians and their ratio are reported, for
// a receiver that answers at once and for one that holds every request (the
// backlog grows to the queue cap and the journal is compacted meanwhile).
//
//   build/release/bench/telemetry/bench_telemetry
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "BenchStatistics.h"
#include "TelemetryReceiver.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "simulated/SimulatedServices.h"
#include "telemetry/TelemetryService.h"

namespace {

using namespace std::chrono_literals;
using lumo::bench::Clock;

constexpr int kCalls = 20'000;

lumo::JSONObject sampleData() {
    return {{"offer_id", "warp_terminal"},
            {"offer_surface", "audit"},
            {"action", "open"},
            {"result", "opened"},
            {"next_step", "build_software"}};
}

std::string temporaryDirectory() {
    char pattern[] = "/tmp/bench-telemetry-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    return made;
}

lumo::bench::Quantiles bareAppends(const std::string& directory, std::size_t lineSize) {
    const std::string path = directory + "/bare.jsonl";
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    const std::string line(lineSize - 1, 'x');
    const std::string text = line + "\n";
    std::vector<double> times;
    times.reserve(kCalls);
    for (int i = 0; i < kCalls; ++i) {
        const auto start = Clock::now();
        if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
        times.push_back(lumo::bench::microsecondsSince(start));
    }
    ::close(fd);
    return lumo::bench::quantiles(std::move(times));
}

lumo::bench::Quantiles records(const std::string& directory, bool receiverHolds) {
    lumo::TelemetryReceiver receiver(lumo::TelemetryReceiver::Options{.databasePath = ":memory:", .anonKey = "k"});
    if (!receiver.start().ok()) std::abort();
    if (receiverHolds) receiver.stall(600'000ms);

    lumo::TelemetryService::Configuration config;
    config.endpointURL = receiver.endpointURL();
    config.anonKey = "k";
    config.appVersion = "1.0 (1)";
    config.appID = "example.lumo.java";
    config.urlSessionFactory = [] { return std::make_shared<lumo::LiveHTTPFetcher>(); };
    config.kvStore = std::make_shared<lumo::InMemoryKeyValueStore>();
    config.fs = std::make_shared<lumo::LiveFileSystem>();
    config.pendingFileURL = directory + (receiverHolds ? "/held" : "/answered") + "/pending-events.json";
    config.userDefaultsPrefix = "example.lumo";
    config.log = [](const std::string&) {};
    std::vector<double> times;
    times.reserve(kCalls);
    {
        lumo::TelemetryService service(config);
        service.sync();  // loaded: the first record() does not do it
        const auto data = sampleData();
        for (int i = 0; i < kCalls; ++i) {
            const auto start = Clock::now();
            service.record("offer_action", data);
            times.push_back(lumo::bench::microsecondsSince(start));
        }
        service.shutdown();
    }
    receiver.stop();
    return lumo::bench::quantiles(std::move(times));
}

}  // namespace

int main() {
    const std::string directory = temporaryDirectory();
    const auto event = lumo::TelemetryEvent{lumo::UUID::random(), "2026-01-05T09:30:00.125Z", "1.0 (1)",
                                            "offer_action", sampleData()};
    const std::size_t lineSize = lumo::journal::eventLine(event).value().size() + 1;

    const auto bare = bareAppends(directory, lineSize);
    const auto answered = records(directory, false);
    const auto held = records(directory, true);
    std::printf("%d calls each, a %zu-byte journal line\n", kCalls, lineSize);
    std::printf("%-34s %10s %10s %12s\n", "", "median us", "p99 us", "median ratio");
    std::printf("%-34s %10.2f %10.2f %12s\n", "bare O_APPEND write (baseline)", bare.median, bare.p99, "1.00");
    std::printf("%-34s %10.2f %10.2f %12.2f\n", "record(), receiver answering", answered.median, answered.p99,
                answered.median / bare.median);
    std::printf("%-34s %10.2f %10.2f %12.2f\n", "record(), receiver holding all", held.median, held.p99,
                held.median / bare.median);
    std::filesystem::remove_all(directory);
    return 0;
}
