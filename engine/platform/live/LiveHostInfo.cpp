#include "platform/live/LiveHostInfo.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#ifdef __APPLE__
#include <crt_externs.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#else
#include <sys/utsname.h>
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

// The account database's shell, not $SHELL: an app started from the Dock may
// carry a stale one.
std::string accountShell() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 4096));
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (std::size_t{1} << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (!found || !found->pw_shell) return {};
    return found->pw_shell;
}

#ifdef __APPLE__
// An integer sysctl; nothing when the name does not exist on this machine.
std::optional<int> sysctlInteger(const char* name) {
    int value = 0;
    std::size_t size = sizeof value;
    if (::sysctlbyname(name, &value, &size, nullptr, 0) != 0) return std::nullopt;
    return value;
}
#endif

// The hardware's processor. On macOS, hw.optional.arm64 is 1 on Apple silicon
// also inside a translated process (where the build and `uname -m` say
// x86_64); it does not exist on an Intel Mac. sysctl.proc_translated is 1 in a
// process Rosetta translates and does not exist on an Intel Mac.
void readMachine(HostInfo& host) {
#ifdef __APPLE__
    host.machineArchitecture = sysctlInteger("hw.optional.arm64").value_or(0) == 1 ? "arm64" : "x86_64";
    host.runsTranslated = sysctlInteger("sysctl.proc_translated").value_or(0) == 1;
#else
    struct utsname name {};
    if (::uname(&name) == 0) host.machineArchitecture = machineArchitectureName(name.machine);
    host.runsTranslated = false;
#endif
}

}  // namespace

std::string machineArchitectureName(std::string_view machine) {
    if (machine == "aarch64" || machine == "arm64") return "arm64";
    if (machine == "x86_64" || machine == "amd64") return "x86_64";
    return std::string(machine);
}

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
    host.userShell = accountShell();
    readMachine(host);
    return host;
}

}  // namespace lumo
