// TelemetryReceiver: a small usage-events backend for development and tests.
//
// Accepts exactly the app's wire format on POST <path>: a JSON array holding
// one record with the keys session_id (lower-case UUID), client_timestamp
// (ISO 8601 UTC with milliseconds and Z), app_version, app_id, event_name
// (lower snake case) and event_data (an object), sent with
// "Content-Type: application/json" and "Authorization: Bearer <key>". Each
// record becomes a row of the SQLite table usage_events. Answers:
//   201 stored; 401 missing or wrong key; 415 another content type;
//   400 not JSON; 422 JSON that does not match the record's schema.
//
// Test controls (no key needed; loopback only):
//   POST /__control/fail?count=N&status=S   answer the next N events with S (500)
//   POST /__control/stall?ms=M              hold every event request M ms (0 ends it)
//   GET  /__control/stats                   {"requests": ..., "rows": ...}
//
//   TelemetryReceiver receiver({.anonKey = "k"});
//   if (auto started = receiver.start(); !started) fail(started.error());
//   post events to receiver.endpointURL() ...
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Result.h"

struct sqlite3;
namespace httplib {
class Server;
}

namespace lumo {

class TelemetryReceiver {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: any free port
        std::string databasePath = ":memory:";
        std::string anonKey = "lumo-dev-anon-key";
        std::string path = "/api/database/records/usage_events";
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

    explicit TelemetryReceiver(Options options);
    ~TelemetryReceiver();
    TelemetryReceiver(const TelemetryReceiver&) = delete;
    TelemetryReceiver& operator=(const TelemetryReceiver&) = delete;

    // Opens the database, binds and serves on a thread of its own.
    Status start();
    // Stops serving and ends stalls at once. Idempotent.
    void stop();

    int port() const { return m_port; }
    std::string endpointURL() const;

    void failNext(int count, int status = 500);
    void stall(std::chrono::milliseconds duration);

    // Event requests seen (all answers), and when each arrived.
    std::size_t requestCount() const;
    std::vector<std::chrono::steady_clock::time_point> requestTimes() const;
    // The table, oldest row first.
    std::vector<Row> rows() const;
    std::size_t rowCount() const;

private:
    Status open();
    void handleEvent(const std::string& authorization, const std::string& contentType, const std::string& body,
                     int& status, std::string& answer);
    Status insert(const Row& row);

    Options m_options;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    sqlite3* m_db = nullptr;                                     // guarded by m_mutex
    bool m_stopping = false;                                     // guarded by m_mutex
    int m_failCount = 0;                                         // guarded by m_mutex
    int m_failStatus = 500;                                      // guarded by m_mutex
    std::chrono::milliseconds m_stall{0};                        // guarded by m_mutex
    std::vector<std::chrono::steady_clock::time_point> m_times;  // guarded by m_mutex
};

}  // namespace lumo
