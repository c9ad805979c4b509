// TelemetryReceiver: a small usage-events backend for development and tests.
//
// Accepts the app's wire format on POST <path> (see EventRequest.h for what
// a request must be and how each fault is answered) and stores every record
// of an accepted request, all or none, as a row of the SQLite table
// usage_events; answers 201 then. A request is bounded in size, nesting and
// time (HTTPServer.h): a slow or hostile client cannot exhaust the
// receiver's memory, stack or threads.
//
// Test controls, over HTTP only when started with enableTestControls and
// only from a loopback address (404 otherwise):
//   POST /__control/fail?count=N&status=S   answer the next N event requests with S
//                                           (N 0..1000000, default 1; S 100..599, default 500)
//   POST /__control/stall?ms=M              hold every event request M ms (0..600000; 0 ends it)
//   GET  /__control/stats                   {"requests": ..., "rows": ...}
// and in-process through the methods below.
//
//   TelemetryReceiver receiver({.anonKey = "k"});
//   if (auto started = receiver.start(); !started) fail(started.error());
//   post events to receiver.endpointURL() ...
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HTTPServer.h"
#include "platform/Result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace lumo {

class TelemetryReceiver {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: any free port
        std::string databasePath = ":memory:";
        std::string anonKey = "lumo-dev-anon-key";
        std::string path = "/api/database/records/usage_events";
        bool enableTestControls = false;
        BoundedHTTPServer::Limits limits{};
    };

    struct Row {
        std::int64_t id = 0;
        std::string sessionID;
        std::string clientTimestamp;
        std::string appVersion;
        std::string appID;
        std::string eventName;
        std::string eventData;  // JSON text
        std::string receivedAt;
    };

    // How many arrival times requestTimes() keeps (the latest).
    static constexpr std::size_t kKeptRequestTimes = 10'000;

    explicit TelemetryReceiver(Options options);
    ~TelemetryReceiver();
    TelemetryReceiver(const TelemetryReceiver&) = delete;
    TelemetryReceiver& operator=(const TelemetryReceiver&) = delete;

    // Opens the database, binds and serves on threads of its own.
    Status start();
    // Stops serving and ends stalls at once. Idempotent.
    void stop();

    int port() const { return m_port; }
    std::string endpointURL() const;

    // Answers the next `count` event requests with `status`.
    void failNext(int count, int status = 500);
    // Answers every event request that holds a record named `eventName` with
    // `status` (0 ends it).
    void failEventsNamed(const std::string& eventName, int status);
    void stall(std::chrono::milliseconds duration);

    // Event requests seen (all answers), and when the latest ones arrived.
    std::size_t requestCount() const;
    std::vector<std::chrono::steady_clock::time_point> requestTimes() const;
    // The table, oldest row first.
    std::vector<Row> rows() const;
    std::size_t rowCount() const;

    // Answers one request as the server does.
    ServerResponse handle(const ServerRequest& request);

private:
    Status open();
    ServerResponse control(const ServerRequest& request);
    ServerResponse handleEvent(const ServerRequest& request);
    Status insert(const std::vector<Row>& rows);

    Options m_options;
    std::unique_ptr<BoundedHTTPServer> m_server;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    sqlite3* m_db = nullptr;                                    // guarded by m_mutex
    sqlite3_stmt* m_insert = nullptr;                           // guarded by m_mutex; prepared once
    bool m_stopping = false;                                    // guarded by m_mutex
    int m_failCount = 0;                                        // guarded by m_mutex
    int m_failStatus = 500;                                     // guarded by m_mutex
    std::string m_failingEvent;                                 // guarded by m_mutex
    int m_failingEventStatus = 0;                               // guarded by m_mutex
    std::chrono::milliseconds m_stall{0};                       // guarded by m_mutex
    std::size_t m_requests = 0;                                 // guarded by m_mutex
    std::deque<std::chrono::steady_clock::time_point> m_times;  // guarded by m_mutex; the latest kKeptRequestTimes
};

}  // namespace lumo
