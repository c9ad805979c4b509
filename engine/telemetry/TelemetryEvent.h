// The records the telemetry service keeps and sends.
//
// Event is one queued event and also the record of the pending file:
//   {"sessionID": "E621E1F8-...", "clientTimestamp": "2026-01-05T09:30:00.125Z",
//    "appVersion": "1.0 (42)", "eventName": "consent_given", "eventData": {}}
// The wire record (one per POST, inside a one-element array) is:
//   {"session_id": "e621e1f8-...", "client_timestamp": ..., "app_version": ...,
//    "app_id": ..., "event_name": ..., "event_data": {...}}
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <vector>

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

// The pending file: a JSON array of events, oldest first.
Result<std::string> encodePendingEvents(const std::deque<TelemetryEvent>& events);
// Fails when the text is not JSON, not an array, or any record misses a key,
// has a key of the wrong type, or carries a session ID that is not a UUID.
Result<std::vector<TelemetryEvent>> decodePendingEvents(const std::string& text);

// The body of the one POST that delivers `event`.
Result<std::string> encodeWireBody(const TelemetryEvent& event, const std::string& appID);

}  // namespace lumo
