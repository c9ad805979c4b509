#include "simulated/SimulatedServices.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <thread>

#include "platform/CancelToken.h"
#include "platform/UTF8.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveProcessRunner.h"

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

// The lines a canned output streams as: empty lines kept, as the live
// runner's stream keeps them (platform's splitLines() drops them).
std::vector<std::string> streamedLines(const std::string& text) {
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
constexpr std::int32_t kKilledBySIGKILL = 9;

}  // namespace

SimulatedProcessRunner::SimulatedProcessRunner(std::vector<ScenarioCommand> commands,
                                               std::shared_ptr<const MacSandbox> sandbox)
    : m_sandbox(std::move(sandbox)), m_live(std::make_shared<LiveProcessRunner>()) {
    // What a shell prints on a Mac follows from the Mac: a canned answer for
    // one is never used there. Without a Mac, every answer is canned.
    for (auto& command : commands)
        if (!m_sandbox || !isShellProgram(command.argv.front())) m_commands.push_back(std::move(command));
}

std::optional<ScenarioCommand> SimulatedProcessRunner::answer(const std::vector<std::string>& argv) const {
    std::lock_guard lock(m_mutex);
    m_invocations.push_back(argv);
    std::vector<const ScenarioCommand*> answers;
    for (const auto& command : m_commands)
        if (command.argv == argv) answers.push_back(&command);
    if (answers.empty()) return std::nullopt;
    const std::size_t turn = m_used[argv]++;
    return *answers[std::min(turn, answers.size() - 1)];
}

Result<ProcessResult> SimulatedProcessRunner::run(const std::string& executable,
                                                  const std::vector<std::string>& arguments,
                                                  const std::optional<Environment>& environment,
                                                  const RunOptions& options) const {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (const auto command = answer(argv)) {
        const auto delay = std::chrono::milliseconds(command->delayMs);
        if (options.timeLimit && delay > *options.timeLimit) {
            std::this_thread::sleep_for(*options.timeLimit);
            ProcessResult killed{kKilledBySIGKILL, "", ""};
            killed.timedOut = true;
            return killed;
        }
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
        ProcessResult result{command->exitCode, command->stdoutText, command->stderrText};
        if (command->lines && result.stdoutText.empty())
            for (const auto& line : *command->lines) result.stdoutText += line + "\n";
        return result;
    }
    const auto launch =
        m_sandbox ? m_sandbox->launch(executable, environment.value_or(m_sandbox->appEnvironment())) : std::nullopt;
    if (!launch) return posixError(ENOENT);
    std::vector<std::string> hostArguments;
    for (const auto& argument : arguments) hostArguments.push_back(m_sandbox->hostText(argument));
    auto result = m_live->run(launch->program, hostArguments, launch->environment, options);
    if (!result) {
        Error error = result.error();
        error.description = m_sandbox->macText(error.description);
        return error;
    }
    result->stdoutText = m_sandbox->macText(result->stdoutText);
    result->stderrText = m_sandbox->macText(result->stderrText);
    return result;
}

ProcessStream SimulatedProcessRunner::stream(const std::string& executable, const std::vector<std::string>& arguments,
                                             const std::optional<Environment>& environment) const {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    if (const auto command = answer(argv)) return streamAnswer(*command);

    auto [events, sink] = makeEventStream<ProcessStreamEvent>();
    const auto launch =
        m_sandbox ? m_sandbox->launch(executable, environment.value_or(m_sandbox->appEnvironment())) : std::nullopt;
    if (!launch) {
        sink.yield(process_event::FailedToStart{posixError(ENOENT).description});
        sink.finish();
        return {std::move(events), std::make_shared<SimulatedCancellation>()};
    }
    std::vector<std::string> hostArguments;
    for (const auto& argument : arguments) hostArguments.push_back(m_sandbox->hostText(argument));
    auto child = std::make_shared<ProcessStream>(m_live->stream(launch->program, hostArguments, launch->environment));
    auto cancellation = child->cancellation;
    // Abandoning the stream stops the child, as the live runner's does.
    sink.onTermination([cancellation] { cancellation->cancel(); });
    // The child's lines come back with the sandbox taken out; the sandbox
    // lives as long as the child does.
    std::thread([child, sink = sink, sandbox = m_sandbox] {
        while (auto event = child->events.next()) {
            if (const auto* line = std::get_if<process_event::Line>(&*event)) {
                sink.yield(process_event::Line{sandbox->macText(line->text)});
            } else if (const auto* failed = std::get_if<process_event::FailedToStart>(&*event)) {
                sink.yield(process_event::FailedToStart{sandbox->macText(failed->message)});
            } else {
                sink.yield(*event);
            }
        }
        sink.finish();
    }).detach();
    return {std::move(events), cancellation};
}

