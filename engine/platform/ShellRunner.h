// ShellRunner: commands as a fresh login shell runs them.
//
// The user's Java setup is judged the way a new Terminal window sees it, so
// every shell command runs as `/bin/zsh -lc <command>` with the app's own
// environment (zsh rebuilds its own from the user's start-up files). Values go
// into command lines through shellQuoted(), and come back out of a shell's
// output through an echo marker:
//
//   auto result = process.run(kLoginShell, {"-lc", "echo __FXW_JAVA_HOME__:$JAVA_HOME"});
//   std::optional<std::string> home = markerValue(result->stdoutText, "__FXW_JAVA_HOME__:");
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventStream.h"
#include "platform/ProcessRunning.h"

namespace lumo {

inline constexpr const char* kLoginShell = "/bin/zsh";
inline constexpr const char* kLoginShellFlags = "-lc";

class ShellRunner {
public:
    explicit ShellRunner(std::shared_ptr<const ProcessRunning> process) : m_process(std::move(process)) {}

    // Streams the child's merged output as Output events and ends with
    // Completed(exit code). A child that cannot start yields one line
    // "Failed to start <path>: <message>" and Completed(-1). Abandoning the
    // stream sends SIGTERM to the child; no Completed is delivered then.
    EventStream<StreamEvent> stream(const std::string& executable, const std::vector<std::string>& arguments,
                                    const std::optional<Environment>& environment = std::nullopt) const;

    // stream(kLoginShell, {"-lc", command}).
    EventStream<StreamEvent> streamLoginShell(const std::string& command) const;

    const ProcessRunning& process() const { return *m_process; }

private:
    std::shared_ptr<const ProcessRunning> m_process;
};

// The value after `marker` on the last output line that contains it, trimmed
// of spaces and tabs; nothing when that line has no value or no line has the
// marker. Start-up files may print anything before the marker line.
std::optional<std::string> markerValue(std::string_view output, std::string_view marker);

// `value` in double quotes with \ " $ and ` escaped, so zsh reads it back
// literally and expands nothing inside it.
std::string shellQuoted(std::string_view value);

}  // namespace lumo
