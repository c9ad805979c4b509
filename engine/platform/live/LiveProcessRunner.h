// LiveProcessRunner: real child processes through posix_spawn and pipes.
//
//   LiveProcessRunner runner;
//   Result<ProcessResult> uname = runner.run("/usr/bin/uname", {"-m"});
//   ProcessStream brew = runner.stream("/opt/homebrew/bin/brew", {"update"});
//   for (const ProcessStreamEvent& event : brew.events) { ... }
//
// How children are started:
//  - Each child leads its own session (and so its own process group, with no
//    controlling terminal: a child that opens /dev/tty gets an error instead
//    of stopping the app's terminal or waiting on it). The terminate request
//    is SIGTERM to that whole group, so a cancel also stops whatever the child
//    started (a login shell's commands, an installer's helpers). Only a
//    one-shot run's time limit escalates to SIGKILL.
//  - Standard input is /dev/null. A GUI app has no terminal to offer, and a
//    child that asks for input (a password prompt, a "Press RETURN") must see
//    end of file rather than wait forever or read the terminal the app was
//    started from.
//  - The child gets default signal dispositions and an empty signal mask,
//    whatever the app has set up. The app itself ignores SIGPIPE from the
//    first runner on (unless it installed its own handler).
//  - Every descriptor the runner creates is close-on-exec, and pipes are made
//    and handed to the child under one process-wide lock, so a child started on
//    another thread never inherits a pipe end (which would keep it from ever
//    reaching end of file). On macOS the child inherits no descriptor at all
//    except its three standard ones.
//  - Every child is reaped, whether or not anybody reads its stream.
//
// Output after exit: both kinds of run read the child's pipes to end of file
// before reporting the exit, so the last lines are never lost. If something
// the child left behind keeps the pipe open, reading stops kGraceAfterExit
// after the child has exited.
//
// Exit codes: the exit status of a child that exited, the signal number of a
// child that a signal ended (15 after a cancel), -1 if the status is unknown.
#pragma once

#include <chrono>

#include "platform/ProcessRunning.h"

namespace lumo {

class LiveProcessRunner final : public ProcessRunning {
public:
    // How long a pipe is still read after the child has exited without the
    // pipe reaching end of file (a background grandchild holds it open).
    static constexpr std::chrono::milliseconds kGraceAfterExit{250};

    LiveProcessRunner();

    // Blocks the calling thread until the child has exited and both pipes are
    // drained (read concurrently, so a child filling both never deadlocks).
    // Invalid UTF-8 is replaced by U+FFFD. At options.timeLimit the child's
    // process group is killed (SIGKILL) and the result says timedOut.
    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt,
                              const RunOptions& options = {}) const override;

    // Starts the child before returning. One reader thread splits the merged
    // output into lines (at LF, CR or CR LF; empty lines are kept; an
    // unterminated last line is delivered too; invalid UTF-8 is replaced by
    // U+FFFD), then yields Exited. The cancellation handle is a
    // LiveProcessCancellation.
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment = std::nullopt) const override;
};

}  // namespace lumo
