#include "profiling/Probes.h"

#include <charconv>
#include <future>
#include <iostream>
#include <mutex>
#include <set>

#include "platform/AppServices.h"
#include "platform/NativeArchitectureRunner.h"
#include "platform/PropertyList.h"
#include "platform/ShellRunner.h"
#include "platform/UTF8.h"
#include "profiling/JDKDiscovery.h"
#include "profiling/ToolLookup.h"

namespace lumo {

namespace {

// Whitespace as the line pattern's \s sees it.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The length of the newline character at `at`: LF, CR, VT, FF, and NEL, LINE
// and PARAGRAPH SEPARATOR in UTF-8 (CR LF is two, with an empty line between
// that is dropped); 0 for any other character.
// A cursor over one line that matches the java_home line pattern
//   ^\s+(\S+)\s+\(([^)]+)\)\s+"([^"]*)"\s+-\s+"[^"]*"\s+(/.+)$
// step by step. Every piece of the pattern is deterministic (each run stops
// at a character its successor needs), so one forward pass decides the match
// without backtracking, in linear time whatever the line's length.
class LineCursor {
public:
    explicit LineCursor(std::string_view line) : m_line(line) {}

    bool spaces() {  // \s+
        const auto start = m_at;
        while (m_at < m_line.size() && isSpace(m_line[m_at])) ++m_at;
        return m_at > start;
    }
    bool literal(char c) {
        if (m_at >= m_line.size() || m_line[m_at] != c) return false;
        ++m_at;
        return true;
    }
    std::optional<std::string_view> nonSpaces() {  // \S+
        const auto start = m_at;
        while (m_at < m_line.size() && !isSpace(m_line[m_at])) ++m_at;
        if (m_at == start) return std::nullopt;
        return m_line.substr(start, m_at - start);
    }
    // A run of characters other than `stop`, at least `minimum` long.
    std::optional<std::string_view> runUntil(char stop, std::size_t minimum) {
        const auto start = m_at;
        while (m_at < m_line.size() && m_line[m_at] != stop) ++m_at;
        if (m_at - start < minimum) return std::nullopt;
        return m_line.substr(start, m_at - start);
    }
    // (/.+)$ : a slash and at least one more character, to the end of the
    // line (lines hold no newline characters, which '.' would not match).
    std::optional<std::string_view> absolutePathToEnd() {
        if (m_at + 1 >= m_line.size() || m_line[m_at] != '/') return std::nullopt;
        const auto path = m_line.substr(m_at);
        m_at = m_line.size();
        return path;
    }

private:
    std::string_view m_line;
    std::size_t m_at = 0;
};

std::optional<JDKInfo> parseJavaHomeLine(std::string_view line) {
    LineCursor cursor(line);
    if (!cursor.spaces()) return std::nullopt;
    const auto version = cursor.nonSpaces();
    if (!version) return std::nullopt;
    if (!cursor.spaces() || !cursor.literal('(')) return std::nullopt;
    const auto architecture = cursor.runUntil(')', 1);
    if (!architecture || !cursor.literal(')')) return std::nullopt;
    if (!cursor.spaces() || !cursor.literal('"')) return std::nullopt;
    const auto vendor = cursor.runUntil('"', 0);
    if (!vendor || !cursor.literal('"')) return std::nullopt;
    if (!cursor.spaces() || !cursor.literal('-') || !cursor.spaces() || !cursor.literal('"')) return std::nullopt;
    if (!cursor.runUntil('"', 0) || !cursor.literal('"')) return std::nullopt;
    if (!cursor.spaces()) return std::nullopt;
    const auto path = cursor.absolutePathToEnd();
    if (!path) return std::nullopt;
    JDKInfo jdk;
    jdk.version = std::string(*version);
    jdk.vendor = std::string(*vendor);
    jdk.architecture = std::string(*architecture);
    jdk.path = std::string(trimmed(*path, " \t"));
    return jdk;
}

std::optional<int> parseDecimal(std::string_view digits) {
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

}  // namespace

void printDiagnosticLine(const std::string& line) {
    static std::mutex outputLock;
    std::lock_guard lock(outputLock);
    std::cout << line << std::endl;
}

std::string launchFailure(const std::string& executable, const Error& error) {
    return "Could not launch " + executable + ": " + error.description;
}

std::vector<JDKInfo> parseJavaHomeList(std::string_view text) {
    std::vector<JDKInfo> jdks;
    for (const std::string_view line : splitLines(text))
        if (auto jdk = parseJavaHomeLine(line)) jdks.push_back(std::move(*jdk));
    return jdks;
}

// version\s+"(\d+)(?:\.(\d+))?  -- the first place in the text where it matches.
std::optional<int> majorVersion(std::string_view from) {
    constexpr std::string_view word = "version";
    for (auto at = from.find(word); at != std::string_view::npos; at = from.find(word, at + 1)) {
        std::size_t cursor = at + word.size();
        const auto spacesStart = cursor;
        while (cursor < from.size() && isSpace(from[cursor])) ++cursor;
        if (cursor == spacesStart || cursor >= from.size() || from[cursor] != '"') continue;
        ++cursor;
        const auto majorStart = cursor;
        while (cursor < from.size() && isDigit(from[cursor])) ++cursor;
        if (cursor == majorStart) continue;
        const auto first = parseDecimal(from.substr(majorStart, cursor - majorStart));
        if (!first) return std::nullopt;  // the first match decides, even when its number overflows
        if (*first == 1 && cursor + 1 < from.size() && from[cursor] == '.' && isDigit(from[cursor + 1])) {
            const auto minorStart = cursor + 1;
            auto minorEnd = minorStart;
            while (minorEnd < from.size() && isDigit(from[minorEnd])) ++minorEnd;
            if (const auto second = parseDecimal(from.substr(minorStart, minorEnd - minorStart))) return second;
        }
        return first;
    }
    return std::nullopt;
}

std::string wrappedVersion(std::string_view version) { return "version \"" + std::string(version) + "\""; }

std::map<std::string, std::string> parseReleaseFile(std::string_view text) {
    std::map<std::string, std::string> entries;
    for (const std::string_view line : splitLines(text)) {
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const auto key = trimmed(line.substr(0, equals), " \t");
        auto value = trimmed(line.substr(equals + 1), " \t");
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        entries[std::string(key)] = std::string(value);
    }
    return entries;
}

std::optional<JDKInfo> readJDKFiles(const FileSystemOperating& fs, const std::string& home) {
    if (const auto release = fs.readString(joinPath(home, "release"))) {
        const auto entries = parseReleaseFile(*release);
        const auto version = entries.find("JAVA_VERSION");
        if (version != entries.end() && majorVersion(wrappedVersion(version->second))) {
            const auto implementor = entries.find("IMPLEMENTOR");
            JDKInfo jdk;
            jdk.version = version->second;
            jdk.vendor = implementor == entries.end() ? std::string() : implementor->second;
            jdk.path = home;
            return jdk;
        }
    }

    constexpr std::string_view bundleHome = "/Contents/Home";
    if (!std::string_view(home).ends_with(bundleHome)) return std::nullopt;
    const auto plist = fs.readData(parentDirectory(home) + "/Info.plist");
    if (!plist) return std::nullopt;
    const auto javaVM = decodePropertyListStrings(*plist, "JavaVM");
    if (!javaVM) return std::nullopt;
    const auto version = javaVM->find("JVMVersion");
    if (version == javaVM->end() || !majorVersion(wrappedVersion(version->second))) return std::nullopt;
    JDKInfo jdk;
    jdk.version = version->second;
    jdk.path = home;
    return jdk;
}

std::optional<JDKInfo> JdkReleaseFileReader::read(const std::string& bundle) const {
    return readJDKFiles(*m_fs, std::string(kSystemJDKDirectory) + "/" + bundle + "/Contents/Home");
}

std::vector<JDKInfo> supplementaryJDKs(const std::vector<std::string>& entries, const std::vector<JDKInfo>& known,
                                       const JdkReleaseFileReader& reader) {
    const std::string prefix = std::string(kSystemJDKDirectory) + "/";
    std::set<std::string> listedBundles;
    for (const auto& jdk : known) {
        if (jdk.path.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string_view rest = std::string_view(jdk.path).substr(prefix.size());
        const auto start = rest.find_first_not_of('/');
        if (start == std::string_view::npos) continue;
        const auto end = rest.find('/', start);
        listedBundles.insert(std::string(rest.substr(start, end == std::string_view::npos ? end : end - start)));
    }
    std::vector<JDKInfo> found;
    for (const auto& entry : entries) {
        if (listedBundles.count(entry)) continue;
        if (auto jdk = reader.read(entry)) found.push_back(std::move(*jdk));
    }
    return found;
}

std::optional<std::string> whichCommand(const ProcessRunning& process, const std::string& name,
                                        const DiagnosticLog& log) {
    const auto result = process.run("/usr/bin/which", {name});
    if (!result) {
        log(launchFailure("/usr/bin/which", result.error()));
        return std::nullopt;
    }
    if (result->exitCode != 0) return std::nullopt;
    const auto path = trimmed(result->stdoutText, " \t\r\n");
    if (path.empty()) return std::nullopt;
    return std::string(path);
}

Probes::Probes(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
               HostInfo host, DiagnosticLog log)
    : m_process(startingNatively(std::move(process), host)),
      m_fs(std::move(fs)),
      m_host(std::move(host)),
      m_shell(LoginShell::forHost(m_host)),
      m_log(log ? std::move(log) : DiagnosticLog([](auto&) {})) {}

Probes::Probes(const AppServices& services, DiagnosticLog log)
    : Probes(services.processRunner, services.fs, services.host, std::move(log)) {}

ProbeBundle Probes::collect() const {
    const ShellViewProbe shell(m_process, m_fs, m_shell, m_log);
    auto whichJava = std::async(std::launch::async, [this] { return whichCommand(*m_process, "java", m_log); });
    auto terminal = std::async(std::launch::async, [&shell] { return shell.look(LoginShell::View::terminal); });
    auto login = std::async(std::launch::async, [&shell] { return shell.look(LoginShell::View::login); });

    // java_home runs on this thread while the others are under way.
    ProbeBundle bundle;
    if (const auto result = m_process->run("/usr/libexec/java_home", {"-V"})) {
        bundle.installedJDKs = parseJavaHomeList(result->stderrText);
    } else {
        m_log(launchFailure("/usr/libexec/java_home", result.error()));
        bundle.installedJDKs = parseJavaHomeList({});
    }
    bundle.jvmDirContents = m_fs->contentsOfDirectory(kSystemJDKDirectory).valueOr(std::vector<std::string>());
    auto extra = supplementaryJDKs(bundle.jvmDirContents, bundle.installedJDKs, JdkReleaseFileReader(m_fs));
    bundle.installedJDKs.insert(bundle.installedJDKs.end(), std::make_move_iterator(extra.begin()),
                                std::make_move_iterator(extra.end()));
    bundle.whichJava = whichJava.get();
    bundle.terminalView = terminal.get();
    bundle.loginView = login.get();
    bundle.javaHomeInActiveShell = bundle.terminalView.javaHome;
    bundle.javaHomeInLoginShell = bundle.loginView.javaHome;
    bundle.shellStartup = shell.startup(bundle.terminalView.startupDirectory);

    // The JDKs macOS does not list, found through the places version managers
    // and Homebrew use and through what the Terminal sees; each with its real
    // path, by which the diagnosis matches the Terminal's JAVA_HOME.
    const std::string home = m_fs->homeDirectory();
    const auto brew = findTool(*m_fs, kBrew, home, bundle.terminalView.path);
    const auto places = jdkSearchPlaces(home, m_host.environment, &bundle.terminalView, brew);
    bundle.installedJDKs = discoverJDKs(*m_fs, std::move(bundle.installedJDKs), places);
    return bundle;
}

}  // namespace lumo

std::size_t std::hash<lumo::JDKInfo>::operator()(const lumo::JDKInfo& jdk) const noexcept {
    std::size_t seed = 0;
    for (const auto* field : {&jdk.version, &jdk.vendor, &jdk.architecture, &jdk.path, &jdk.source, &jdk.resolvedPath})
        seed ^= std::hash<std::string>()(*field) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}
