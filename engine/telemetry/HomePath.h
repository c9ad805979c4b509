// Paths that go into telemetry never carry the user's name.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// `text` with every "/Users/<name>/" replaced by "/Users/~/"; a name is one or
// more characters other than '/'. Works on whole command lines and PATH-like
// lists as well as single paths.
std::string shortenHomePaths(std::string_view text);

}  // namespace lumo
