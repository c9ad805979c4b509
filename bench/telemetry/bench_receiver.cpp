// The receiver under load, against cpp-httplib answering a constant 201 in
// the same run: 10,000 events (one per request) from 32 concurrent
// keep-alive clients. Reports events per second and latency quantiles of
// both, their ratios, and the receiver's latency again while 8 slow clients
// trickle request heads at it. Checks that every event was stored exactly
// once. The receiver stores into a SQLite file as it does in use; with
// --in-memory into a database in memory, which leaves the HTTP layer's own
// cost (the file's writes and checkpoints make most of the tail).
//
//   build/release/bench/telemetry/bench_receiver [--in-memory]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "BenchStatistics.h"
#include "TelemetryReceiver.h"

namespace {

using namespace std::chrono_literals;
using lumo::bench::Clock;

constexpr int kEvents = 10'000;
constexpr int kClients = 32;
constexpr int kSlowClients = 8;
constexpr const char* kPath = "/api/database/records/usage_events";

struct LoadResult {
    double eventsPerSecond = 0;
    lumo::bench::Quantiles latency;
    int failures = 0;
};

std::string eventBody(int run, int client, int index) {
    return nlohmann::json::array({{{"session_id", "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"},
                                   {"client_timestamp", "2026-01-05T09:30:00.125Z"},
                                   {"app_version", "1.0 (1)"},
                                   {"app_id", "example.lumo.java"},
                                   {"event_name", "offer_action"},
                                   {"event_data", {{"run", run}, {"client", client}, {"index", index}}}}})
        .dump();
}

LoadResult load(int port, int run) {
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int> failures{0};
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);  // else every request waits out a delayed ACK
            client.set_read_timeout(60, 0);
            const httplib::Headers headers{{"Authorization", "Bearer k"}};
            for (int i = c; i < kEvents; i += kClients) {
                const std::string body = eventBody(run, c, i);
                const auto sent = Clock::now();
                const auto response = client.Post(kPath, headers, body, "application/json");
                latencies[static_cast<std::size_t>(c)].push_back(lumo::bench::microsecondsSince(sent));
                if (!response || response->status != 201) ++failures;
            }
        });
    }
    for (auto& client : clients) client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (const auto& each : latencies) all.insert(all.end(), each.begin(), each.end());
    return {kEvents / seconds, lumo::bench::quantiles(std::move(all)), failures.load()};
}

// Clients that send a request head one byte at a time, 100 ms apart, and
// start again whenever the server lets them go.
class SlowClients {
public:
    explicit SlowClients(int port) {
        for (int i = 0; i < kSlowClients; ++i) m_threads.emplace_back([this, port] { trickle(port); });
    }
    ~SlowClients() {
        m_stop = true;
        for (auto& thread : m_threads) thread.join();
    }

private:
    void trickle(int port) {
        const std::string head = std::string("POST ") + kPath + " HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer k\r\n";
        while (!m_stop) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<std::uint16_t>(port));
            ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
                for (std::size_t i = 0; !m_stop; i = (i + 1) % head.size()) {
                    if (::send(fd, &head[i], 1, MSG_NOSIGNAL) != 1) break;
                    std::this_thread::sleep_for(100ms);
                }
            }
            ::close(fd);
        }
    }

    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

void print(const char* name, const LoadResult& result) {
    std::printf("%-42s %10.0f %10.0f %10.0f %9d\n", name, result.eventsPerSecond, result.latency.median,
                result.latency.p99, result.failures);
}

}  // namespace

int main(int argc, char** argv) {
    const bool inMemory = argc > 1 && std::string(argv[1]) == "--in-memory";
    char pattern[] = "/tmp/bench-receiver-XXXXXX";
    const std::string directory = mkdtemp(pattern);

    httplib::Server constant;
    constant.new_task_queue = [] { return new httplib::ThreadPool(64); };
    constant.set_tcp_nodelay(true);
    constant.set_keep_alive_max_count(1000);  // as the receiver's
    constant.Post(kPath, [](const httplib::Request&, httplib::Response& response) { response.status = 201; });
    const int constantPort = constant.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { constant.listen_after_bind(); });
    while (!constant.is_running()) std::this_thread::sleep_for(1ms);
    const LoadResult baseline = load(constantPort, 0);
    constant.stop();
    serving.join();

    lumo::TelemetryReceiver::Options options;
    options.databasePath = inMemory ? ":memory:" : directory + "/rx.sqlite3";
    options.anonKey = "k";
    lumo::TelemetryReceiver receiver(options);
    if (!receiver.start().ok()) return 1;
    const LoadResult plain = load(receiver.port(), 1);
    LoadResult slowed;
    {
        SlowClients slow(receiver.port());
        std::this_thread::sleep_for(500ms);  // let them take their threads
        slowed = load(receiver.port(), 2);
    }

    std::set<std::tuple<int, int, int>> seen;
    const auto rows = receiver.rows();
    for (const auto& row : rows) {
        const auto data = nlohmann::json::parse(row.eventData);
        seen.emplace(data["run"].get<int>(), data["client"].get<int>(), data["index"].get<int>());
    }
    receiver.stop();

    std::printf("%d events, one per request, from %d keep-alive clients\n", kEvents, kClients);
    std::printf("%-42s %10s %10s %10s %9s\n", "", "events/s", "p50 us", "p99 us", "failures");
    print("cpp-httplib, constant 201 (baseline)", baseline);
    print(inMemory ? "telemetry-receiver (SQLite in memory)" : "telemetry-receiver (SQLite file, WAL)", plain);
    print("telemetry-receiver, 8 slow clients", slowed);
    std::printf("ratios to the baseline: events/s %.2f, p99 %.2f; p99 with slow clients %.2f\n",
                plain.eventsPerSecond / baseline.eventsPerSecond, plain.latency.p99 / baseline.latency.p99,
                slowed.latency.p99 / baseline.latency.p99);
    const std::size_t expected = 2 * kEvents;
    const bool exactlyOnce = rows.size() == expected && seen.size() == expected;
    std::printf("stored: %zu rows, %zu distinct events, of %zu sent: %s\n", rows.size(), seen.size(), expected,
                exactlyOnce ? "each exactly once" : "MISMATCH");
    std::filesystem::remove_all(directory);
    return exactlyOnce ? 0 : 1;
}
