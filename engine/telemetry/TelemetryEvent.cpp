#include "telemetry/TelemetryEvent.h"

#include <nlohmann/json.hpp>

namespace lumo {

namespace {

// Far deeper than any event the app records, far shallower than what would
// exhaust a stack when the tree is walked.
constexpr std::size_t kMaximumNesting = 64;

Error decodingError(const std::string& description) { return Error{"TelemetryEvent", 2, description}; }

Error unencodable() {
    return Error{"JSONValue", 1, "The event holds a value without a JSON form (a number that is not finite, or text "
                                 "that is not UTF-8)"};
}

Result<std::string> stringField(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end()) return decodingError(std::string("No value associated with key \"") + key + "\"");
    if (!found->is_string()) return decodingError(std::string("Expected a string for key \"") + key + "\"");
    return found->get<std::string>();
}

bool digits(const std::string& text, std::size_t from, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

Result<std::string> encodePendingRecord(const TelemetryEvent& event) {
    // Written directly: this runs on every record(), on the caller's thread.
    std::string out;
    out.reserve(160 + event.eventName.size());
    out += R"({"sessionID":")";
    out += event.sessionID.uuidString();
    out += R"(","clientTimestamp":)";
    bool ok = appendJSONString(out, event.clientTimestamp);
    out += R"(,"appVersion":)";
    ok = ok && appendJSONString(out, event.appVersion);
    out += R"(,"eventName":)";
    ok = ok && appendJSONString(out, event.eventName);
    out += R"(,"eventData":)";
    ok = ok && appendJSON(out, event.eventData);
    out += '}';
    if (!ok) return unencodable();
    return out;
}

Result<TelemetryEvent> decodePendingRecord(const nlohmann::json& record) {
    if (!record.is_object()) return decodingError("Expected an event record");
    auto session = stringField(record, "sessionID");
    if (!session) return session.error();
    const auto uuid = UUID::parse(*session);
    if (!uuid) return decodingError("Attempted to decode UUID from invalid UUID string");
    auto timestamp = stringField(record, "clientTimestamp");
    if (!timestamp) return timestamp.error();
    auto version = stringField(record, "appVersion");
    if (!version) return version.error();
    auto name = stringField(record, "eventName");
    if (!name) return name.error();
    const auto dataField = record.find("eventData");
    if (dataField == record.end() || !dataField->is_object())
        return decodingError("Expected an object for key \"eventData\"");
    auto data = decodeJSONValue(*dataField);
    if (!data) return data.error();
    return TelemetryEvent{*uuid, std::move(*timestamp), std::move(*version), std::move(*name),
                          std::get<JSONObject>(std::move(data->value))};
}

Result<std::string> encodePendingEvents(const std::deque<TelemetryEvent>& events) {
    std::string text = "[";
    for (const auto& event : events) {
        auto record = encodePendingRecord(event);
        if (!record) return record.error();
        if (text.size() > 1) text += ',';
        text += *record;
    }
    return text + "]";
}

Result<DecodedPendingEvents> decodePendingEvents(const std::string& text) {
    if (jsonNestingExceeds(text, kMaximumNesting)) return decodingError("The data nests too deeply.");
    const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return decodingError("The data couldn't be read because it isn't in the correct format.");
    if (!json.is_array()) return decodingError("Expected an array of events");
    DecodedPendingEvents decoded;
    decoded.events.reserve(json.size());
    for (const auto& record : json) {
        if (auto event = decodePendingRecord(record)) {
            decoded.events.push_back(std::move(*event));
        } else {
            ++decoded.unreadable;
        }
    }
    return decoded;
}

Result<std::string> encodeWireRecord(const TelemetryEvent& event, const std::string& appID) {
    std::string out;
    out.reserve(200 + event.eventName.size());
    out += R"({"session_id":")";
    out += event.sessionID.lowercaseString();
    out += R"(","client_timestamp":)";
    bool ok = appendJSONString(out, event.clientTimestamp);
    out += R"(,"app_version":)";
    ok = ok && appendJSONString(out, event.appVersion);
    out += R"(,"app_id":)";
    ok = ok && appendJSONString(out, appID);
    out += R"(,"event_name":)";
    ok = ok && appendJSONString(out, event.eventName);
    out += R"(,"event_data":)";
    ok = ok && appendJSON(out, event.eventData);
    out += '}';
    if (!ok) return unencodable();
    return out;
}

std::optional<std::chrono::system_clock::time_point> parseClientTimestamp(const std::string& text) {
    // 2026-01-05T09:30:00.125Z
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || text[23] != 'Z') {
        return std::nullopt;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (!digits(text, 0, 4, year) || !digits(text, 5, 2, month) || !digits(text, 8, 2, day) ||
        !digits(text, 11, 2, hour) || !digits(text, 14, 2, minute) || !digits(text, 17, 2, second) ||
        !digits(text, 20, 3, millisecond)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
           std::chrono::seconds(second) + std::chrono::milliseconds(millisecond);
}

}  // namespace lumo
