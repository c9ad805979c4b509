// LoginShell: the user's own login shell, started the way macOS starts it.
//
// Java is judged as the user meets it, and there are two ways to meet it:
//
//  - a new Terminal (or iTerm) window runs a login, interactive shell: zsh
//    reads ~/.zprofile *and* ~/.zshrc, where SDKMAN, mise, jEnv, asdf and many
//    users set JAVA_HOME and PATH -- View::terminal, `<shell> -ilc <script>`;
//  - IDEs and apps started from the Dock run a login shell that is not
//    interactive, which never reads ~/.zshrc -- View::login, `<shell> -lc`.
//
// The shell is the account's login shell (zsh, bash or fish; another shell
// falls back to /bin/zsh). It always gets a clean environment -- HOME USER
// LOGNAME SHELL TMPDIR LANG from the app's own, PATH=/usr/bin:/bin:/usr/sbin:/sbin
// and TERM=dumb, nothing else -- so a JAVA_HOME of the app itself never leaks
// into the "fresh" shell. The process runner starts it in a session of its
// own with stdin /dev/null, so a start-up file that reads the terminal cannot
// stop it. One-shot runs are bounded by a time limit (15 s unless injected):
// past it the shell's whole process group is killed and the result says
// timedOut.
//
//   LoginShell shell = LoginShell::forHost(services.host);
//   std::string nonce = LoginShell::makeNonce();
//   auto result = shell.run(*services.processRunner, LoginShell::View::terminal, script);
//
// Values come back through marker lines that carry a per-run nonce (see
// nonceMarker()), so no prompt, banner or plugin output can imitate them.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostInfo.h"
#include "platform/ProcessRunning.h"

namespace lumo {

class LoginShell {
public:
    enum class Kind { zsh, bash, fish };
    enum class View { terminal, login };

    static constexpr std::chrono::milliseconds kDefaultTimeLimit = kLoginShellTimeLimit;
    static constexpr const char* kFallbackPath = "/bin/zsh";
    static constexpr const char* kSearchPath = "/usr/bin:/bin:/usr/sbin:/sbin";

    // The user's shell (userShellPath()) when it is zsh, bash or fish;
    // /bin/zsh otherwise. The time limit is the host's unless given.
    static LoginShell forHost(const HostInfo& host, std::optional<std::chrono::milliseconds> timeLimit = std::nullopt);

    LoginShell(Kind kind, std::string path, Environment environment,
               std::chrono::milliseconds timeLimit = kDefaultTimeLimit);

    // zsh, bash or fish by the path's last component ("/opt/homebrew/bin/fish"
    // is fish); nothing for any other shell.
    static std::optional<Kind> kindOf(std::string_view shellPath);
    static const char* name(Kind kind);

    // HOME USER LOGNAME SHELL TMPDIR LANG as the app has them (when it has
    // them), the system search path and TERM=dumb.
    static Environment cleanEnvironment(const HostInfo& host);

    // 16 random lowercase hexadecimal digits, new for every run.
    static std::string makeNonce();

    Kind kind() const { return m_kind; }
    const char* name() const { return name(m_kind); }
    const std::string& path() const { return m_path; }
    const Environment& environment() const { return m_environment; }
    std::chrono::milliseconds timeLimit() const { return m_timeLimit; }

    // The argument vector after the shell's path: {"-ilc", script} for the
    // Terminal view, {"-lc", script} for the login view (the same for all three shells).
    static std::vector<std::string> arguments(View view, const std::string& script);

    // One-shot, within the time limit.
    Result<ProcessResult> run(const ProcessRunning& process, View view, const std::string& script) const;
    // Streamed, without a time limit; abandoning the stream stops the shell.
    ProcessStream stream(const ProcessRunning& process, View view, const std::string& script) const;

    // The shell for a command written for zsh and bash (`source`, `&&`,
    // `set -e`): this one, or /bin/zsh with the same environment for fish.
    LoginShell forPOSIXCommands() const;

private:
    Kind m_kind;
    std::string m_path;
    Environment m_environment;
    std::chrono::milliseconds m_timeLimit;
};

// The account's login shell (HostInfo::userShell), else $SHELL; empty when
// neither is known.
std::string userShellPath(const HostInfo& host);

// `marker` + `nonce` + ":": what a marker line starts with in one run
// ("__FXW_JAVA_HOME__:3f9c0d2e71b84a65:").
std::string nonceMarker(std::string_view marker, std::string_view nonce);

}  // namespace lumo
