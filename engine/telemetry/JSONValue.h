// JSONValue: the value type of every telemetry property.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace lumo {

struct JSONValue;
using JSONObject = std::map<std::string, JSONValue>;
using JSONArray = std::vector<JSONValue>;

struct JSONValue {
    // In this order: null, boolean, integer, double, string, array, object.
    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, JSONArray, JSONObject> value;

    JSONValue() : value(nullptr) {}
    JSONValue(std::nullptr_t) : value(nullptr) {}                          // NOLINT
    JSONValue(bool b) : value(b) {}                                        // NOLINT
    JSONValue(int i) : value(static_cast<std::int64_t>(i)) {}              // NOLINT
    JSONValue(std::int64_t i) : value(i) {}                                // NOLINT
    JSONValue(double d) : value(d) {}                                      // NOLINT
    JSONValue(const char* s) : value(std::string(s)) {}                    // NOLINT
    JSONValue(std::string s) : value(std::move(s)) {}                      // NOLINT
    JSONValue(JSONArray a) : value(std::move(a)) {}                        // NOLINT
    JSONValue(JSONObject o) : value(std::move(o)) {}                       // NOLINT

    friend bool operator==(const JSONValue&, const JSONValue&) = default;
};

}  // namespace lumo
