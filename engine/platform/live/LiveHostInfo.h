// The live HostInfo: this process's environment, the OS version and the
// user's login shell from the account database.
#pragma once

#include <string>
#include <string_view>

#include "platform/HostInfo.h"

namespace lumo {

// Reads the environment (a snapshot: later setenv calls are not seen), the
// login shell of this process's user (getpwuid) and, on macOS, the product
// version from sysctl "kern.osproductversion" and the processor from sysctl
// (hw.optional.arm64, sysctl.proc_translated). Outside macOS the version is
// 0.0.0 and the processor is uname's machine. Call it at start-up, before
// threads that may
// change the environment exist.
HostInfo currentHostInfo();

// "14.5" -> 14.5.0, "14.5.1" -> 14.5.1, "15" -> 15.0.0; anything that does not
// start with a number gives 0.0.0.
OperatingSystemVersion parseOperatingSystemVersion(std::string_view text);

// uname's machine name as HostInfo carries it: "aarch64" and "arm64" give
// "arm64", "x86_64" and "amd64" give "x86_64"; others stay as they are.
std::string machineArchitectureName(std::string_view machine);

// This process's environment block ("NAME=value" strings, then a null), as
// posix_spawn takes it for a child that inherits the environment.
char** processEnvironment();

}  // namespace lumo
