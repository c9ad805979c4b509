// JSONValue: the value type of every telemetry property.
//
// Seven cases (string, int, double, bool, array, object, null) with their JSON
// forms. Values are equal when they hold the same case and equal payloads
// (doubles by value). Decoding tries null, boolean, integer, double, string,
// array and object in that order; the first that fits wins, so an integer
// literal decodes as `int` and a number with a fraction or exponent as
// `double`.
//
//   JSONObject data{{"exit_code", 1}, {"reason", "no JDK installed"}};
//   Result<std::string> text = encodeJSON(JSONValue(data));
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/Result.h"

namespace lumo {

struct JSONValue;
using JSONObject = std::map<std::string, JSONValue>;
using JSONArray = std::vector<JSONValue>;

struct JSONValue {
    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, JSONArray, JSONObject> value;

    JSONValue() : value(nullptr) {}
    JSONValue(std::nullptr_t) : value(nullptr) {}              // NOLINT
    JSONValue(bool b) : value(b) {}                            // NOLINT
    JSONValue(int i) : value(static_cast<std::int64_t>(i)) {}  // NOLINT
    JSONValue(std::int64_t i) : value(i) {}                    // NOLINT
    JSONValue(double d) : value(d) {}                          // NOLINT
    JSONValue(const char* s) : value(std::string(s)) {}        // NOLINT
    JSONValue(std::string s) : value(std::move(s)) {}          // NOLINT
    JSONValue(JSONArray a) : value(std::move(a)) {}            // NOLINT
    JSONValue(JSONObject o) : value(std::move(o)) {}           // NOLINT
    // null when empty.
    template <class T>
    JSONValue(const std::optional<T>& v) : JSONValue(v ? JSONValue(*v) : JSONValue(nullptr)) {}  // NOLINT

    friend bool operator==(const JSONValue&, const JSONValue&) = default;
};

// The JSON tree of a value. Fails (domain "JSONValue") for a double that is
// not finite or a string or key that is not valid UTF-8: JSON has no form
// for either.
Result<nlohmann::json> toJSON(const JSONValue& value);
// The compact JSON text of a value; fails as toJSON does.
Result<std::string> encodeJSON(const JSONValue& value);
// Appends the compact JSON text of a value (or of a string) to `out`,
// without building a tree: the fast path of the records the service
// writes. False, with `out` left part-written, where toJSON fails.
bool appendJSON(std::string& out, const JSONValue& value);
bool appendJSON(std::string& out, const JSONObject& object);
bool appendJSONString(std::string& out, std::string_view text);

// Decodes one JSON value in the order above; fails with "Unknown JSONValue"
// when no case fits (an unsigned integer beyond the 64-bit signed range
// decodes as a double, as it would from text).
Result<JSONValue> decodeJSONValue(const nlohmann::json& json);
// Parses and decodes JSON text.
Result<JSONValue> parseJSONValue(std::string_view text);

// True when arrays and objects in JSON text nest deeper than `limit` (the
// outermost one is depth 1). A scan of the bytes that builds nothing: for
// text from a file or a peer, before it is parsed into a tree that would be
// walked recursively.
bool jsonNestingExceeds(std::string_view text, std::size_t limit);

// `text` with every byte sequence that is not valid UTF-8 replaced by U+FFFD.
std::string validUTF8(std::string_view text);
// A copy of `value` whose strings and keys are valid UTF-8; each string
// (not key) is then passed through `transform`, when one is given.
JSONValue withValidUTF8(const JSONValue& value, const std::function<std::string(std::string_view)>& transform = {});

}  // namespace lumo
