// SystemProfile: the one snapshot of the Mac that every decision reads, and
// SystemProfiler, which builds it from a dozen concurrent detections.
//
//   SystemProfiler profiler(services);
//   SystemProfile profile = profiler.profile();   // never fails; blocks a worker thread
//   if (profile.isLikelyDeveloper()) ...
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/HostInfo.h"
#include "platform/ProcessRunning.h"
#include "profiling/Probes.h"

namespace lumo {

enum class Architecture { appleSilicon, intel, unknown };

// "appleSilicon", "intel", "unknown".
const char* architectureName(Architecture architecture);

// The user's login shell: zsh, bash, fish, or another one by name.
struct Shell {
    enum class Kind { other, zsh, bash, fish };
    Kind kind = Kind::other;
    std::string otherName;  // only for Kind::other

    static Shell other(std::string name) { return {Kind::other, std::move(name)}; }
    static Shell zsh() { return {Kind::zsh, {}}; }
    static Shell bash() { return {Kind::bash, {}}; }
    static Shell fish() { return {Kind::fish, {}}; }

    // "zsh", "bash", "fish", or the other shell's name.
    std::string name() const;

    friend bool operator==(const Shell&, const Shell&) = default;
};

// Installed terminal applications.
struct Terminals {
    bool iterm = false;      // iTerm.app       "iterm2"
    bool ghostty = false;    // Ghostty.app     "ghostty"
    bool warp = false;       // Warp.app        "warp"
    bool hyper = false;      // Hyper.app       "hyper"
    bool alacritty = false;  // Alacritty.app   "alacritty"
    bool kitty = false;      // kitty.app       "kitty"
    bool wezterm = false;    // WezTerm.app     "wezterm"

    // The keys of the installed ones, sorted ascending.
    std::vector<std::string> reportKeys() const;
    bool any() const;

    friend bool operator==(const Terminals&, const Terminals&) = default;
};

// Installed AI coding tools.
struct AITooling {
    bool claudeCodeDesktop = false;  // Claude.app                   "claude-code-desktop"
    bool cursor = false;             // Cursor.app                   "cursor"
    bool codexDesktop = false;       // Codex.app                    "codex-desktop"
    bool vsCode = false;             // Visual Studio Code.app       "vs-code"
    bool windsurf = false;           // Windsurf.app                 "windsurf"
    bool kiro = false;               // Kiro.app                     "kiro"
    bool antigravity = false;        // Antigravity.app              "antigravity"
    bool zed = false;                // Zed.app                      "zed"
    bool replit = false;             // Replit.app                   "replit"
    bool warpApp = false;            // Warp.app                     "warp"
    bool intellij = false;           // IntelliJ IDEA (CE).app       "intellij"
    bool claudeCodeCLI = false;      // command `claude`             "claude-code-cli"
    bool codexCLI = false;           // command `codex`              "codex-cli"
    bool aider = false;              // command `aider`              "aider"

    // The keys of the installed ones, sorted ascending.
    std::vector<std::string> reportKeys() const;
    bool any() const;

    friend bool operator==(const AITooling&, const AITooling&) = default;
};

struct SystemProfile {
    // The machine's processor, also when the app runs translated by Rosetta.
    Architecture architecture = Architecture::unknown;
    OperatingSystemVersion macosVersion;
    Shell shell = Shell::other("unknown");
    std::string shellPath;                      // the login shell's path; empty when unknown
    std::optional<std::string> homebrewPrefix;  // full path of the brew executable
    std::optional<std::string> sdkmanRoot;      // ~/.sdkman
    std::optional<std::string> miseExecutable;  // full path of mise
    std::optional<std::string> jenvRoot;        // ~/.jenv
    std::optional<std::string> asdfRoot;        // ~/.asdf
    // The developer directory `xcode-select -p` reports, when its git is there
    // (xcode-select keeps reporting a directory after the tools were removed).
    std::optional<std::string> xcodeCommandLineToolsPath;
    ProbeBundle javaState;
    AITooling aiTooling;
    Terminals terminals;
    std::optional<std::string> jenvExecutable;  // full path of jenv
    bool runsTranslated = false;                // the app itself runs under Rosetta
    bool rosettaInstalled = false;              // Rosetta's runtime is on disk (Apple silicon)

    // Any developer tool, AI tool, terminal or the Command Line Tools. asdf and
    // the Java state do not count.
    bool isLikelyDeveloper() const;

    friend bool operator==(const SystemProfile&, const SystemProfile&) = default;
};

// "14.5.0".
std::string versionString(const OperatingSystemVersion& version);

// The active developer directory reported by `xcode-select -p`, when its
// tools are really there: `xcode-select -p` still prints
// /Library/Developer/CommandLineTools after that directory was deleted, so
// the directory's usr/bin/git (the Command Line Tools', or the selected
// Xcode's Contents/Developer/usr/bin/git) must be an executable file too.
class XcodeCLTProbe {
public:
    XcodeCLTProbe(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                  DiagnosticLog log = printDiagnosticLine)
        : m_process(std::move(process)), m_fs(std::move(fs)), m_log(std::move(log)) {}
    // Never fails: a launch failure (logged), a non-zero exit, no output or
    // no git in the directory is nothing.
    std::optional<std::string> path() const;

private:
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    DiagnosticLog m_log;
};

class SystemProfiler {
public:
    // Uses the services' process runner, file system and host (environment,
    // OS version, the machine's processor). When the app runs translated on
    // Apple silicon, every child starts natively (NativeArchitectureRunner.h).
    explicit SystemProfiler(const AppServices& services, DiagnosticLog log = printDiagnosticLine);
    SystemProfiler(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                   HostInfo host, DiagnosticLog log = printDiagnosticLine);

    // Runs every detection concurrently; takes about as long as the slowest
    // one. Never fails. Holds no state: two profiles may be built at once.
    SystemProfile profile() const;

private:
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    HostInfo m_host;
    DiagnosticLog m_log;
};

}  // namespace lumo
