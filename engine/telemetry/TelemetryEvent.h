// The records the telemetry service keeps and sends.
//
// Event is one queued event and also its pending record, one line of the
// pending journal (and an element of the previous version's pending file):
//   {"sessionID": "E621E1F8-...", "clientTimestamp": "2026-01-05T09:30:00.125Z",
//    "appVersion": "1.0 (42)", "eventName": "consent_given", "eventData": {}}
// The wire record is:
//   {"session_id": "e621e1f8-...", "client_timestamp": ..., "app_version": ...,
//    "app_id": ..., "event_name": ..., "event_data": {...}}
// and a POST carries a JSON array of wire records, oldest first.
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/Result.h"
#include "platform/Time.h"
#include "telemetry/JSONValue.h"
#include "telemetry/SessionID.h"

namespace lumo {

struct TelemetryEvent {
    UUID sessionID;
    std::string clientTimestamp;
    std::string appVersion;
    std::string eventName;
    JSONObject eventData;

    friend bool operator==(const TelemetryEvent&, const TelemetryEvent&) = default;
};

// The pending record as compact JSON text (no line break). Fails for a value
// without a JSON form (a non-finite double, text that is not UTF-8).
Result<std::string> encodePendingRecord(const TelemetryEvent& event);
// Fails when the record misses a key, has a key of the wrong type, or
// carries a session ID that is not a UUID.
Result<TelemetryEvent> decodePendingRecord(const nlohmann::json& record);

// The previous version's pending file: a JSON array of pending records,
// oldest first.
Result<std::string> encodePendingEvents(const std::deque<TelemetryEvent>& events);
struct DecodedPendingEvents {
    std::vector<TelemetryEvent> events;
    std::size_t unreadable = 0;  // records skipped because they do not decode
};
// Fails only when the text is not a JSON array (or nests absurdly deep); a
// record that does not decode is skipped and counted, so one damaged record
// does not cost the others.
Result<DecodedPendingEvents> decodePendingEvents(const std::string& text);

// The wire record of `event`, as JSON text.
Result<std::string> encodeWireRecord(const TelemetryEvent& event, const std::string& appID);

// The time a client timestamp stands for; nothing for text that is not
// "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::optional<std::chrono::system_clock::time_point> parseClientTimestamp(const std::string& text);

}  // namespace lumo
