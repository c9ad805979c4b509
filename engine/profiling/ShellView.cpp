#include "profiling/ShellView.h"

#include <algorithm>

#include "platform/PropertyList.h"
#include "platform/ShellRunner.h"
#include "platform/UTF8.h"
#include "profiling/Probes.h"

namespace lumo {

namespace {

using Kind = LoginShell::Kind;
using View = LoginShell::View;

struct Markers {
    std::string javaHome, javaCommand, path, startupDirectory;

    Markers(std::string_view javaHomeMarker, std::string_view nonce)
        : javaHome(nonceMarker(javaHomeMarker, nonce)),
          javaCommand(nonceMarker(kJavaCommandMarker, nonce)),
          path(nonceMarker(kPathMarker, nonce)),
          startupDirectory(nonceMarker(kStartupDirectoryMarker, nonce)) {}
};

// Every word that could be an alias is escaped (\builtin) and every command
// is a builtin, so nothing of the user's can stand in for them. Options that
// would stop the script half-way (errexit, nounset) are switched off first.
std::string zshScript(View view, const Markers& m) {
    std::string script = "\\builtin set +eu 2>/dev/null\n";
    if (view == View::terminal) {
        // What zsh runs before the first prompt: precmd, then precmd_functions.
        script +=
            "if (( ${+functions[precmd]} )); then precmd; fi\n"
            "for __fxw_hook in \"${precmd_functions[@]}\"; do\n"
            "  if (( ${+functions[$__fxw_hook]} )); then \"$__fxw_hook\"; fi\n"
            "done\n";
    }
    script += "\\builtin print -r -- \"" + m.javaHome + "${JAVA_HOME-}\"\n";
    script += "\\builtin print -rn -- \"" + m.javaCommand + "\"; \\builtin whence -p java || \\builtin print\n";
    script += "\\builtin print -r -- \"" + m.path + "${PATH-}\"\n";
    script += "\\builtin print -r -- \"" + m.startupDirectory + "${ZDOTDIR:-$HOME}\"\n";
    return script;
}

std::string bashScript(View view, const Markers& m) {
    std::string script = "\\builtin set +eu 2>/dev/null\n";
    if (view == View::terminal) {
        // A string, or since bash 5.1 an array of commands.
        script += "for __fxw_hook in \"${PROMPT_COMMAND[@]}\"; do \\builtin eval \"$__fxw_hook\"; done\n";
    }
    script += "\\builtin printf '%s\\n' \"" + m.javaHome + "${JAVA_HOME-}\"\n";
    script += "\\builtin printf '%s' \"" + m.javaCommand + "\"; \\builtin type -P java || \\builtin printf '\\n'\n";
    script += "\\builtin printf '%s\\n' \"" + m.path + "${PATH-}\"\n";
    script += "\\builtin printf '%s\\n' \"" + m.startupDirectory + "${HOME-}\"\n";
    return script;
}

// fish reserves `builtin` and `command`: no function can take their names.
std::string fishScript(View view, const Markers& m) {
    std::string script;
    if (view == View::terminal) script += "builtin emit fish_prompt\n";
    script += "builtin printf '%s\\n' \"" + m.javaHome + "$JAVA_HOME\"\n";
    script += "builtin printf '%s' \"" + m.javaCommand + "\"; command -s java; or builtin printf '\\n'\n";
    // $PATH is a list in fish.
    script += "builtin printf '%s\\n' \"" + m.path + "\"(builtin string join : -- $PATH)\n";
    script += "builtin printf '%s\\n' \"" + m.startupDirectory + "$__fish_config_dir\"\n";
    return script;
}

std::string_view trimmedSpace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

// Whether a non-comment line of `text` sets JAVA_HOME, or runs something
// that does.
bool setsJavaHome(std::string_view text) {
    static constexpr std::string_view kSigns[] = {"JAVA_HOME", "sdkman-init", "jenv init", "mise activate",
                                                  "set-java-home"};
    for (const std::string_view line : splitLines(text)) {
        const auto content = trimmedSpace(line);
        if (content.empty() || content.front() == '#') continue;
        for (const auto sign : kSigns)
            if (content.find(sign) != std::string_view::npos) return true;
    }
    return false;
}

}  // namespace

std::string shellViewScript(Kind kind, View view, std::string_view nonce, std::string_view javaHomeMarker) {
    const Markers markers(javaHomeMarker, nonce);
    switch (kind) {
        case Kind::zsh: return zshScript(view, markers);
        case Kind::bash: return bashScript(view, markers);
        case Kind::fish: return fishScript(view, markers);
    }
    return zshScript(view, markers);
}

ShellView parseShellView(std::string_view output, std::string_view nonce, std::string_view javaHomeMarker) {
    const Markers markers(javaHomeMarker, nonce);
    ShellView view;
    view.javaHome = markerValue(output, markers.javaHome);
    view.javaCommand = markerValue(output, markers.javaCommand);
    view.path = markerValue(output, markers.path).value_or("");
    view.startupDirectory = markerValue(output, markers.startupDirectory);
    return view;
}

std::string startupTimedOutReason(const ShellStartup& startup) {
    std::string files;
    for (const std::string& file : startup.files)
        files += (files.empty() ? "" : ", ") + abbreviatingHome(file, startup.home);
    const std::string shell = startup.shellName.empty() ? std::string("login shell") : startup.shellName;
    const std::string seconds =
        startup.timeLimitSeconds == 1 ? "1 second" : std::to_string(startup.timeLimitSeconds) + " seconds";
    return "A new " + shell + " took longer than " + seconds +
           " to start, so we couldn't see the Java setup a Terminal window gets. " +
           (files.empty() ? std::string("None of its start-up files are in your home folder; the system's own may be "
                                        "slow.")
                          : "Its start-up files: " + files + ".");
}

bool readOnlyByTerminal(const std::string& file) {
    const std::string name = lastPathComponent(file);
    return name == ".zshrc" || name == ".bashrc";
}

std::string abbreviatingHome(const std::string& path, const std::string& home) {
    if (home.empty() || home == "/") return path;
    if (path == home) return "~";
    if (path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/')
        return "~" + path.substr(home.size());
    return path;
}

std::optional<std::string> jdkVersionAt(const FileSystemOperating& fs, const std::string& home) {
    if (const auto release = fs.readData(joinPath(home, "release"))) {
        const auto entries = parseReleaseFile(replacingInvalidUTF8(*release));
        const auto version = entries.find("JAVA_VERSION");
        if (version != entries.end() && !version->second.empty()) return version->second;
    }
    if (const auto plist = fs.readData(joinPath(parentDirectory(home), "Info.plist"))) {
        if (const auto javaVM = decodePropertyListStrings(*plist, "JavaVM")) {
            const auto version = javaVM->find("JVMVersion");
            if (version != javaVM->end() && !version->second.empty()) return version->second;
        }
    }
    return std::nullopt;
}

ShellViewProbe::ShellViewProbe(std::shared_ptr<const ProcessRunning> process,
                               std::shared_ptr<const FileSystemOperating> fs, LoginShell shell, DiagnosticLog log)
    : m_process(std::move(process)),
      m_fs(std::move(fs)),
      m_shell(std::move(shell)),
      m_log(log ? std::move(log) : DiagnosticLog([](const std::string&) {})) {}

ShellView ShellViewProbe::look(View view, std::string_view javaHomeMarker) const {
    const std::string nonce = LoginShell::makeNonce();
    const auto result = m_shell.run(*m_process, view, shellViewScript(m_shell.kind(), view, nonce, javaHomeMarker));
    if (!result) {
        m_log(launchFailure(m_shell.path(), result.error()));
        return {};
    }
    ShellView seen = parseShellView(result->stdoutText, nonce, javaHomeMarker);
    // The last marker line came through: what hung was after the values (a
    // slow ~/.zlogout, say), and they are whole.
    const bool complete = result->stdoutText.find(nonceMarker(kStartupDirectoryMarker, nonce)) != std::string::npos;
    seen.timedOut = result->timedOut && !complete;
    if (seen.timedOut) return seen;
    if (seen.javaHome) {
        if (const auto resolved = m_fs->resolvingSymlinks(*seen.javaHome)) {
            seen.javaHomeResolved = *resolved;
            // JAVA_HOME=/usr leads to the system's stub, not to a JDK.
            seen.javaHomeHasJava = *resolved != "/usr" && m_fs->isExecutableFile(joinPath(*resolved, "bin/java"));
            seen.javaHomeVersion = jdkVersionAt(*m_fs, *resolved);
        }
    }
    return seen;
}

ShellStartup ShellViewProbe::startup(const std::optional<std::string>& directory) const {
    ShellStartup startup;
    startup.shellPath = m_shell.path();
    startup.shellName = m_shell.name();
    startup.home = m_fs->homeDirectory();
    startup.timeLimitSeconds = static_cast<int>((m_shell.timeLimit().count() + 999) / 1000);
    const std::string& home = startup.home;

    std::vector<std::string> candidates;
    switch (m_shell.kind()) {
        case Kind::zsh: {
            // ~/.zshenv is read before it can move ZDOTDIR; the others follow it.
            const std::string dir = directory.value_or(home);
            candidates = {joinPath(home, ".zshenv"), joinPath(dir, ".zprofile"), joinPath(dir, ".zshrc"),
                          joinPath(dir, ".zlogin")};
            break;
        }
        case Kind::bash:
            // A login bash reads the first of these three; ~/.bashrc only when one of them sources it.
            for (const char* name : {".bash_profile", ".bash_login", ".profile"}) {
                if (m_fs->fileExists(joinPath(home, name))) {
                    candidates.push_back(joinPath(home, name));
                    break;
                }
            }
            candidates.push_back(joinPath(home, ".bashrc"));
            break;
        case Kind::fish: {
            const std::string dir = directory.value_or(joinPath(home, ".config/fish"));
            std::vector<std::string> snippets;
            for (const auto& entry :
                 m_fs->contentsOfDirectory(joinPath(dir, "conf.d")).valueOr(std::vector<std::string>()))
                if (entry.size() > 5 && entry.ends_with(".fish")) snippets.push_back(joinPath(dir, "conf.d/" + entry));
            std::sort(snippets.begin(), snippets.end());
            candidates = std::move(snippets);
            candidates.push_back(joinPath(dir, "config.fish"));
            break;
        }
    }
    for (const auto& file : candidates) {
        bool isDirectory = false;
        if (!m_fs->fileExists(file, &isDirectory) || isDirectory) continue;
        startup.files.push_back(file);
        if (const auto text = m_fs->readData(file); text && setsJavaHome(*text)) startup.javaHomeFiles.push_back(file);
    }
    return startup;
}

}  // namespace lumo
