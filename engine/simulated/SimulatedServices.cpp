#include "simulated/SimulatedServices.h"

#include <cerrno>
#include <thread>

#include "platform/CancelToken.h"
#include "platform/UTF8.h"

namespace lumo {

// ---------------------------------------------------------------- processes

namespace {

class SimulatedCancellation final : public ProcessCancellation {
public:
    void cancel() override { m_source.cancel(); }
    CancelToken token() const { return m_source.token(); }

private:
    CancelSource m_source;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

constexpr std::int32_t kTerminatedBySIGTERM = 15;

}  // namespace

SimulatedProcessRunner::SimulatedProcessRunner(std::vector<ScenarioCommand> commands)
    : m_commands(std::move(commands)) {}

namespace {

// Interim, until the simulated Mac runs the host's real shells: a login
// shell's script is answered by the scenario's entry for the one-line
// `/bin/zsh -lc` command it stands for, with that run's nonce put into the
// answer's marker lines.
struct LegacyShellCommand {
    std::vector<std::string> argv;
    std::string marker;  // the JAVA_HOME marker whose lines get the nonce
    std::string nonce;
};

std::optional<LegacyShellCommand> legacyShellCommand(const std::vector<std::string>& argv) {
    if (argv.size() != 3 || (argv[1] != "-ilc" && argv[1] != "-lc")) return std::nullopt;
    const std::string& script = argv[2];
    for (const char* marker : {"__FXW_VERIFY_JAVA_HOME__:", "__FXW_JAVA_HOME__:"}) {
        const auto at = script.find(marker);
        if (at == std::string::npos) continue;
        const auto start = at + std::string_view(marker).size();
        const auto end = script.find(':', start);
        if (end == std::string::npos) return std::nullopt;
        return LegacyShellCommand{{"/bin/zsh", "-lc", std::string("echo ") + marker + "$JAVA_HOME"},
                                  marker,
                                  script.substr(start, end - start)};
    }
    if (script.find("java -version 2>&1") != std::string::npos)
        return LegacyShellCommand{{"/bin/zsh", "-lc", "java -version 2>&1"}, {}, {}};
    return LegacyShellCommand{{"/bin/zsh", "-lc", script}, {}, {}};
}

std::string withNonce(std::string text, const std::string& marker, const std::string& nonce) {
    if (marker.empty()) return text;
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at + marker.size())) {
        text.insert(at + marker.size(), nonce + ":");
        at += nonce.size() + 1;
    }
    return text;
}

}  // namespace

std::optional<ScenarioCommand> SimulatedProcessRunner::answer(const std::vector<std::string>& argv) const {
    std::lock_guard lock(m_mutex);
    m_invocations.push_back(argv);
    const auto answerFor = [this](const std::vector<std::string>& listed) -> std::optional<ScenarioCommand> {
        std::vector<const ScenarioCommand*> answers;
        for (const auto& command : m_commands)
            if (command.argv == listed) answers.push_back(&command);
        if (answers.empty()) return std::nullopt;
        const std::size_t turn = m_used[listed]++;
        return *answers[std::min(turn, answers.size() - 1)];
    };
    if (auto exact = answerFor(argv)) return exact;
    const auto legacy = legacyShellCommand(argv);
    if (!legacy) return std::nullopt;
    auto command = answerFor(legacy->argv);
    if (command) command->stdoutText = withNonce(command->stdoutText, legacy->marker, legacy->nonce);
    return command;
}

Result<ProcessResult> SimulatedProcessRunner::run(const std::string& executable,
                                                  const std::vector<std::string>& arguments,
                                                  const std::optional<Environment>&, const RunOptions&) const {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto command = answer(argv);
    if (!command) return posixError(ENOENT);
    if (command->delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(command->delayMs));
    ProcessResult result{command->exitCode, command->stdoutText, command->stderrText};
    if (command->lines && result.stdoutText.empty())
        for (const auto& line : *command->lines) result.stdoutText += line + "\n";
    return result;
}

