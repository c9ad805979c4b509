#include "platform/ShellRunner.h"

#include "platform/UTF8.h"

#include <thread>

namespace lumo {

namespace {

}  // namespace

EventStream<StreamEvent> ShellRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                             const std::optional<Environment>& environment) const {
    auto [outer, sink] = makeEventStream<StreamEvent>();
    auto inner = std::make_shared<ProcessStream>(m_process->stream(executable, arguments, environment));

    // Abandoning the outer stream stops the child and ends the forwarder.
    sink.onTermination([inner] {
        inner->cancellation->cancel();
        inner->events.cancel();
    });

    std::thread([inner, sink = sink, executable] {
        while (auto event = inner->events.next()) {
            if (const auto* line = std::get_if<process_event::Line>(&*event)) {
                sink.yield(stream_event::Output{line->text});
            } else if (const auto* exited = std::get_if<process_event::Exited>(&*event)) {
                sink.yield(stream_event::Completed{exited->code});
                break;
            } else if (const auto* failed = std::get_if<process_event::FailedToStart>(&*event)) {
                sink.yield(stream_event::Output{"Failed to start " + executable + ": " + failed->message});
                sink.yield(stream_event::Completed{-1});
                break;
            }
        }
        sink.finish();
    }).detach();

    return std::move(outer);
}

EventStream<StreamEvent> ShellRunner::streamLoginShell(const std::string& command) const {
    const LoginShell shell = m_shell.forPOSIXCommands();
    return stream(shell.path(), LoginShell::arguments(LoginShell::View::terminal, command), shell.environment());
}

std::optional<std::string> markerValue(std::string_view output, std::string_view marker) {
    const auto lines = splitLines(output);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const auto at = line->find(marker);
        if (at == std::string_view::npos) continue;
        const auto value = trimmed(line->substr(at + marker.size()), " \t");
        if (value.empty()) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

std::string shellQuoted(std::string_view value) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    quoted.push_back('"');
    for (const char c : value) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') quoted.push_back('\\');
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string singleQuoted(std::string_view value) {
    std::string quoted = "'";
    for (const char c : value) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace lumo
