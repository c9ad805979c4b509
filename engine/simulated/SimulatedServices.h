// The services of a simulated Mac, and the container built from them: a
// sandbox on this machine's disk made from a scenario (MacSandbox; the whole
// scheme is in scenarios/README.md), reached through a file system rooted
// there and a process runner that runs this machine's shells and the Mac's
// stand-in programs inside it. Everything here is thread-safe: the profiler
// calls it concurrently.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppServices.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/KeyValueStoring.h"
#include "platform/ProcessRunning.h"
#include "simulated/MacSandbox.h"
#include "simulated/Scenario.h"

namespace lumo {

// Runs programs on the simulated Mac. A command the scenario pins (by exact
// argv; never a shell) gets its canned answer. Anything else runs for real
// inside the sandbox (see MacSandbox): the executable at R + its Mac path,
// the arguments and environment with their Mac paths moved into R (the app's
// own environment when none is given), with the caller's time limit; its
// output comes back with R taken out. So /bin/zsh is this machine's zsh
// reading the scenario's start-up files, and /usr/libexec/java_home,
// /usr/bin/java, brew and the rest are the simulated Mac's stand-ins. Without
// a sandbox it is a plain test double: every pinned command answers (shells
// too), and anything else fails to launch as a missing executable does
// (POSIX ENOENT).
class SimulatedProcessRunner final : public ProcessRunning {
public:
    explicit SimulatedProcessRunner(std::vector<ScenarioCommand> commands,
                                    std::shared_ptr<const MacSandbox> sandbox = nullptr);

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt,
                              const RunOptions& options = {}) const override;
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment = std::nullopt) const override;

    // Every argv run or streamed so far (pinned or not), in call order.
    std::vector<std::vector<std::string>> invocations() const;

private:
    std::optional<ScenarioCommand> answer(const std::vector<std::string>& argv) const;
    ProcessStream streamAnswer(const ScenarioCommand& command) const;

    std::vector<ScenarioCommand> m_commands;
    std::shared_ptr<const MacSandbox> m_sandbox;
    std::shared_ptr<const ProcessRunning> m_live;
    mutable std::mutex m_mutex;
    mutable std::map<std::vector<std::string>, std::size_t> m_used;  // guarded by m_mutex
    mutable std::vector<std::vector<std::string>> m_invocations;     // guarded by m_mutex
};

// The simulated Mac's disk: this machine's file system inside the sandbox.
// Paths are Mac paths; each maps to R + itself (see MacSandbox), and one whose
// links lead out of R is refused (EACCES). Text goes in through hostText() and
// comes out through macText(), so a start-up file the app writes runs in the
// sandbox's shells and reads back as written; bytes are stored as they are.
// Symbolic links are real links. Directory listings are in name order, as
// HFS+ gave them (APFS promises no order). Without a sandbox every operation
// fails.
class SimulatedFileSystem final : public FileSystemOperating {
public:
    explicit SimulatedFileSystem(std::shared_ptr<const MacSandbox> sandbox);

    std::string homeDirectory() const override;
    std::string temporaryDirectory() const override;
    bool fileExists(const std::string& path) const override;
    bool fileExists(const std::string& path, bool* isDirectory) const override;
    bool isExecutableFile(const std::string& path) const override;
    Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const override;
    Status createDirectory(const std::string& path, bool withIntermediateDirectories) const override;
    Status removeItem(const std::string& path) const override;
    Status moveItem(const std::string& from, const std::string& to) const override;
    Result<FileAttributes> attributesOfItem(const std::string& path) const override;
    Status setPosixPermissions(std::uint32_t permissions, const std::string& path) const override;
    Result<std::string> resolvingSymlinks(const std::string& path) const override;
    Status write(const std::string& text, const std::string& path, bool atomically) const override;
    Result<std::string> readString(const std::string& path) const override;
    Result<Bytes> readData(const std::string& path) const override;
    Status writeData(const Bytes& data, const std::string& path) const override;
    Result<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) const override;
    Status createFile(const std::string& text, const std::string& path,
                      std::optional<std::uint32_t> permissions = std::nullopt) const override;
    Status replaceContents(const std::string& path, const std::optional<std::string>& expected, const std::string& text,
                           ReplaceMode mode) const override;
    Result<std::string> cachesDirectory() const override;
    Result<std::string> applicationSupportDirectory() const override;

    const std::shared_ptr<const MacSandbox>& sandbox() const { return m_sandbox; }

private:
    Result<std::string> inside(const std::string& macPath) const;
    Error onTheMac(Error error) const;
    Status onTheMac(Status status) const;
    Result<std::string> ensureDirectory(const std::string& macPath) const;

    std::shared_ptr<const MacSandbox> m_sandbox;
    std::shared_ptr<const FileSystemOperating> m_live;
};

// Answers the scenario's `http` entries by URL, then the simulated Mac's
// defaults (defaultHTTPAnswers: Adoptium's answers and packages, Homebrew's
// install script); anything else cannot connect. Downloads land in the
// simulated Mac's temporary directory.
class SimulatedHTTPFetcher final : public HTTPFetching {
public:
    SimulatedHTTPFetcher(std::vector<ScenarioHTTPResponse> responses, std::shared_ptr<const FileSystemOperating> fs);
    Result<HTTPDataResult> data(const HTTPRequest& request, const CancelToken& cancel = {}) const override;
    Result<HTTPDownloadResult> download(const std::string& url, const DownloadOptions& options = {}) const override;

    // Every URL requested so far, in order.
    std::vector<std::string> requestedURLs() const;

private:
    std::vector<ScenarioHTTPResponse> m_responses;
    std::shared_ptr<const FileSystemOperating> m_fs;
    mutable std::mutex m_mutex;
    mutable std::vector<std::string> m_requested;  // guarded by m_mutex
    mutable int m_downloads = 0;                   // guarded by m_mutex
};

class InMemoryKeyValueStore final : public KeyValueStoring {
public:
    std::optional<PreferenceValue> value(const std::string& key) const override;
    void set(const std::optional<PreferenceValue>& value, const std::string& key) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::string, PreferenceValue> m_values;  // guarded by m_mutex
};

// The services of the scenario's Mac, sharing one sandbox that is removed
// when the last of them is gone: isFixtureMode is true, and the host is the
// scenario's (environment, macosVersion, machine, translated, userShell). A
// sandbox that cannot be made is reported on stderr and leaves services whose
// every file and program fails.
AppServices makeSimulatedServices(const Scenario& scenario);

}  // namespace lumo
