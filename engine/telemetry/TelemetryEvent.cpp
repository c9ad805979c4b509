#include "telemetry/TelemetryEvent.h"

#include <nlohmann/json.hpp>

namespace lumo {

namespace {

Error decodingError(const std::string& description) { return Error{"TelemetryEvent", 2, description}; }

Result<nlohmann::json> pendingRecord(const TelemetryEvent& event) {
    auto data = toJSON(JSONValue(event.eventData));
    if (!data) return data.error();
    auto strings = toJSON(JSONValue(JSONArray{event.clientTimestamp, event.appVersion, event.eventName}));
    if (!strings) return strings.error();
    return nlohmann::json{{"sessionID", event.sessionID.uuidString()},
                          {"clientTimestamp", event.clientTimestamp},
                          {"appVersion", event.appVersion},
                          {"eventName", event.eventName},
                          {"eventData", std::move(*data)}};
}

Result<std::string> stringField(const nlohmann::json& record, const char* key) {
    const auto found = record.find(key);
    if (found == record.end()) return decodingError(std::string("No value associated with key \"") + key + "\"");
    if (!found->is_string()) return decodingError(std::string("Expected a string for key \"") + key + "\"");
    return found->get<std::string>();
}

Result<TelemetryEvent> decodeEvent(const nlohmann::json& record) {
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

}  // namespace

Result<std::string> encodePendingEvents(const std::deque<TelemetryEvent>& events) {
    nlohmann::json array = nlohmann::json::array();
    for (const auto& event : events) {
        auto record = pendingRecord(event);
        if (!record) return record.error();
        array.push_back(std::move(*record));
    }
    return array.dump();
}

Result<std::vector<TelemetryEvent>> decodePendingEvents(const std::string& text) {
    const auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return decodingError("The data couldn't be read because it isn't in the correct format.");
    if (!json.is_array()) return decodingError("Expected an array of events");
    std::vector<TelemetryEvent> events;
    events.reserve(json.size());
    for (const auto& record : json) {
        auto event = decodeEvent(record);
        if (!event) return event.error();
        events.push_back(std::move(*event));
    }
    return events;
}

Result<std::string> encodeWireBody(const TelemetryEvent& event, const std::string& appID) {
    auto data = toJSON(JSONValue(event.eventData));
    if (!data) return data.error();
    auto strings = toJSON(JSONValue(JSONArray{event.clientTimestamp, event.appVersion, appID, event.eventName}));
    if (!strings) return strings.error();
    nlohmann::json payload{{"session_id", event.sessionID.lowercaseString()},
                           {"client_timestamp", event.clientTimestamp},
                           {"app_version", event.appVersion},
                           {"app_id", appID},
                           {"event_name", event.eventName},
                           {"event_data", std::move(*data)}};
    return nlohmann::json::array({std::move(payload)}).dump();
}

}  // namespace lumo
