// What the app knows about the machine it runs on besides files, programs and
// the network: its own environment variables, the OS version, the machine's
// real architecture and the user's login shell.
#pragma once

#include <string>

#include "platform/ProcessTypes.h"

namespace lumo {

struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;
    friend bool operator==(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

struct HostInfo {
    Environment environment;  // the application's own environment
    OperatingSystemVersion osVersion;
    std::string machineArchitecture;  // "arm64" or "x86_64", even when this app runs translated; empty when unknown
    bool runsTranslated = false;      // this app runs under Rosetta
    std::string userShell;            // the login shell in the account database (pw_shell); empty when unknown

    // The variable's value, or the empty string.
    std::string variable(const std::string& name) const {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    }
};

}  // namespace lumo
