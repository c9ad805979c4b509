#include "remediation/SDKMANRunner.h"

#include <charconv>

#include "platform/UTF8.h"

namespace lumo {

namespace {

// The text without terminal colour codes (ESC [ ... letter).
std::string withoutColour(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) ++i;
            continue;
        }
        plain += text[i];
    }
    return plain;
}

// "21.0.5" -> {21, 0, 5}; nothing unless it is numbers separated by dots.
std::optional<std::vector<long>> versionNumbers(std::string_view version) {
    std::vector<long> numbers;
    std::size_t at = 0;
    while (true) {
        const auto end = std::min(version.find('.', at), version.size());
        long value = 0;
        const auto [stop, error] = std::from_chars(version.data() + at, version.data() + end, value);
        if (error != std::errc() || stop != version.data() + end || end == at) return std::nullopt;
        numbers.push_back(value);
        if (end == version.size()) return numbers;
        at = end + 1;
    }
}

}  // namespace

std::vector<SDKMANJavaVersion> parseSDKMANJavaList(std::string_view output) {
    std::vector<SDKMANJavaVersion> versions;
    const std::string plain = withoutColour(output);
    for (const std::string_view line : splitLines(plain)) {
        std::vector<std::string_view> cells;
        std::size_t at = 0;
        while (true) {
            const auto bar = line.find('|', at);
            cells.push_back(trimmed(line.substr(at, bar == std::string_view::npos ? bar : bar - at), " \t\r"));
            if (bar == std::string_view::npos) break;
            at = bar + 1;
        }
        // Vendor | Use | Version | Dist | Status | Identifier
        if (cells.size() != 6 || cells[5].empty() || cells[5] == "Identifier") continue;
        versions.push_back(
            {std::string(cells[2]), std::string(cells[3]), std::string(cells[4]), std::string(cells[5])});
    }
    return versions;
}

std::optional<SDKMANJavaVersion> newestTemurin(const std::vector<SDKMANJavaVersion>& versions, int major) {
    std::optional<SDKMANJavaVersion> newest;
    std::vector<long> newestNumbers;
    for (const SDKMANJavaVersion& candidate : versions) {
        if (candidate.dist != "tem" || candidate.status == "local only") continue;
        if (candidate.identifier != candidate.version + "-tem") continue;
        const auto numbers = versionNumbers(candidate.version);
        if (!numbers || numbers->front() != major) continue;
        if (!newest || *numbers > newestNumbers) {
            newest = candidate;
            newestNumbers = *numbers;
        }
    }
    return newest;
}

bool sdkmanListIsOffline(std::string_view output) {
    const std::string plain = withoutColour(output);
    return plain.find("Offline: only showing installed") != std::string::npos ||
           plain.find("INTERNET NOT REACHABLE") != std::string::npos;
}

SDKMANRunner::SDKMANRunner(std::string sdkmanRoot, ShellRunner shell, std::shared_ptr<const FileSystemOperating> fs)
    : m_sdkmanRoot(std::move(sdkmanRoot)), m_shell(std::move(shell)), m_fs(std::move(fs)) {}

std::string SDKMANRunner::command(const std::string& arguments) const {
    const std::string initScript = joinPath(joinPath(m_sdkmanRoot, "bin"), "sdkman-init.sh");
    return "source " + shellQuoted(initScript) + " && export sdkman_auto_answer=true PAGER=cat && sdk " + arguments +
           " </dev/null";
}

EventStream<StreamEvent> SDKMANRunner::run(const std::string& arguments) const {
    return m_shell.streamLoginShell(command(arguments));
}

std::string SDKMANRunner::installArguments(const std::string& identifier) {
    return "install java " + shellQuoted(identifier);
}

std::string SDKMANRunner::defaultArguments(const std::string& identifier) {
    return "default java " + shellQuoted(identifier);
}

}  // namespace lumo