ProcessStream SimulatedProcessRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                             const std::optional<Environment>&) const {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto channel = makeEventStream<ProcessStreamEvent>();
    EventStream<ProcessStreamEvent> events = std::move(channel.first);
    const EventSink<ProcessStreamEvent> sink = channel.second;
    auto cancellation = std::make_shared<SimulatedCancellation>();
    const auto command = answer(argv);
    if (!command) {
        sink.yield(process_event::FailedToStart{posixError(ENOENT).description});
        sink.finish();
        return {std::move(events), cancellation};
    }
    // Abandoning the stream stops the "child" as SIGTERM would.
    sink.onTermination([cancellation] { cancellation->cancel(); });
    std::vector<std::string> lines = command->lines ? *command->lines : splitLines(command->stdoutText);
    if (!command->lines) {
        for (auto& line : splitLines(command->stderrText)) lines.push_back(std::move(line));
    }
    std::thread([sink, token = cancellation->token(), lines = std::move(lines), delay = command->delayMs,
                 lineDelay = command->lineDelayMs, exitCode = command->exitCode] {
        if (delay > 0 && token.sleepFor(std::chrono::milliseconds(delay))) {
            sink.yield(process_event::Exited{kTerminatedBySIGTERM});
            sink.finish();
            return;
        }
        for (const auto& line : lines) {
            if (token.isCancelled() || (lineDelay > 0 && token.sleepFor(std::chrono::milliseconds(lineDelay)))) {
                sink.yield(process_event::Exited{kTerminatedBySIGTERM});
                sink.finish();
                return;
            }
            sink.yield(process_event::Line{line});
        }
        sink.yield(process_event::Exited{token.isCancelled() ? kTerminatedBySIGTERM : exitCode});
        sink.finish();
    }).detach();
    return {std::move(events), cancellation};
}

std::vector<std::vector<std::string>> SimulatedProcessRunner::invocations() const {
    std::lock_guard lock(m_mutex);
    return m_invocations;
}

// -------------------------------------------------------------- file system

namespace {

// "/a//b/./c/../d/" -> "/a/b/d"; nothing for a relative path.
std::optional<std::string> normalised(const std::string& path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

bool isInside(const std::string& path, const std::string& directory) {
    if (directory == "/") return path != "/";
    return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
           path[directory.size()] == '/';
}

constexpr std::int64_t kEpochOfTheScenario = 1'767'225'600'000'000'000;  // 2026-01-01, nanoseconds

}  // namespace

SimulatedFileSystem::SimulatedFileSystem(std::string home, const std::map<std::string, ScenarioFile>& files)
    : m_home(normalised(home).value_or("/Users/user")) {
    std::lock_guard lock(m_mutex);
    m_nodes["/"] = Node{true, {}, 0755, kEpochOfTheScenario};
    // Every Mac has a home and a temporary directory.
    for (const auto& directory : {m_home, temporaryDirectory()}) {
        addParentsLocked(directory);
        m_nodes[directory] = Node{true, {}, 0755, kEpochOfTheScenario};
    }
    for (const auto& [path, file] : files) {
        const auto where = normalised(path);
        if (!where) continue;
        addParentsLocked(*where);
        Node node;
        node.directory = file.directory;
        node.contents = file.contents;
        node.permissions = file.directory || file.executable ? 0755 : 0644;
        node.modified = kEpochOfTheScenario;
        m_nodes[*where] = std::move(node);
    }
}

void SimulatedFileSystem::addParentsLocked(const std::string& path) const {
    for (std::string parent = parentDirectory(path); parent != "/" && parent != "."; parent = parentDirectory(parent)) {
        auto& node = m_nodes[parent];
        node.directory = true;
        node.contents.clear();
        node.permissions = 0755;
        node.modified = kEpochOfTheScenario;
    }
}

std::string SimulatedFileSystem::homeDirectory() const { return m_home; }

std::string SimulatedFileSystem::temporaryDirectory() const { return "/private/tmp"; }

bool SimulatedFileSystem::fileExists(const std::string& path) const { return fileExists(path, nullptr); }

bool SimulatedFileSystem::fileExists(const std::string& path, bool* isDirectory) const {
    const auto where = normalised(path);
    if (!where) return false;
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return false;
    if (isDirectory) *isDirectory = found->second.directory;
    return true;
}

bool SimulatedFileSystem::isExecutableFile(const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return false;
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    return found != m_nodes.end() && !found->second.directory && (found->second.permissions & 0111) != 0;
}

Result<std::vector<std::string>> SimulatedFileSystem::contentsOfDirectory(const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return posixError(ENOENT, path);
    if (!found->second.directory) return posixError(ENOTDIR, path);
    std::vector<std::string> names;
    for (auto child = std::next(found); child != m_nodes.end() && isInside(child->first, *where); ++child) {
        const std::string rest = child->first.substr(*where == "/" ? 1 : where->size() + 1);
        if (rest.find('/') == std::string::npos) names.push_back(rest);
    }
    return names;
}

Status SimulatedFileSystem::createDirectory(const std::string& path, bool withIntermediateDirectories) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found != m_nodes.end()) {
        if (found->second.directory && withIntermediateDirectories) return Status::success();
        return posixError(EEXIST, path);
    }
    const auto parent = m_nodes.find(parentDirectory(*where));
    if (parent == m_nodes.end() || !parent->second.directory) {
        if (!withIntermediateDirectories) return posixError(ENOENT, path);
        for (std::string ancestor = parentDirectory(*where); ancestor != "/"; ancestor = parentDirectory(ancestor)) {
            const auto existing = m_nodes.find(ancestor);
            if (existing != m_nodes.end() && !existing->second.directory) return posixError(ENOTDIR, path);
        }
        addParentsLocked(*where);
    }
    m_nodes[*where] = Node{true, {}, 0755, kEpochOfTheScenario + ++m_clock};
    return Status::success();
}

