// Decoding one POST of usage events: the receiver's whole judgement of a
// request, as a pure function (and a fuzz target).
//
// The body is a JSON array of 1 to kMaximumRecords wire records, each with
// exactly the keys session_id (lower-case UUID), client_timestamp
// ("YYYY-MM-DDTHH:MM:SS.mmmZ"), app_version and app_id (non-empty, at most
// kMaximumFieldLength bytes), event_name (lower snake case, at most
// kMaximumNameLength characters) and event_data (an object). Answers, in
// the order they are checked:
//   401 missing or wrong "Authorization: Bearer <key>"
//   415 a Content-Type other than application/json (a charset parameter
//       must say utf-8; other parameters are ignored)
//   413 a body over kMaximumBodyBytes
//   422 arrays and objects nested deeper than kMaximumNesting
//   400 not JSON
//   422 JSON that is not such an array of records (the message names the
//       first record at fault)
//   201 otherwise: every record is to be stored.
// Names and formats are checked character by character: no regular
// expression, no recursion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumo {

inline constexpr std::size_t kMaximumBodyBytes = 64 * 1024;
inline constexpr std::size_t kMaximumNesting = 32;
inline constexpr std::size_t kMaximumRecords = 100;
inline constexpr std::size_t kMaximumNameLength = 64;
inline constexpr std::size_t kMaximumFieldLength = 256;

struct EventRecord {
    std::string sessionID;
    std::string clientTimestamp;
    std::string appVersion;
    std::string appID;
    std::string eventName;
    std::string eventData;  // compact JSON text
};

struct EventRequestDecision {
    int status = 500;
    std::string message;  // why, for anything but 201
    std::vector<EventRecord> records;
};

EventRequestDecision decodeEventRequest(std::string_view authorization, std::string_view contentType,
                                        std::string_view body, std::string_view anonKey);

// Lower snake case: a letter a-z, then a-z, 0-9 or '_'; 1 to kMaximumNameLength characters.
bool isEventName(std::string_view name);
// application/json, in any case, with at most a utf-8 charset among its parameters.
bool isJSONContentType(std::string_view value);

}  // namespace lumo