ProcessStream SimulatedProcessRunner::streamAnswer(const ScenarioCommand& command) const {
    auto channel = makeEventStream<ProcessStreamEvent>();
    EventStream<ProcessStreamEvent> events = std::move(channel.first);
    const EventSink<ProcessStreamEvent> sink = channel.second;
    auto cancellation = std::make_shared<SimulatedCancellation>();
    // Abandoning the stream stops the "child" as SIGTERM would.
    sink.onTermination([cancellation] { cancellation->cancel(); });
    std::vector<std::string> lines = command.lines ? *command.lines : streamedLines(command.stdoutText);
    if (!command.lines) {
        for (auto& line : streamedLines(command.stderrText)) lines.push_back(std::move(line));
    }
    std::thread([sink, token = cancellation->token(), lines = std::move(lines), delay = command.delayMs,
                 lineDelay = command.lineDelayMs, exitCode = command.exitCode] {
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

SimulatedFileSystem::SimulatedFileSystem(std::shared_ptr<const MacSandbox> sandbox)
    : m_sandbox(std::move(sandbox)), m_live(std::make_shared<LiveFileSystem>()) {}

Result<std::string> SimulatedFileSystem::inside(const std::string& macPath) const {
    if (!m_sandbox) return Error{kPosixErrorDomain, ENOENT, macPath + ": the simulated Mac could not be made"};
    const auto host = m_sandbox->hostPath(macPath);
    if (!host) return posixError(ENOENT, macPath);
    if (!m_sandbox->confines(*host)) return posixError(EACCES, macPath);
    return *host;
}

Error SimulatedFileSystem::onTheMac(Error error) const {
    if (m_sandbox) error.description = m_sandbox->macText(error.description);
    return error;
}

Status SimulatedFileSystem::onTheMac(Status status) const {
    if (!status) return onTheMac(status.error());
    return status;
}

std::string SimulatedFileSystem::homeDirectory() const { return m_sandbox ? m_sandbox->home() : "/Users/alex"; }

std::string SimulatedFileSystem::temporaryDirectory() const {
    return m_sandbox ? m_sandbox->temporaryDirectory() : "/private/tmp";
}

bool SimulatedFileSystem::fileExists(const std::string& path) const { return fileExists(path, nullptr); }

bool SimulatedFileSystem::fileExists(const std::string& path, bool* isDirectory) const {
    const auto host = inside(path);
    return host && m_live->fileExists(*host, isDirectory);
}

bool SimulatedFileSystem::isExecutableFile(const std::string& path) const {
    const auto host = inside(path);
    return host && m_live->isExecutableFile(*host);
}

Result<std::vector<std::string>> SimulatedFileSystem::contentsOfDirectory(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto names = m_live->contentsOfDirectory(*host);
    if (!names) return onTheMac(names.error());
    std::sort(names->begin(), names->end());
    return names;
}

Status SimulatedFileSystem::createDirectory(const std::string& path, bool withIntermediateDirectories) const {
    const auto host = inside(path);
    if (!host) return host.error();
    return onTheMac(m_live->createDirectory(*host, withIntermediateDirectories));
}

Status SimulatedFileSystem::removeItem(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    if (m_sandbox && *host == m_sandbox->root()) return posixError(EPERM, path);
    return onTheMac(m_live->removeItem(*host));
}

Status SimulatedFileSystem::moveItem(const std::string& from, const std::string& to) const {
    const auto source = inside(from);
    if (!source) return source.error();
    const auto destination = inside(to);
    if (!destination) return destination.error();
    return onTheMac(m_live->moveItem(*source, *destination));
}

Result<FileAttributes> SimulatedFileSystem::attributesOfItem(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto attributes = m_live->attributesOfItem(*host);
    if (!attributes) return onTheMac(attributes.error());
    return attributes;
}

Status SimulatedFileSystem::setPosixPermissions(std::uint32_t permissions, const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    return onTheMac(m_live->setPosixPermissions(permissions, *host));
}

Result<std::string> SimulatedFileSystem::resolvingSymlinks(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto resolved = m_live->resolvingSymlinks(*host);
    if (!resolved) return onTheMac(resolved.error());
    return m_sandbox->macText(*resolved);
}

Status SimulatedFileSystem::write(const std::string& text, const std::string& path, bool atomically) const {
    const auto host = inside(path);
    if (!host) return host.error();
    return onTheMac(m_live->write(m_sandbox->hostText(text), *host, atomically));
}

Status SimulatedFileSystem::writeData(const Bytes& data, const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    return onTheMac(m_live->writeData(data, *host));
}

Result<Bytes> SimulatedFileSystem::readData(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto data = m_live->readData(*host);
    if (!data) return onTheMac(data.error());
    return m_sandbox->macText(*data);
}

Result<std::string> SimulatedFileSystem::readString(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto text = m_live->readString(*host);
    if (!text) return onTheMac(text.error());
    return m_sandbox->macText(*text);
}

Result<std::unique_ptr<AppendingFile>> SimulatedFileSystem::openForAppending(const std::string& path) const {
    const auto host = inside(path);
    if (!host) return host.error();
    auto opened = m_live->openForAppending(*host);
    if (!opened) return onTheMac(opened.error());
    return opened;
}

Status SimulatedFileSystem::createFile(const std::string& text, const std::string& path,
                                       std::optional<std::uint32_t> permissions) const {
    const auto host = inside(path);
    if (!host) return host.error();
    return onTheMac(m_live->createFile(m_sandbox->hostText(text), *host, permissions));
}

Status SimulatedFileSystem::replaceContents(const std::string& path, const std::optional<std::string>& expected,
                                            const std::string& text, ReplaceMode mode) const {
    const auto host = inside(path);
    if (!host) return host.error();
    // Stored text is the host's form of what the app wrote; compare in that form.
    std::optional<std::string> expectedOnDisk;
    if (expected) expectedOnDisk = m_sandbox->hostText(*expected);
    return onTheMac(m_live->replaceContents(*host, expectedOnDisk, m_sandbox->hostText(text), mode));
}

Result<std::string> SimulatedFileSystem::ensureDirectory(const std::string& path) const {
    if (const auto status = createDirectory(path, true); !status) return status.error();
    return path;
}

Result<std::string> SimulatedFileSystem::cachesDirectory() const {
    return ensureDirectory(homeDirectory() + "/Library/Caches");
}

Result<std::string> SimulatedFileSystem::applicationSupportDirectory() const {
    return ensureDirectory(homeDirectory() + "/Library/Application Support");
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
    for (const auto* answers : {&m_responses, &defaultHTTPAnswers()}) {
        for (const auto& response : *answers) {
            if (response.url != request.url) continue;
            return HTTPDataResult{response.body, HTTPResponse{response.status, response.url, response.headers}};
        }
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
    if (const auto valid = validateScenario(scenario); !valid)
        std::cerr << "simulated Mac: " << valid.error().description << "\n";
    std::shared_ptr<const MacSandbox> sandbox;
    if (auto made = MacSandbox::create(scenario)) {
        sandbox = std::move(*made);
    } else {
        std::cerr << "simulated Mac: could not be made: " << made.error().description << "\n";
    }
    AppServices services;
    auto fs = std::make_shared<SimulatedFileSystem>(sandbox);
    services.processRunner = std::make_shared<SimulatedProcessRunner>(scenario.commands, sandbox);
    services.http = std::make_shared<SimulatedHTTPFetcher>(scenario.http, fs);
    services.fs = fs;
    services.store = std::make_shared<InMemoryKeyValueStore>();
    services.host.environment = scenario.environment;
    services.host.osVersion = scenario.macosVersion;
    services.host.machineArchitecture = scenario.machine;
    services.host.runsTranslated = runsTranslated(scenario);
    services.host.userShell = loginShell(scenario);
    services.isFixtureMode = true;
    return services;
}

}  // namespace lumo
