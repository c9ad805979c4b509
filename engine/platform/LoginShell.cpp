#include "platform/LoginShell.h"

#include <random>

#include "platform/FileSystemOperating.h"

namespace lumo {

LoginShell::LoginShell(Kind kind, std::string path, Environment environment, std::chrono::milliseconds timeLimit)
    : m_kind(kind), m_path(std::move(path)), m_environment(std::move(environment)), m_timeLimit(timeLimit) {}

LoginShell LoginShell::forHost(const HostInfo& host, std::optional<std::chrono::milliseconds> limit) {
    const auto timeLimit = limit.value_or(host.loginShellTimeLimit);
    const std::string path = userShellPath(host);
    if (const auto kind = kindOf(path)) return LoginShell(*kind, path, cleanEnvironment(host), timeLimit);
    return LoginShell(Kind::zsh, kFallbackPath, cleanEnvironment(host), timeLimit);
}

std::optional<LoginShell::Kind> LoginShell::kindOf(std::string_view shellPath) {
    const std::string name = lastPathComponent(std::string(shellPath));
    if (name == "zsh") return Kind::zsh;
    if (name == "bash") return Kind::bash;
    if (name == "fish") return Kind::fish;
    return std::nullopt;
}

const char* LoginShell::name(Kind kind) {
    switch (kind) {
        case Kind::zsh: return "zsh";
        case Kind::bash: return "bash";
        case Kind::fish: return "fish";
    }
    return "zsh";
}

Environment LoginShell::cleanEnvironment(const HostInfo& host) {
    Environment environment;
    for (const char* name : {"HOME", "USER", "LOGNAME", "SHELL", "TMPDIR", "LANG"}) {
        const auto found = host.environment.find(name);
        if (found != host.environment.end()) environment.emplace(found->first, found->second);
    }
    environment["PATH"] = kSearchPath;
    environment["TERM"] = "dumb";
    return environment;
}

std::string LoginShell::makeNonce() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device device;
    std::uint64_t bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    std::string nonce(16, '0');
    for (char& digit : nonce) {
        digit = kDigits[bits & 0xF];
        bits >>= 4;
    }
    return nonce;
}

std::vector<std::string> LoginShell::arguments(View view, const std::string& script) {
    return {view == View::terminal ? "-ilc" : "-lc", script};
}

Result<ProcessResult> LoginShell::run(const ProcessRunning& process, View view, const std::string& script) const {
    return process.run(m_path, arguments(view, script), m_environment, RunOptions{m_timeLimit});
}

ProcessStream LoginShell::stream(const ProcessRunning& process, View view, const std::string& script) const {
    return process.stream(m_path, arguments(view, script), m_environment);
}

LoginShell LoginShell::forPOSIXCommands() const {
    if (m_kind != Kind::fish) return *this;
    return LoginShell(Kind::zsh, kFallbackPath, m_environment, m_timeLimit);
}

std::string userShellPath(const HostInfo& host) {
    return host.userShell.empty() ? host.variable("SHELL") : host.userShell;
}

std::string nonceMarker(std::string_view marker, std::string_view nonce) {
    std::string result(marker);
    result += nonce;
    result += ':';
    return result;
}

}  // namespace lumo
