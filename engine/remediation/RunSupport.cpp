#include "remediation/RunSupport.h"

#include <algorithm>
#include <cctype>

namespace lumo {

ForwardedChild forwardChildOutput(ProcessStream child, const std::string& what, const EventSink<StreamEvent>& sink,
                                  const RunCancellation& run) {
    run.process().attach(child.cancellation);
    ForwardedChild result;
    while (auto event = child.events.next()) {
        if (const auto* line = std::get_if<process_event::Line>(&*event)) {
            sink.yield(stream_event::Output{line->text});
            result.transcript += lowercased(line->text);
            result.transcript += '\n';
        } else if (const auto* exited = std::get_if<process_event::Exited>(&*event)) {
            result.exitCode = exited->code;
        } else if (const auto* failed = std::get_if<process_event::FailedToStart>(&*event)) {
            sink.yield(stream_event::Output{"Failed to start " + what + ": " + failed->message});
            result.exitCode = -1;
            result.started = false;
            result.transcript.clear();
        }
    }
    return result;
}

std::string lowercased(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string trimmed(std::string_view text) {
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> needles) {
    return std::any_of(needles.begin(), needles.end(),
                       [&](std::string_view needle) { return text.find(needle) != std::string_view::npos; });
}

}  // namespace lumo
