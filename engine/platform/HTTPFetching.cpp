#include "platform/HTTPFetching.h"

#include <algorithm>
#include <cctype>

namespace lumo {

std::optional<std::string> HTTPResponse::header(const std::string& name) const {
    const auto equalIgnoringCase = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const auto& [key, value] : headers) {
        if (equalIgnoringCase(key, name)) return value;
    }
    return std::nullopt;
}

}  // namespace lumo
