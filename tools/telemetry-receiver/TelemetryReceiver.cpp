#include "TelemetryReceiver.h"

#include <sqlite3.h>

#include <charconv>
#include <optional>

#include <nlohmann/json.hpp>

#include "EventRequest.h"
#include "platform/Time.h"

namespace lumo {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS usage_events (
  id               INTEGER PRIMARY KEY AUTOINCREMENT,
  session_id       TEXT NOT NULL,
  client_timestamp TEXT NOT NULL,
  app_version      TEXT NOT NULL,
  app_id           TEXT NOT NULL,
  event_name       TEXT NOT NULL,
  event_data       TEXT NOT NULL,
  received_at      TEXT NOT NULL
);)sql";

Error databaseError(sqlite3* db, const std::string& context) {
    return Error{"SQLite", db ? sqlite3_errcode(db) : SQLITE_ERROR,
                 context + ": " + (db ? sqlite3_errmsg(db) : "cannot open")};
}

ServerResponse answer(int status, const std::string& text = {}) {
    ServerResponse response;
    response.status = status;
    if (!text.empty()) {
        response.body =
            nlohmann::json{{"message", text}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }
    return response;
}

bool isLoopback(const std::string& address) { return address == "::1" || address.rfind("127.", 0) == 0; }

// An integer query parameter within [low, high]; `fallback` when absent;
// nothing when malformed or out of range.
std::optional<long> boundedParameter(const HTTPRequestHead& head, const char* name, long fallback, long low,
                                     long high) {
    const auto text = head.queryValue(name);
    if (!text) return fallback;
    long value = 0;
    const char* end = text->data() + text->size();
    const auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end || value < low || value > high) return std::nullopt;
    return value;
}

}  // namespace

TelemetryReceiver::TelemetryReceiver(Options options) : m_options(std::move(options)) {}

TelemetryReceiver::~TelemetryReceiver() {
    stop();
    m_server.reset();  // no handler runs from here on
    std::lock_guard lock(m_mutex);
    sqlite3_finalize(m_insert);
    if (m_db) sqlite3_close(m_db);
}

std::string TelemetryReceiver::endpointURL() const {
    const bool v6 = m_options.host.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + m_options.host + "]" : m_options.host) + ":" + std::to_string(m_port) +
           m_options.path;
}

