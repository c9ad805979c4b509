#include "TelemetryReceiver.h"

#include <sqlite3.h>

#include <chrono>
#include <regex>
#include <set>

#include <httplib.h>
#include <nlohmann/json.hpp>

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

std::string message(const std::string& text) { return nlohmann::json{{"message", text}}.dump(); }

// Why `record` is not a usage event, or empty when it is one.
std::string schemaProblem(const nlohmann::json& record) {
    static const std::regex uuid("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
    static const std::regex timestamp(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z$)");
    static const std::regex eventName("^[a-z][a-z0-9_]*$");
    static const std::set<std::string> keys{"session_id", "client_timestamp", "app_version",
                                            "app_id",     "event_name",       "event_data"};
    if (!record.is_object()) return "a record must be an object";
    for (const auto& [key, value] : record.items()) {
        if (!keys.count(key)) return "unknown column " + key;
    }
    for (const auto& key : keys) {
        if (!record.contains(key)) return "missing column " + key;
    }
    for (const char* key : {"session_id", "client_timestamp", "app_version", "app_id", "event_name"}) {
        if (!record[key].is_string() || record[key].get<std::string>().empty())
            return std::string(key) + " must be a non-empty string";
    }
    if (!std::regex_match(record["session_id"].get<std::string>(), uuid)) return "session_id must be a lower-case UUID";
    if (!std::regex_match(record["client_timestamp"].get<std::string>(), timestamp)) {
        return "client_timestamp must be an ISO 8601 UTC time with milliseconds";
    }
    if (!std::regex_match(record["event_name"].get<std::string>(), eventName))
        return "event_name must be lower snake case";
    if (!record["event_data"].is_object()) return "event_data must be an object";
    return {};
}

}  // namespace

TelemetryReceiver::TelemetryReceiver(Options options) : m_options(std::move(options)) {}

TelemetryReceiver::~TelemetryReceiver() {
    stop();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard lock(m_mutex);
    if (m_db) sqlite3_close(m_db);
}

std::string TelemetryReceiver::endpointURL() const {
    return "http://" + m_options.host + ":" + std::to_string(m_port) + m_options.path;
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

    m_server = std::make_unique<httplib::Server>();
    m_server->Post(m_options.path, [this](const httplib::Request& request, httplib::Response& response) {
        int status = 500;
        std::string answer;
        handleEvent(request.get_header_value("Authorization"), request.get_header_value("Content-Type"), request.body,
                    status, answer);
        response.status = status;
        if (!answer.empty()) response.set_content(answer, "application/json");
    });
    m_server->Post("/__control/fail", [this](const httplib::Request& request, httplib::Response& response) {
        const int count = request.has_param("count") ? std::stoi(request.get_param_value("count")) : 1;
        const int status = request.has_param("status") ? std::stoi(request.get_param_value("status")) : 500;
        failNext(count, status);
        response.status = 204;
    });
    m_server->Post("/__control/stall", [this](const httplib::Request& request, httplib::Response& response) {
        stall(std::chrono::milliseconds(request.has_param("ms") ? std::stol(request.get_param_value("ms")) : 0));
        response.status = 204;
    });
    m_server->Get("/__control/stats", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(nlohmann::json{{"requests", requestCount()}, {"rows", rowCount()}}.dump(),
                             "application/json");
    });
    m_server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) { response.status = 400; });

    m_port = m_options.port == 0 ? m_server->bind_to_any_port(m_options.host)
                                 : (m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1);
    if (m_port <= 0) {
        return Error{"TelemetryReceiver", 1,
                     "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port)};
    }
    return {};
}

Status TelemetryReceiver::start() {
    if (auto opened = open(); !opened) return opened;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only takes effect once the server runs.
    while (!m_server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
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

void TelemetryReceiver::failNext(int count, int status) {
    std::lock_guard lock(m_mutex);
    m_failCount = count;
    m_failStatus = status;
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
    return m_times.size();
}

std::vector<std::chrono::steady_clock::time_point> TelemetryReceiver::requestTimes() const {
    std::lock_guard lock(m_mutex);
    return m_times;
}

void TelemetryReceiver::handleEvent(const std::string& authorization, const std::string& contentType,
                                    const std::string& body, int& status, std::string& answer) {
    {
        std::unique_lock lock(m_mutex);
        const auto arrived = std::chrono::steady_clock::now();
        m_times.push_back(arrived);
        // m_stall may change while waiting (a shorter stall ends the wait).
        while (!m_stopping && std::chrono::steady_clock::now() < arrived + m_stall) {
            m_stopped.wait_until(lock, arrived + m_stall);
        }
        if (m_failCount > 0) {
            --m_failCount;
            status = m_failStatus;
            answer = message("failing on request");
            return;
        }
    }
    if (authorization != "Bearer " + m_options.anonKey) {
        status = 401;
        answer = message("Invalid API key");
        return;
    }
    if (contentType != "application/json") {
        status = 415;
        answer = message("Content-Type must be application/json");
        return;
    }
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) {
        status = 400;
        answer = message("the body is not JSON");
        return;
    }
    if (!json.is_array() || json.size() != 1) {
        status = 422;
        answer = message("the body must be an array of one record");
        return;
    }
    const auto& record = json[0];
    if (auto problem = schemaProblem(record); !problem.empty()) {
        status = 422;
        answer = message(problem);
        return;
    }
    const Row row{0,
                  record["session_id"].get<std::string>(),
                  record["client_timestamp"].get<std::string>(),
                  record["app_version"].get<std::string>(),
                  record["app_id"].get<std::string>(),
                  record["event_name"].get<std::string>(),
                  record["event_data"].dump(),
                  iso8601Milliseconds(std::chrono::system_clock::now())};
    if (auto inserted = insert(row); !inserted) {
        status = 500;
        answer = message(inserted.error().description);
        return;
    }
    status = 201;
}

Status TelemetryReceiver::insert(const Row& row) {
    std::lock_guard lock(m_mutex);
    sqlite3_stmt* statement = nullptr;
    const char* sql =
        "INSERT INTO usage_events (session_id, client_timestamp, app_version, app_id, event_name, event_data, "
        "received_at) VALUES (?, ?, ?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) return databaseError(m_db, "insert");
    const std::string* values[] = {&row.sessionID, &row.clientTimestamp, &row.appVersion, &row.appID,
                                   &row.eventName, &row.eventData,       &row.receivedAt};
    for (int i = 0; i < 7; ++i) {
        sqlite3_bind_text(statement, i + 1, values[i]->c_str(), static_cast<int>(values[i]->size()), SQLITE_TRANSIENT);
    }
    const int stepped = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (stepped != SQLITE_DONE) return databaseError(m_db, "insert");
    return {};
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
