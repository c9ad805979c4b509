#include "platform/UTF8.h"

#include <vector>

#include <cstddef>

namespace lumo {

namespace {

// Length of the well-formed sequence starting at text[index]; 0 when the
// bytes there do not form one.
std::size_t utf8SequenceLength(std::string_view text, std::size_t index) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[index + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - index < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

bool isValidUTF8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string replacingInvalidUTF8(std::string_view text) {
    if (isValidUTF8(text)) return std::string(text);
    std::string repaired;
    repaired.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            repaired += "\xEF\xBF\xBD";
            ++i;
        } else {
            repaired.append(text.substr(i, length));
            i += length;
        }
    }
    return repaired;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    const auto cut = [&](std::size_t end, std::size_t terminatorLength) {
        if (end > start) lines.push_back(text.substr(start, end - start));
        i = end + terminatorLength;
        start = i;
    };
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\n' || byte == '\r' || byte == '\v' || byte == '\f') {
            cut(i, 1);
        } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85) {
            cut(i, 2);  // U+0085 NEXT LINE
        } else if (byte == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
                    static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            cut(i, 3);  // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

std::string_view trimmed(std::string_view text, std::string_view characters) {
    const auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(characters);
    return text.substr(first, last - first + 1);
}

}  // namespace lumo
