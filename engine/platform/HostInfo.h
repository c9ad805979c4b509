// What the app knows about the machine it runs on besides files, programs and
// the network: its own environment variables and the OS version.
#pragma once

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

    // The variable's value, or the empty string.
    std::string variable(const std::string& name) const {
        const auto found = environment.find(name);
        return found == environment.end() ? std::string() : found->second;
    }
};

}  // namespace lumo
