#include "telemetry/SessionID.h"

#include <random>

namespace lumo {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string format(const std::array<std::uint8_t, 16>& bytes, const char* digits) {
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

UUID UUID::random() {
    std::random_device device;
    UUID uuid;
    for (std::size_t i = 0; i < uuid.m_bytes.size(); i += 4) {
        const std::uint32_t word = device();
        for (std::size_t k = 0; k < 4; ++k) uuid.m_bytes[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    uuid.m_bytes[6] = static_cast<std::uint8_t>((uuid.m_bytes[6] & 0x0F) | 0x40);  // version 4
    uuid.m_bytes[8] = static_cast<std::uint8_t>((uuid.m_bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return uuid;
}

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    UUID uuid;
    std::size_t byte = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        uuid.m_bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    return uuid;
}

std::string UUID::uuidString() const { return format(m_bytes, "0123456789ABCDEF"); }

std::string UUID::lowercaseString() const { return format(m_bytes, "0123456789abcdef"); }

UUID SessionID::value() const {
    if (const auto stored = store.string(key())) {
        if (auto uuid = UUID::parse(*stored)) return *uuid;
    }
    const UUID fresh = UUID::random();
    store.set(PreferenceValue(fresh.uuidString()), key());
    return fresh;
}

}  // namespace lumo
