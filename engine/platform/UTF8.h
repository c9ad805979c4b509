// UTF-8 checks, line splitting and trimming shared by everything that takes
// text from the machine.
//
// "Well-formed" is the Unicode definition: no overlong forms, no surrogates,
// nothing above U+10FFFF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumo {

bool isValidUTF8(std::string_view text);

// `text` with every byte that is not part of a well-formed sequence replaced by
// U+FFFD, so it can always be shown or encoded.
std::string replacingInvalidUTF8(std::string_view text);

// The lines of `text`, split at LF, CR, VT, FF, U+0085, U+2028 and U+2029
// (every terminator a shell or the platform may produce), empty ones dropped.
std::vector<std::string_view> splitLines(std::string_view text);

// `text` without the leading and trailing bytes that are among `characters`.
std::string_view trimmed(std::string_view text, std::string_view characters = " \t\r\n");

}  // namespace lumo
