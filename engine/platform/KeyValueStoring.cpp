#include "platform/KeyValueStoring.h"

namespace lumo {

std::optional<std::string> KeyValueStoring::string(const std::string& key) const {
    const auto stored = value(key);
    if (!stored) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&*stored)) return *text;
    return std::nullopt;
}

bool KeyValueStoring::boolean(const std::string& key) const {
    const auto stored = value(key);
    if (!stored) return false;
    if (const auto* flag = std::get_if<bool>(&*stored)) return *flag;
    return false;
}

}  // namespace lumo
