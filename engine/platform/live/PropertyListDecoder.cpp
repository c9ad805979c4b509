#include "platform/PropertyList.h"

namespace lumo {

std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes&) {
    return std::nullopt;  // TODO: libplist
}

std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes&, const std::string&) {
    return std::nullopt;  // TODO: libplist
}

}  // namespace lumo
