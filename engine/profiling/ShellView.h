// What one fresh login shell ends up with -- JAVA_HOME, the `java` its PATH
// leads to, PATH itself and the directory its start-up files are read from --
// read in ONE run of the user's shell, and the start-up files behind it.
//
//   ShellViewProbe probe(process, fs, LoginShell::forHost(host), log);
//   ShellView terminal = probe.look(LoginShell::View::terminal);  // a new Terminal window
//   ShellView dock = probe.look(LoginShell::View::login);         // IDEs, apps started from the Dock
//   ShellStartup files = probe.startup(terminal.startupDirectory);
//
// The script prints each value after a marker that carries a fresh nonce,
// using only builtins (`builtin print`, `whence -p`, `type -P`, `command -s`),
// so aliases or functions the user named echo, print or java cannot bend it.
// The Terminal view first runs the prompt hooks a new window runs before its
// first prompt (zsh precmd and precmd_functions, bash PROMPT_COMMAND, fish's
// fish_prompt event): older mise and jEnv set JAVA_HOME only there.
//
// The Terminal view also leads the rest of the profile: JDK discovery follows
// its JAVA_HOME and `java` (JDKDiscovery.h), and brew, mise, jenv and the AI
// tools are looked for on its PATH, never on the app's own (ToolLookup.h).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/LoginShell.h"
#include "platform/ProcessRunning.h"

namespace lumo {

// Where the diagnostic lines of the probes go (a child that could not be
// launched, for example). The default prints them to standard output.
using DiagnosticLog = std::function<void(const std::string& line)>;
void printDiagnosticLine(const std::string& line);
// "Could not launch <executable>: <error>".
std::string launchFailure(const std::string& executable, const Error& error);

inline constexpr const char* kJavaHomeMarker = "__FXW_JAVA_HOME__:";
inline constexpr const char* kJavaCommandMarker = "__FXW_JAVA__:";
inline constexpr const char* kPathMarker = "__FXW_PATH__:";
inline constexpr const char* kStartupDirectoryMarker = "__FXW_STARTUP_DIR__:";

struct ShellView {
    std::optional<std::string> javaHome;     // $JAVA_HOME; absent when unset or empty
    std::optional<std::string> javaCommand;  // the `java` PATH leads to (aliases and functions ignored)
    std::string path;                        // $PATH
    bool timedOut = false;                   // the shell's start-up exceeded the time limit
    // ${ZDOTDIR:-$HOME} as zsh resolved it; $HOME for bash; fish's config
    // directory. Absent when the shell did not say.
    std::optional<std::string> startupDirectory;

    // What JAVA_HOME points at, looked up on disk.
    std::optional<std::string> javaHomeResolved;  // all symbolic links followed; absent when it does not exist
    bool javaHomeHasJava = false;                // an executable bin/java there (the system's /usr stub does not count)
    std::optional<std::string> javaHomeVersion;  // its JDK version (release file, else Info.plist)

    friend bool operator==(const ShellView&, const ShellView&) = default;
};

// The shell that ran the probes and the user's start-up files it reads.
struct ShellStartup {
    std::string shellPath;  // "/bin/zsh"
    std::string shellName;  // "zsh", "bash", "fish"
    std::string home;
    int timeLimitSeconds = 15;
    // The user's start-up files of that shell that exist, in the order a new
    // Terminal window reads them.
    std::vector<std::string> files;
    // Those of `files` with a non-comment line that sets JAVA_HOME, directly
    // or through SDKMAN, jEnv, mise, asdf or java_home.
    std::vector<std::string> javaHomeFiles;

    friend bool operator==(const ShellStartup&, const ShellStartup&) = default;
};

// The script one view runs; `javaHomeMarker` is the JAVA_HOME marker's
// prefix (the probe's or the verifier's).
std::string shellViewScript(LoginShell::Kind kind, LoginShell::View view, std::string_view nonce,
                            std::string_view javaHomeMarker = kJavaHomeMarker);

// The values of a run's standard output; lines without this run's nonce
// count for nothing.
ShellView parseShellView(std::string_view output, std::string_view nonce,
                         std::string_view javaHomeMarker = kJavaHomeMarker);

// "A new zsh took longer than 15 seconds to start, so we couldn't see the Java
// setup a Terminal window gets. Its start-up files: ~/.zprofile, ~/.zshrc."
std::string startupTimedOutReason(const ShellStartup& startup);

// Whether a new Terminal window reads `file` but a login shell that is not
// interactive does not (~/.zshrc, ~/.bashrc).
bool readOnlyByTerminal(const std::string& file);

// `path` with the home directory written as "~".
std::string abbreviatingHome(const std::string& path, const std::string& home);

class ShellViewProbe {
public:
    ShellViewProbe(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                   LoginShell shell, DiagnosticLog log = printDiagnosticLine);

    // One run of the shell in `view`. Never fails: a shell that cannot start
    // (logged) sees nothing; one that outlives the time limit is killed and
    // says timedOut.
    ShellView look(LoginShell::View view, std::string_view javaHomeMarker = kJavaHomeMarker) const;

    // The start-up files of the shell; `directory` is where zsh or fish said
    // they are (the home directory when not known).
    ShellStartup startup(const std::optional<std::string>& directory) const;

    const LoginShell& shell() const { return m_shell; }

private:
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    LoginShell m_shell;
    DiagnosticLog m_log;
};

// The JDK version of the Java home `home` from its own files: the release
// file's JAVA_VERSION, else the bundle's Info.plist JVMVersion.
std::optional<std::string> jdkVersionAt(const FileSystemOperating& fs, const std::string& home);

}  // namespace lumo
