// Values that describe a child process run and the events it produces.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace lumo {

// A child's whole environment, or the application's own.
using Environment = std::map<std::string, std::string>;

// How a one-shot run is bounded.
struct RunOptions {
    // Past this the child's whole process group is killed and the result says
    // timedOut. Unbounded when empty.
    std::optional<std::chrono::milliseconds> timeLimit;
};

// The outcome of a one-shot run. Bytes that are not valid UTF-8 are replaced
// by U+FFFD, so the readable parts of the output still read.
// (The fields are not called stdout/stderr: those are macros in <cstdio>.)
struct ProcessResult {
    std::int32_t exitCode = 0;
    std::string stdoutText;
    std::string stderrText;
    bool timedOut = false;  // killed at RunOptions::timeLimit; the output is what came before

    friend bool operator==(const ProcessResult&, const ProcessResult&) = default;
};

// Events of a streamed run: merged output lines, then exactly one terminal
// event (exited, or failedToStart as the only event).
namespace process_event {
struct Line {
    std::string text;
    friend bool operator==(const Line&, const Line&) = default;
};
struct Exited {
    std::int32_t code = 0;
    friend bool operator==(const Exited&, const Exited&) = default;
};
struct FailedToStart {
    std::string message;
    friend bool operator==(const FailedToStart&, const FailedToStart&) = default;
};
}  // namespace process_event
using ProcessStreamEvent = std::variant<process_event::Line, process_event::Exited, process_event::FailedToStart>;

// Events that runners and screens consume: lines to show, then one of
// completed (with an exit code; -1 means the command could not be started)
// or canceled.
namespace stream_event {
struct Output {
    std::string text;
    friend bool operator==(const Output&, const Output&) = default;
};
struct Completed {
    std::int32_t exitCode = 0;
    friend bool operator==(const Completed&, const Completed&) = default;
};
struct Canceled {
    friend bool operator==(const Canceled&, const Canceled&) = default;
};
}  // namespace stream_event
using StreamEvent = std::variant<stream_event::Output, stream_event::Completed, stream_event::Canceled>;

inline bool isTerminal(const StreamEvent& event) { return !std::holds_alternative<stream_event::Output>(event); }

}  // namespace lumo
