// What the app knows about the machine it runs on besides files, programs and
// the network: its own environment variables, the OS version, the machine's
// processor and the user's login shell.
#pragma once

#include <chrono>
#include <string>

#include "platform/ProcessTypes.h"

namespace lumo {

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;
    friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

// How long a login shell may take to start and answer by default.
inline constexpr std::chrono::milliseconds kLoginShellTimeLimit{15000};

struct HostInfo {
    Environment environment;  // the application's own environment
    OperatingSystemVersion osVersion;
    std::string userShell;  // the account's login shell (getpwuid's pw_shell); empty when unknown
    // The machine's processor, "arm64" or "x86_64" -- the hardware's, even when
    // this process runs translated by Rosetta (then the build says x86_64 and
    // `uname -m` in a child does too). Empty when unknown.
    std::string machineArchitecture;
    // This process runs as x86_64 code translated by Rosetta.
    bool runsTranslated = false;
    // How long a login shell may take before it is given up on (and killed):
    // a start-up file that waits forever must not stall the app.
    std::chrono::milliseconds loginShellTimeLimit = kLoginShellTimeLimit;

    // The variable's value, or the empty string.
    std::string variable(const std::string& name) const {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    }
};

}  // namespace lumo
