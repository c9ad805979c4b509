// KeyValueStoring: the user's preferences (the user-defaults domain on macOS).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace lumo {

using PreferenceValue = std::variant<bool, std::int64_t, double, std::string>;

class KeyValueStoring {
public:
    virtual ~KeyValueStoring() = default;
    // The stored value, or nothing if the key is absent.
    virtual std::optional<PreferenceValue> value(const std::string& key) const = 0;
    // Stores the value; storing nothing removes the key.
    virtual void set(const std::optional<PreferenceValue>& value, const std::string& key) = 0;

    // The stored string, or nothing if absent or not a string.
    std::optional<std::string> string(const std::string& key) const;
    // The stored Boolean; false when absent or not a Boolean.
    bool boolean(const std::string& key) const;
};

}  // namespace lumo
