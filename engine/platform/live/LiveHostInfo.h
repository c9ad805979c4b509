// The live HostInfo: this process's environment, the OS version and the
// user's login shell from the account database.
#pragma once

#include <string_view>

#include "platform/HostInfo.h"

namespace lumo {

// Reads the environment (a snapshot: later setenv calls are not seen), the
// login shell of this process's user (getpwuid) and, on macOS, the product
// version from sysctl "kern.osproductversion". Outside macOS the version is
// 0.0.0. Call it at start-up, before threads that may
// change the environment exist.
HostInfo currentHostInfo();

// "14.5" -> 14.5.0, "14.5.1" -> 14.5.1, "15" -> 15.0.0; anything that does not
// start with a number gives 0.0.0.
OperatingSystemVersion parseOperatingSystemVersion(std::string_view text);

// This process's environment block ("NAME=value" strings, then a null), as
// posix_spawn takes it for a child that inherits the environment.
char** processEnvironment();

}  // namespace lumo