Status TelemetryReceiver::open() {
    std::lock_guard lock(m_mutex);
    if (m_db) return {};
    if (sqlite3_open(m_options.databasePath.c_str(), &m_db) != SQLITE_OK) {
        Error error = databaseError(m_db, "cannot open " + m_options.databasePath);
        sqlite3_close(m_db);
        m_db = nullptr;
        return error;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // A development store: durable across a crash of the receiver, without a
    // disk flush per row.
    sqlite3_exec(m_db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    if (sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK)
        return databaseError(m_db, "cannot create usage_events");
    const char* sql =
        "INSERT INTO usage_events (session_id, client_timestamp, app_version, app_id, event_name, event_data, "
        "received_at) VALUES (?, ?, ?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v2(m_db, sql, -1, &m_insert, nullptr) != SQLITE_OK) return databaseError(m_db, "insert");
    return {};
}

Status TelemetryReceiver::start() {
    if (auto opened = open(); !opened) return opened;
    m_server = std::make_unique<BoundedHTTPServer>(m_options.limits,
                                                   [this](const ServerRequest& request) { return handle(request); });
    auto port = m_server->listen(m_options.host, m_options.port);
    if (!port) return port.error();
    m_port = *port;
    return {};
}

void TelemetryReceiver::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    if (m_server) m_server->stop();
}

ServerResponse TelemetryReceiver::handle(const ServerRequest& request) {
    const auto& head = request.head;
    if (head.path == m_options.path) {
        if (head.method != "POST") return answer(405, "POST usage events here");
        return handleEvent(request);
    }
    if (head.path.rfind("/__control/", 0) == 0 && m_options.enableTestControls && isLoopback(request.remoteAddress))
        return control(request);
    return answer(404, "not found");
}

ServerResponse TelemetryReceiver::control(const ServerRequest& request) {
    const auto& head = request.head;
    if (head.path == "/__control/fail" && head.method == "POST") {
        const auto count = boundedParameter(head, "count", 1, 0, 1'000'000);
        const auto status = boundedParameter(head, "status", 500, 100, 599);
        if (!count || !status) return answer(400, "count must be 0..1000000 and status 100..599");
        failNext(static_cast<int>(*count), static_cast<int>(*status));
        return answer(204);
    }
    if (head.path == "/__control/stall" && head.method == "POST") {
        const auto ms = boundedParameter(head, "ms", 0, 0, 600'000);
        if (!ms) return answer(400, "ms must be 0..600000");
        stall(std::chrono::milliseconds(*ms));
        return answer(204);
    }
    if (head.path == "/__control/stats" && head.method == "GET") {
        ServerResponse response;
        response.body = nlohmann::json{{"requests", requestCount()}, {"rows", rowCount()}}.dump();
        return response;
    }
    return answer(404, "not found");
}

void TelemetryReceiver::failNext(int count, int status) {
    std::lock_guard lock(m_mutex);
    m_failCount = count;
    m_failStatus = status;
}

void TelemetryReceiver::failEventsNamed(const std::string& eventName, int status) {
    std::lock_guard lock(m_mutex);
    m_failingEvent = eventName;
    m_failingEventStatus = status;
}

void TelemetryReceiver::stall(std::chrono::milliseconds duration) {
    {
        std::lock_guard lock(m_mutex);
        m_stall = duration;
    }
    m_stopped.notify_all();  // a shorter stall ends the waits in progress
}

std::size_t TelemetryReceiver::requestCount() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::chrono::steady_clock::time_point> TelemetryReceiver::requestTimes() const {
    std::lock_guard lock(m_mutex);
    return {m_times.begin(), m_times.end()};
}

ServerResponse TelemetryReceiver::handleEvent(const ServerRequest& request) {
    {
        std::unique_lock lock(m_mutex);
        const auto arrived = std::chrono::steady_clock::now();
        ++m_requests;
        m_times.push_back(arrived);
        if (m_times.size() > kKeptRequestTimes) m_times.pop_front();
        // m_stall may change while waiting (a shorter stall ends the wait).
        while (!m_stopping && std::chrono::steady_clock::now() < arrived + m_stall) {
            m_stopped.wait_until(lock, arrived + m_stall);
        }
        if (m_failCount > 0) {
            --m_failCount;
            return answer(m_failStatus, "failing on request");
        }
    }
    const auto decision = decodeEventRequest(request.head.header("Authorization").value_or(""),
                                             request.head.header("Content-Type").value_or(""), request.body,
                                             m_options.anonKey);
    if (decision.status != 201) return answer(decision.status, decision.message);
    {
        std::lock_guard lock(m_mutex);
        if (m_failingEventStatus != 0) {
            for (const auto& record : decision.records) {
                if (record.eventName == m_failingEvent) return answer(m_failingEventStatus, "failing on this event");
            }
        }
    }
    const std::string receivedAt = iso8601Milliseconds(std::chrono::system_clock::now());
    std::vector<Row> rows;
    rows.reserve(decision.records.size());
    for (const auto& record : decision.records) {
        rows.push_back(Row{0, record.sessionID, record.clientTimestamp, record.appVersion, record.appID,
                           record.eventName, record.eventData, receivedAt});
    }
    if (auto inserted = insert(rows); !inserted) return answer(500, inserted.error().description);
    return answer(201);
}

Status TelemetryReceiver::insert(const std::vector<Row>& rows) {
    std::lock_guard lock(m_mutex);
    // One row is atomic by itself; several are stored all or none.
    const bool transaction = rows.size() > 1;
    if (transaction && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return databaseError(m_db, "begin");
    Status status;
    for (const auto& row : rows) {
        const std::string* values[] = {&row.sessionID, &row.clientTimestamp, &row.appVersion, &row.appID,
                                       &row.eventName, &row.eventData,       &row.receivedAt};
        for (int i = 0; i < 7; ++i) {
            sqlite3_bind_text(m_insert, i + 1, values[i]->c_str(), static_cast<int>(values[i]->size()),
                              SQLITE_TRANSIENT);
        }
        const int stepped = sqlite3_step(m_insert);
        sqlite3_reset(m_insert);
        if (stepped != SQLITE_DONE) {
            status = databaseError(m_db, "insert");
            break;
        }
    }
    if (transaction) sqlite3_exec(m_db, status ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
}

std::vector<TelemetryReceiver::Row> TelemetryReceiver::rows() const {
    std::lock_guard lock(m_mutex);
    std::vector<Row> out;
    if (!m_db) return out;
    sqlite3_stmt* statement = nullptr;
    const char* sql =
        "SELECT id, session_id, client_timestamp, app_version, app_id, event_name, event_data, received_at "
        "FROM usage_events ORDER BY id";
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) return out;
    const auto text = [&](int column) {
        const auto* value = sqlite3_column_text(statement, column);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
    };
    while (sqlite3_step(statement) == SQLITE_ROW) {
        out.push_back(
            Row{sqlite3_column_int64(statement, 0), text(1), text(2), text(3), text(4), text(5), text(6), text(7)});
    }
    sqlite3_finalize(statement);
    return out;
}

std::size_t TelemetryReceiver::rowCount() const {
    std::lock_guard lock(m_mutex);
    if (!m_db) return 0;
    sqlite3_stmt* statement = nullptr;
    std::size_t count = 0;
    if (sqlite3_prepare_v2(m_db, "SELECT COUNT(*) FROM usage_events", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        count = static_cast<std::size_t>(sqlite3_column_int64(statement, 0));
    }
    sqlite3_finalize(statement);
    return count;
}

}  // namespace lumo
