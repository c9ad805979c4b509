#include "platform/live/LiveHostInfo.h"

#include <cstring>
#include <string>

#ifdef __APPLE__
#include <crt_externs.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#else
extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX declares it nowhere
#endif

namespace lumo {

char** processEnvironment() {
#ifdef __APPLE__
    // `environ` is not reachable from code that may end up in a dylib.
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

namespace {

Environment environmentSnapshot() {
    Environment environment;
    for (char** entry = processEnvironment(); entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        // The first definition wins, as getenv() sees it.
        environment.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return environment;
}

OperatingSystemVersion operatingSystemVersion() {
#ifdef __APPLE__
    char buffer[64] = {};
    std::size_t size = sizeof buffer;
    if (::sysctlbyname("kern.osproductversion", buffer, &size, nullptr, 0) == 0 && size > 0) {
        return parseOperatingSystemVersion(std::string_view(buffer, ::strnlen(buffer, size)));
    }
#endif
    return {};
}

}  // namespace

OperatingSystemVersion parseOperatingSystemVersion(std::string_view text) {
    int parts[3] = {0, 0, 0};
    std::size_t index = 0;
    for (int part = 0; part < 3; ++part) {
        const std::size_t start = index;
        long value = 0;
        while (index < text.size() && text[index] >= '0' && text[index] <= '9' && index - start < 6) {
            value = value * 10 + (text[index] - '0');
            ++index;
        }
        if (index == start) {
            if (part == 0) return {};
            break;
        }
        parts[part] = static_cast<int>(value);
        if (index >= text.size() || text[index] != '.') break;
        ++index;
    }
    return {parts[0], parts[1], parts[2]};
}

HostInfo currentHostInfo() {
    HostInfo host;
    host.environment = environmentSnapshot();
    host.osVersion = operatingSystemVersion();
    return host;
}

}  // namespace lumo
