#include "telemetry/HomePath.h"

namespace lumo {

std::string shortenHomePaths(std::string_view text) {
    constexpr std::string_view kUsers = "/Users/";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t found = text.find(kUsers, i);
        if (found == std::string_view::npos) break;
        const std::size_t nameStart = found + kUsers.size();
        const std::size_t slash = text.find('/', nameStart);
        out.append(text.substr(i, nameStart - i));
        if (slash == std::string_view::npos || slash == nameStart) {
            // No name, or no slash after it: nothing to shorten here.
            i = nameStart;
            continue;
        }
        out += '~';
        i = slash;  // the slash after the name starts the next search
    }
    out.append(text.substr(i));
    return out;
}

}  // namespace lumo
