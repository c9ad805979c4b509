// Test doubles for the shell-file writer, verifier and runner tests: the live
// services pointed at a temporary home directory.
#pragma once

#include <cerrno>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessRunning.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/ForwardingFileSystem.h"

namespace lumo::test {

// The real file system with another home directory, and writes to chosen
// paths failing with EACCES (a directory root could still write to).
class HomeFileSystem final : public ForwardingFileSystem {
public:
    explicit HomeFileSystem(std::string home) : m_home(std::move(home)) {}

    std::set<std::string> failingWrites;

    std::string homeDirectory() const override { return m_home; }
    Status write(const std::string& text, const std::string& path, bool atomically) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.write(text, path, atomically);
    }
    Status writeData(const Bytes& data, const std::string& path) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.writeData(data, path);
    }

private:
    std::string m_home;
};

// Real child processes whose inherited environment has HOME set to a
// temporary directory, so a login zsh reads that directory's start-up files.
// Records the argument vectors it was asked to run.
class HomeProcessRunner final : public ProcessRunning {
public:
    explicit HomeProcessRunner(std::string home);

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt,
                              const RunOptions& options = {}) const override;
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment = std::nullopt) const override;

    std::vector<std::vector<std::string>> commands() const;

private:
    Environment withHome(const std::optional<Environment>& environment) const;
    void record(const std::string& executable, const std::vector<std::string>& arguments) const;

    std::string m_home;
    LiveProcessRunner m_live;
    mutable std::mutex m_mutex;
    mutable std::vector<std::vector<std::string>> m_commands;
};

}  // namespace lumo::test
