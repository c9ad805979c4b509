// Scenario-driven fakes of the four services, and the container built from
// them. Everything here is thread-safe: the profiler calls it concurrently.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/KeyValueStoring.h"
#include "platform/ProcessRunning.h"
#include "shell/AppServices.h"
#include "simulated/Scenario.h"

namespace lumo {

// Answers the scenario's commands by exact argv. An unlisted command fails to
// launch the way a missing executable does (POSIX ENOENT).
class SimulatedProcessRunner final : public ProcessRunning {
public:
    explicit SimulatedProcessRunner(std::vector<ScenarioCommand> commands);

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt,
                              const RunOptions& options = {}) const override;
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment = std::nullopt) const override;

    // Every argv run or streamed so far (listed or not), in call order.
    std::vector<std::vector<std::string>> invocations() const;

private:
    std::optional<ScenarioCommand> answer(const std::vector<std::string>& argv) const;

    std::vector<ScenarioCommand> m_commands;
    mutable std::mutex m_mutex;
    mutable std::map<std::vector<std::string>, std::size_t> m_used;  // guarded by m_mutex
    mutable std::vector<std::vector<std::string>> m_invocations;     // guarded by m_mutex
};

// An in-memory file tree. Listed files exist with their parents; writes,
// moves and removals change the tree and are visible afterwards. Symbolic
// links are not modelled: nothing is ever a link.
class SimulatedFileSystem final : public FileSystemOperating {
public:
    SimulatedFileSystem(std::string home, const std::map<std::string, ScenarioFile>& files);

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
    Result<std::string> cachesDirectory() const override;
    Result<std::string> applicationSupportDirectory() const override;

private:
    struct Node {
        bool directory = false;
        Bytes contents;
        std::uint32_t permissions = 0644;
        std::int64_t modified = 0;
    };
    Status writeLocked(const Bytes& data, const std::string& path) const;
    void addParentsLocked(const std::string& path) const;
    Result<std::string> ensureDirectory(const std::string& path) const;

    std::string m_home;
    mutable std::mutex m_mutex;
    mutable std::map<std::string, Node> m_nodes;  // by normalised absolute path; guarded by m_mutex
    mutable std::int64_t m_clock = 0;             // guarded by m_mutex
};

// Answers the scenario's `http` entries by URL; anything else cannot connect.
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

// The services of the scenario's Mac: isFixtureMode is true, the host's
// environment is the scenario's and its OS version is macosVersion.
AppServices makeSimulatedServices(const Scenario& scenario);

}  // namespace lumo
