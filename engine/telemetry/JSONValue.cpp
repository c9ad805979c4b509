#include "telemetry/JSONValue.h"

#include <charconv>
#include <cmath>

#include <nlohmann/json.hpp>

#include "platform/UTF8.h"

namespace lumo {

namespace {

constexpr const char* kDomain = "JSONValue";

Error codingError(std::string description) { return Error{kDomain, 1, std::move(description)}; }

}  // namespace

Result<nlohmann::json> toJSON(const JSONValue& value) {
    struct Visitor {
        Result<nlohmann::json> operator()(std::nullptr_t) const { return nlohmann::json(nullptr); }
        Result<nlohmann::json> operator()(bool b) const { return nlohmann::json(b); }
        Result<nlohmann::json> operator()(std::int64_t i) const { return nlohmann::json(i); }
        Result<nlohmann::json> operator()(double d) const {
            if (!std::isfinite(d)) return codingError("Unable to encode " + std::to_string(d) + " as JSON");
            return nlohmann::json(d);
        }
        Result<nlohmann::json> operator()(const std::string& s) const {
            if (!isValidUTF8(s)) return codingError("String is not valid UTF-8");
            return nlohmann::json(s);
        }
        Result<nlohmann::json> operator()(const JSONArray& array) const {
            nlohmann::json out = nlohmann::json::array();
            for (const auto& element : array) {
                auto encoded = toJSON(element);
                if (!encoded) return encoded.error();
                out.push_back(std::move(*encoded));
            }
            return out;
        }
        Result<nlohmann::json> operator()(const JSONObject& object) const {
            nlohmann::json out = nlohmann::json::object();
            for (const auto& [key, element] : object) {
                if (!isValidUTF8(key)) return codingError("Key is not valid UTF-8");
                auto encoded = toJSON(element);
                if (!encoded) return encoded.error();
                out[key] = std::move(*encoded);
            }
            return out;
        }
    };
    return std::visit(Visitor{}, value.value);
}

Result<std::string> encodeJSON(const JSONValue& value) {
    auto json = toJSON(value);
    if (!json) return json.error();
    return json->dump();
}

bool appendJSONString(std::string& out, std::string_view text) {
    if (!isValidUTF8(text)) return false;
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0xF];
                    out += kHex[c & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return true;
}

bool appendJSON(std::string& out, const JSONValue& value) {
    struct Visitor {
        std::string& out;
        bool operator()(std::nullptr_t) const {
            out += "null";
            return true;
        }
        bool operator()(bool b) const {
            out += b ? "true" : "false";
            return true;
        }
        bool operator()(std::int64_t i) const {
            char buffer[24];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, i);
            out.append(buffer, result.ptr);
            return true;
        }
        bool operator()(double d) const {
            if (!std::isfinite(d)) return false;
            char buffer[32];
            const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
            const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
            out += text;
            // A whole number stays a double when read back.
            if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
            return true;
        }
        bool operator()(const std::string& s) const { return appendJSONString(out, s); }
        bool operator()(const JSONArray& array) const {
            out += '[';
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (i > 0) out += ',';
                if (!appendJSON(out, array[i])) return false;
            }
            out += ']';
            return true;
        }
        bool operator()(const JSONObject& object) const { return appendJSON(out, object); }
    };
    return std::visit(Visitor{out}, value.value);
}

bool appendJSON(std::string& out, const JSONObject& object) {
    out += '{';
    bool first = true;
    for (const auto& [key, element] : object) {
        if (!first) out += ',';
        first = false;
        if (!appendJSONString(out, key)) return false;
        out += ':';
        if (!appendJSON(out, element)) return false;
    }
    out += '}';
    return true;
}

Result<JSONValue> decodeJSONValue(const nlohmann::json& json) {
    if (json.is_null()) return JSONValue(nullptr);
    if (json.is_boolean()) return JSONValue(json.get<bool>());
    if (json.is_number_integer()) {
        if (json.is_number_unsigned()) {
            const auto u = json.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(INT64_MAX)) return JSONValue(static_cast<std::int64_t>(u));
            return JSONValue(static_cast<double>(u));
        }
        return JSONValue(json.get<std::int64_t>());
    }
    if (json.is_number_float()) return JSONValue(json.get<double>());
    if (json.is_string()) return JSONValue(json.get<std::string>());
    if (json.is_array()) {
        JSONArray array;
        array.reserve(json.size());
        for (const auto& element : json) {
            auto decoded = decodeJSONValue(element);
            if (!decoded) return decoded.error();
            array.push_back(std::move(*decoded));
        }
        return JSONValue(std::move(array));
    }
    if (json.is_object()) {
        JSONObject object;
        for (const auto& [key, element] : json.items()) {
            auto decoded = decodeJSONValue(element);
            if (!decoded) return decoded.error();
            object.emplace(key, std::move(*decoded));
        }
        return JSONValue(std::move(object));
    }
    return codingError("Unknown JSONValue");
}

Result<JSONValue> parseJSONValue(std::string_view text) {
    auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return codingError("The data is not valid JSON");
    return decodeJSONValue(json);
}

bool jsonNestingExceeds(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"': inString = true; break;
            case '[':
            case '{':
                if (++depth > limit) return true;
                break;
            case ']':
            case '}':
                if (depth > 0) --depth;
                break;
            default: break;
        }
    }
    return false;
}

std::string validUTF8(std::string_view text) { return replacingInvalidUTF8(text); }

JSONValue withValidUTF8(const JSONValue& value, const std::function<std::string(std::string_view)>& transform) {
    if (const auto* s = std::get_if<std::string>(&value.value)) {
        std::string valid = validUTF8(*s);
        return JSONValue(transform ? transform(valid) : std::move(valid));
    }
    if (const auto* array = std::get_if<JSONArray>(&value.value)) {
        JSONArray out;
        out.reserve(array->size());
        for (const auto& element : *array) out.push_back(withValidUTF8(element, transform));
        return JSONValue(std::move(out));
    }
    if (const auto* object = std::get_if<JSONObject>(&value.value)) {
        JSONObject out;
        // Two keys that differ only in invalid bytes may collapse; the first wins.
        for (const auto& [key, element] : *object) out.emplace(validUTF8(key), withValidUTF8(element, transform));
        return JSONValue(std::move(out));
    }
    return value;
}

}  // namespace lumo
