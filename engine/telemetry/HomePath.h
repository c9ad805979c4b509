// Paths that go into telemetry never carry the user's name.
#pragma once

#include <string>
#include <string_view>

namespace lumo {

// `text` with the user name of every "/Users/<name>" replaced by "~":
// "/Users/ada/.zprofile" becomes "/Users/~/.zprofile". A name runs to the next
// '/', or ends where a path cannot go on in running text (':', ',', ';',
// quotes, brackets, a line break) or with the text, so the home folder
// itself is shortened too ("/Users/ada: Permission denied" becomes
// "/Users/~: Permission denied"). Spaces belong to the name ("/Users/bob
// smith/bin"): a sentence after a bare home folder may be shortened with it,
// never left holding the name. Works on whole command lines, PATH-like
// lists, error descriptions and single paths.
std::string shortenHomePaths(std::string_view text);

}  // namespace lumo
