// Reading property lists (Info.plist), XML or binary.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/FileSystemOperating.h"

namespace lumo {

// The top-level string values of a property list whose root is a dictionary.
// Nothing when the data is not a property list, is truncated or corrupt, or
// its root is not a dictionary. Never throws.
std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes& data);

// The string values of the dictionary stored under `key` in the root
// dictionary (Info.plist's "JavaVM", for example). Nothing when the data is not
// a property list, or the root or that entry is not a dictionary. Never throws.
std::optional<std::map<std::string, std::string>> decodePropertyListStrings(const Bytes& data,
                                                                             const std::string& key);

}  // namespace lumo
