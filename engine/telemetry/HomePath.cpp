#include "telemetry/HomePath.h"

namespace lumo {

namespace {

// Where a user name in running text ends, besides '/'.
bool endsName(char c) {
    switch (c) {
        case ':': case ',': case ';': case '"': case '\'': case '`': case '(': case ')': case '[': case ']':
        case '{': case '}': case '<': case '>': case '|': case '=': case '\n': case '\r': case '\t': case '\0':
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string shortenHomePaths(std::string_view text) {
    constexpr std::string_view kUsers = "/Users/";
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t found = text.find(kUsers, i);
        if (found == std::string_view::npos) break;
        const std::size_t nameStart = found + kUsers.size();
        std::size_t nameEnd = nameStart;
        while (nameEnd < text.size() && text[nameEnd] != '/' && !endsName(text[nameEnd])) ++nameEnd;
        out.append(text.substr(i, nameStart - i));
        if (nameEnd > nameStart) out += '~';
        i = nameEnd;  // the character after the name starts the next search
    }
    out.append(text.substr(i));
    return out;
}

}  // namespace lumo
