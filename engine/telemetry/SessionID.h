// SessionID: the anonymous, persistent session identifier every event carries.
//
// Stored in the preferences under the product's userDefaultsPrefix followed by
// ".session_id" as canonical upper-case UUID text. The first read creates and
// stores a random (version 4) UUID; later reads return it; a stored value that
// is not a canonical 8-4-4-4-12 UUID is silently replaced. It carries nothing
// about the user or the machine and is never rotated.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/KeyValueStoring.h"

namespace lumo {

class UUID {
public:
    // A random version 4 UUID, 122 bits from std::random_device (the
    // operating system's entropy source on macOS and Linux).
    static UUID random();
    // Canonical 8-4-4-4-12 hexadecimal text, either case; nothing otherwise.
    static std::optional<UUID> parse(std::string_view text);

    // Upper-case canonical text ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
    std::string uuidString() const;
    // Lower-case canonical text, as the wire format carries it.
    std::string lowercaseString() const;

    friend bool operator==(const UUID&, const UUID&) = default;

private:
    std::array<std::uint8_t, 16> m_bytes{};
};

struct SessionID {
    KeyValueStoring& store;
    // The preference key's prefix; the active product's userDefaultsPrefix.
    std::string keyPrefix;

    SessionID(KeyValueStoring& kvStore, std::string prefix) : store(kvStore), keyPrefix(std::move(prefix)) {}

    std::string key() const { return keyPrefix + ".session_id"; }
    // Reads, or creates and stores, the identifier.
    UUID value() const;
};

}  // namespace lumo
