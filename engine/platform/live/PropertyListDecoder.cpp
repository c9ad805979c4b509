#include "platform/PropertyList.h"

namespace lumo {

std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes&) {
    return std::nullopt;  // TODO: libplist
}

}  // namespace lumo
