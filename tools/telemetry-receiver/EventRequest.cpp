#include "EventRequest.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <nlohmann/json.hpp>

#include "telemetry/JSONValue.h"

namespace lumo {

namespace {

constexpr std::array<const char*, 6> kColumns{"session_id", "client_timestamp", "app_version",
                                              "app_id",     "event_name",       "event_data"};

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isLowerUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !isLowerHex(text[i])) return false;
    }
    return true;
}

// YYYY-MM-DDTHH:MM:SS.mmmZ
bool isClientTimestamp(std::string_view text) {
    constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (text.size() != kShape.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'd' ? !isDigit(text[i]) : text[i] != kShape[i]) return false;
    }
    return true;
}

EventRequestDecision refuse(int status, std::string message) {
    EventRequestDecision decision;
    decision.status = status;
    decision.message = std::move(message);
    return decision;
}

// Why `record` is not a usage event, or empty when it is one.
std::string schemaProblem(const nlohmann::json& record) {
    if (!record.is_object()) return "a record must be an object";
    for (const auto& item : record.items()) {
        const std::string& key = item.key();
        if (std::find_if(kColumns.begin(), kColumns.end(), [&key](const char* column) { return key == column; }) ==
            kColumns.end()) {
            // Not echoed whole: a key may be as long as the body.
            return "unknown column " + key.substr(0, kMaximumNameLength);
        }
    }
    for (const char* column : kColumns) {
        if (!record.contains(column)) return std::string("missing column ") + column;
    }
    for (const char* key : {"session_id", "client_timestamp", "app_version", "app_id", "event_name"}) {
        const auto& value = record[key];
        if (!value.is_string() || value.get_ref<const std::string&>().empty())
            return std::string(key) + " must be a non-empty string";
        if (value.get_ref<const std::string&>().size() > kMaximumFieldLength)
            return std::string(key) + " must be at most " + std::to_string(kMaximumFieldLength) + " bytes";
    }
    if (!isLowerUUID(record["session_id"].get_ref<const std::string&>())) return "session_id must be a lower-case UUID";
    if (!isClientTimestamp(record["client_timestamp"].get_ref<const std::string&>()))
        return "client_timestamp must be an ISO 8601 UTC time with milliseconds";
    if (!isEventName(record["event_name"].get_ref<const std::string&>())) {
        return "event_name must be lower snake case of at most " + std::to_string(kMaximumNameLength) +
               " characters";
    }
    if (!record["event_data"].is_object()) return "event_data must be an object";
    return {};
}

}  // namespace

bool isEventName(std::string_view name) {
    if (name.empty() || name.size() > kMaximumNameLength) return false;
    if (name.front() < 'a' || name.front() > 'z') return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; });
}

bool isJSONContentType(std::string_view value) {
    const std::size_t semicolon = value.find(';');
    if (!equalIgnoringCase(trimmed(value.substr(0, semicolon)), "application/json")) return false;
    std::string_view parameters = semicolon == std::string_view::npos ? std::string_view() : value.substr(semicolon + 1);
    while (!parameters.empty()) {
        const std::size_t next = parameters.find(';');
        const std::string_view parameter = trimmed(parameters.substr(0, next));
        parameters.remove_prefix(next == std::string_view::npos ? parameters.size() : next + 1);
        if (parameter.empty()) continue;
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos) return false;
        if (!equalIgnoringCase(trimmed(parameter.substr(0, equals)), "charset")) continue;
        std::string_view charset = trimmed(parameter.substr(equals + 1));
        if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"')
            charset = charset.substr(1, charset.size() - 2);
        if (!equalIgnoringCase(charset, "utf-8") && !equalIgnoringCase(charset, "utf8")) return false;
    }
    return true;
}

EventRequestDecision decodeEventRequest(std::string_view authorization, std::string_view contentType,
                                        std::string_view body, std::string_view anonKey) {
    if (authorization.substr(0, 7) != "Bearer " || authorization.substr(7) != anonKey)
        return refuse(401, "Invalid API key");
    if (!isJSONContentType(contentType)) return refuse(415, "Content-Type must be application/json");
    if (body.size() > kMaximumBodyBytes) {
        return refuse(413, "the body is larger than " + std::to_string(kMaximumBodyBytes) + " bytes");
    }
    if (jsonNestingExceeds(body, kMaximumNesting)) {
        return refuse(422, "the body nests deeper than " + std::to_string(kMaximumNesting) + " levels");
    }
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return refuse(400, "the body is not JSON");
    if (!json.is_array() || json.empty() || json.size() > kMaximumRecords) {
        return refuse(422, "the body must be an array of 1 to " + std::to_string(kMaximumRecords) + " records");
    }
    EventRequestDecision decision;
    decision.records.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto& record = json[i];
        if (auto problem = schemaProblem(record); !problem.empty()) {
            return refuse(422, json.size() == 1 ? problem : "record " + std::to_string(i) + ": " + problem);
        }
        decision.records.push_back(EventRecord{record["session_id"].get<std::string>(),
                                               record["client_timestamp"].get<std::string>(),
                                               record["app_version"].get<std::string>(),
                                               record["app_id"].get<std::string>(),
                                               record["event_name"].get<std::string>(),
                                               // Nesting is bounded above: the walk is shallow.
                                               record["event_data"].dump(-1, ' ', false,
                                                                        nlohmann::json::error_handler_t::replace)});
    }
    decision.status = 201;
    return decision;
}

}  // namespace lumo