Status SimulatedFileSystem::removeItem(const std::string& path) const {
    const auto where = normalised(path);
    if (!where || *where == "/") return posixError(EPERM, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return posixError(ENOENT, path);
    auto end = std::next(found);
    while (end != m_nodes.end() && isInside(end->first, *where)) ++end;
    m_nodes.erase(found, end);
    return Status::success();
}

Status SimulatedFileSystem::moveItem(const std::string& from, const std::string& to) const {
    const auto source = normalised(from);
    const auto destination = normalised(to);
    if (!source || !destination || *source == "/") return posixError(ENOENT, from);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*source);
    if (found == m_nodes.end()) return posixError(ENOENT, from);
    if (m_nodes.count(*destination)) return posixError(EEXIST, to);
    if (isInside(*destination, *source)) return posixError(EINVAL, to);
    const auto parent = m_nodes.find(parentDirectory(*destination));
    if (parent == m_nodes.end() || !parent->second.directory) return posixError(ENOENT, to);
    std::map<std::string, Node> moved;
    auto end = found;
    for (; end != m_nodes.end() && (end->first == *source || isInside(end->first, *source)); ++end)
        moved[*destination + end->first.substr(source->size())] = end->second;
    m_nodes.erase(found, end);
    m_nodes.merge(moved);
    return Status::success();
}

Result<FileAttributes> SimulatedFileSystem::attributesOfItem(const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return posixError(ENOENT, path);
    FileAttributes attributes;
    attributes.posixPermissions = found->second.permissions;
    attributes.size = found->second.directory ? 64 : found->second.contents.size();
    attributes.modificationTimeNanoseconds = found->second.modified;
    attributes.isDirectory = found->second.directory;
    return attributes;
}

Status SimulatedFileSystem::setPosixPermissions(std::uint32_t permissions, const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return posixError(ENOENT, path);
    found->second.permissions = permissions & 07777;
    return Status::success();
}

Result<std::string> SimulatedFileSystem::resolvingSymlinks(const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    return *where;
}

Status SimulatedFileSystem::writeLocked(const Bytes& data, const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    const auto parent = m_nodes.find(parentDirectory(*where));
    if (parent == m_nodes.end() || !parent->second.directory) return posixError(ENOENT, path);
    auto& node = m_nodes[*where];
    if (node.directory) return posixError(EISDIR, path);
    node.contents = data;
    node.modified = kEpochOfTheScenario + ++m_clock;
    return Status::success();
}

Status SimulatedFileSystem::write(const std::string& text, const std::string& path, bool) const {
    std::lock_guard lock(m_mutex);
    return writeLocked(text, path);
}

Status SimulatedFileSystem::writeData(const Bytes& data, const std::string& path) const {
    std::lock_guard lock(m_mutex);
    return writeLocked(data, path);
}

