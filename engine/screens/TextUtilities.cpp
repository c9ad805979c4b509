#include <cstdint>
#include <vector>

#include "screens/ScreenModel.h"

namespace lumo::text {

namespace {

struct Scalar {
    char32_t value;
    std::size_t offset;  // byte offset of the first byte
    std::size_t length;  // bytes
};

// Decodes UTF-8; a malformed byte counts as one scalar of its own.
std::vector<Scalar> decode(const std::string& utf8) {
    std::vector<Scalar> scalars;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = 1;
        char32_t value = lead;
        if (lead >= 0xF0 && lead < 0xF8) {
            length = 4;
            value = lead & 0x07;
        } else if (lead >= 0xE0) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xC0) {
            length = 2;
            value = lead & 0x1F;
        }
        if (length > 1) {
            bool valid = i + length <= utf8.size();
            for (std::size_t k = 1; valid && k < length; ++k) {
                const auto next = static_cast<unsigned char>(utf8[i + k]);
                if ((next & 0xC0) != 0x80) valid = false;
                value = (value << 6) | (next & 0x3F);
            }
            if (!valid) {
                length = 1;
                value = 0xFFFD;
            }
        }
        scalars.push_back({value, i, length});
        i += length;
    }
    return scalars;
}

bool isWhitespaceOrNewline(char32_t c) {
    if (c == ' ' || (c >= 0x09 && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680) return true;
    if (c >= 0x2000 && c <= 0x200A) return true;
    return c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

}  // namespace

std::string hostAndPath(const std::string& url) {
    std::string rest = url;
    std::string host;
    const auto scheme = rest.find("://");
    if (scheme != std::string::npos) {
        rest = rest.substr(scheme + 3);
        const auto pathStart = rest.find_first_of("/?#");
        host = rest.substr(0, pathStart);
        rest = pathStart == std::string::npos ? std::string() : rest.substr(pathStart);
        const auto at = host.rfind('@');
        if (at != std::string::npos) host = host.substr(at + 1);
    }
    const auto queryStart = rest.find_first_of("?#");
    return host + rest.substr(0, queryStart);
}

std::string trimmed(const std::string& utf8) {
    const auto scalars = decode(utf8);
    std::size_t first = 0;
    while (first < scalars.size() && isWhitespaceOrNewline(scalars[first].value)) ++first;
    std::size_t last = scalars.size();
    while (last > first && isWhitespaceOrNewline(scalars[last - 1].value)) --last;
    if (first == last) return {};
    const std::size_t begin = scalars[first].offset;
    const std::size_t end = scalars[last - 1].offset + scalars[last - 1].length;
    return utf8.substr(begin, end - begin);
}

std::string withoutControlCharacters(const std::string& utf8) {
    std::string result;
    for (const Scalar& scalar : decode(utf8)) {
        if (!isControl(scalar.value)) result.append(utf8, scalar.offset, scalar.length);
    }
    return result;
}

std::size_t characterCount(const std::string& utf8) { return decode(utf8).size(); }

std::string prefix(const std::string& utf8, std::size_t count) {
    const auto scalars = decode(utf8);
    if (scalars.size() <= count) return utf8;
    return utf8.substr(0, scalars[count].offset);
}

}  // namespace lumo::text
