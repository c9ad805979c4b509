// ProcessRunning: the one way the engine starts programs.
//
// The executable path and argument vector go to the operating system as they
// are -- never through a shell. Login-shell semantics belong to ShellRunner.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/EventStream.h"
#include "platform/ProcessCancellation.h"
#include "platform/ProcessTypes.h"
#include "platform/Result.h"

namespace lumo {

struct ProcessStream {
    EventStream<ProcessStreamEvent> events;
    std::shared_ptr<ProcessCancellation> cancellation;
};

class ProcessRunning {
public:
    virtual ~ProcessRunning() = default;

    // Runs the child to completion and returns its exit code and both outputs.
    // Blocks the calling (worker) thread. Fails only when the child cannot be
    // launched; a non-zero exit is a result. `environment`, when given, is the
    // child's whole environment; otherwise the child inherits the app's. A
    // child still running at options.timeLimit is killed with its process
    // group and the result says timedOut.
    virtual Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                                      const std::optional<Environment>& environment = std::nullopt,
                                      const RunOptions& options = {}) const = 0;

    // Starts the child at once and streams its merged stdout+stderr as lines,
    // ending with exactly one Exited, or a single FailedToStart. Abandoning
    // (cancelling or destroying) the stream terminates the child.
    virtual ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                                 const std::optional<Environment>& environment = std::nullopt) const = 0;
};

}  // namespace lumo
