// ShellRunner: commands as a new Terminal window runs them.
//
// The version-manager runners stream their commands through the user's login
// shell in its Terminal view (LoginShell: `<shell> -ilc <command>`, clean
// environment, own session), so the tools a user's ~/.zshrc sets up are there.
// Values go into command lines through shellQuoted(), and come back out of a
// shell's output through a marker line that carries the run's nonce:
//
//   const std::string marker = nonceMarker("__FXW_JAVA_HOME__:", LoginShell::makeNonce());
//   auto result = shell.run(process, LoginShell::View::terminal, "print -r -- \"" + marker + "$JAVA_HOME\"");
//   std::optional<std::string> home = markerValue(result->stdoutText, marker);
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventStream.h"
#include "platform/LoginShell.h"
#include "platform/ProcessRunning.h"

namespace lumo {

class ShellRunner {
public:
    ShellRunner(std::shared_ptr<const ProcessRunning> process, LoginShell shell)
        : m_process(std::move(process)), m_shell(std::move(shell)) {}

    // Streams the child's merged output as Output events and ends with
    // Completed(exit code). A child that cannot start yields one line
    // "Failed to start <path>: <message>" and Completed(-1). Abandoning the
    // stream sends SIGTERM to the child; no Completed is delivered then.
    EventStream<StreamEvent> stream(const std::string& executable, const std::vector<std::string>& arguments,
                                    const std::optional<Environment>& environment = std::nullopt) const;

    // `command` (zsh and bash syntax) in the Terminal view of the user's
    // shell -- zsh for a fish user -- with no time limit.
    EventStream<StreamEvent> streamLoginShell(const std::string& command) const;

    const ProcessRunning& process() const { return *m_process; }
    const LoginShell& loginShell() const { return m_shell; }

private:
    std::shared_ptr<const ProcessRunning> m_process;
    LoginShell m_shell;
};

// The value after `marker` on the last output line that contains it, trimmed
// of spaces and tabs; nothing when that line has no value or no line has the
// marker. Start-up files may print anything before the marker line.
std::optional<std::string> markerValue(std::string_view output, std::string_view marker);

// `value` in double quotes with \ " $ and ` escaped, so zsh reads it back
// literally and expands nothing inside it.
std::string shellQuoted(std::string_view value);

// `value` in single quotes, each ' written as '\'' -- the form that start-up
// file lines show to a reader: eval "$('/Users/a/.local/bin/mise' activate zsh)".
std::string singleQuoted(std::string_view value);

}  // namespace lumo