Result<Bytes> SimulatedFileSystem::readData(const std::string& path) const {
    const auto where = normalised(path);
    if (!where) return posixError(ENOENT, path);
    std::lock_guard lock(m_mutex);
    const auto found = m_nodes.find(*where);
    if (found == m_nodes.end()) return posixError(ENOENT, path);
    if (found->second.directory) return posixError(EISDIR, path);
    return found->second.contents;
}

Result<std::string> SimulatedFileSystem::readString(const std::string& path) const {
    auto data = readData(path);
    if (!data) return data.error();
    if (!isValidUTF8(*data))
        return Error{kCocoaErrorDomain, 261,
                     "The file \"" + lastPathComponent(path) + "\" couldn't be opened using text encoding UTF-8."};
    return data;
}

Result<std::string> SimulatedFileSystem::ensureDirectory(const std::string& path) const {
    if (const auto status = createDirectory(path, true); !status) return status.error();
    return path;
}

Result<std::string> SimulatedFileSystem::cachesDirectory() const { return ensureDirectory(m_home + "/Library/Caches"); }

Result<std::string> SimulatedFileSystem::applicationSupportDirectory() const {
    return ensureDirectory(m_home + "/Library/Application Support");
}

// ---------------------------------------------------------------------- HTTP

SimulatedHTTPFetcher::SimulatedHTTPFetcher(std::vector<ScenarioHTTPResponse> responses,
                                           std::shared_ptr<const FileSystemOperating> fs)
    : m_responses(std::move(responses)), m_fs(std::move(fs)) {}

Result<HTTPDataResult> SimulatedHTTPFetcher::data(const HTTPRequest& request, const CancelToken& cancel) const {
    {
        std::lock_guard lock(m_mutex);
        m_requested.push_back(request.url);
    }
    if (cancel.isCancelled()) return Error{kURLErrorDomain, url_error::kCancelled, "cancelled"};
    for (const auto& response : m_responses) {
        if (response.url != request.url) continue;
        return HTTPDataResult{response.body, HTTPResponse{response.status, response.url, response.headers}};
    }
    return Error{kURLErrorDomain, url_error::kCannotConnectToHost, "Could not connect to the server."};
}

Result<HTTPDownloadResult> SimulatedHTTPFetcher::download(const std::string& url,
                                                          const DownloadOptions& options) const {
    HTTPRequest request;
    request.url = url;
    auto fetched = data(request, options.cancel);
    if (!fetched) return fetched.error();
    int number = 0;
    {
        std::lock_guard lock(m_mutex);
        number = ++m_downloads;
    }
    const std::string location = m_fs->temporaryDirectory() + "/download-" + std::to_string(number) + ".tmp";
    if (const auto written = m_fs->writeData(fetched->body, location); !written)
        return Error{kURLErrorDomain, url_error::kCannotCreateFile, written.error().description};
    if (options.progress) options.progress(fetched->body.size(), fetched->body.size());
    SHA256 hash;
    hash.update(fetched->body);
    return HTTPDownloadResult{location, fetched->response, hash.hexDigest()};
}

std::vector<std::string> SimulatedHTTPFetcher::requestedURLs() const {
    std::lock_guard lock(m_mutex);
    return m_requested;
}

// --------------------------------------------------------------- preferences

std::optional<PreferenceValue> InMemoryKeyValueStore::value(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_values.find(key);
    if (found == m_values.end()) return std::nullopt;
    return found->second;
}

void InMemoryKeyValueStore::set(const std::optional<PreferenceValue>& value, const std::string& key) {
    std::lock_guard lock(m_mutex);
    if (value)
        m_values[key] = *value;
    else
        m_values.erase(key);
}

// ------------------------------------------------------------------ services

AppServices makeSimulatedServices(const Scenario& scenario) {
    AppServices services;
    auto fs = std::make_shared<SimulatedFileSystem>(scenario.home, scenario.files);
    services.processRunner = std::make_shared<SimulatedProcessRunner>(scenario.commands);
    services.http = std::make_shared<SimulatedHTTPFetcher>(scenario.http, fs);
    services.fs = fs;
    services.store = std::make_shared<InMemoryKeyValueStore>();
    services.host.environment = scenario.environment;
    services.host.osVersion = scenario.macosVersion;
    services.isFixtureMode = true;
    return services;
}

}  // namespace lumo
