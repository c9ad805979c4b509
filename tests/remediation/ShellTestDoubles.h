// Test doubles for the shell-file writer, verifier, runner and installer
// tests: the live services pointed at a temporary home directory.
#pragma once

#include <cerrno>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessRunning.h"
#include "platform/live/LiveHostInfo.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/ForwardingFileSystem.h"

namespace lumo::test {

// The real file system with its home, temporary and caches directories moved,
// and writes to chosen paths failing with EACCES (a directory root could still write to).
class HomeFileSystem final : public ForwardingFileSystem {
public:
    explicit HomeFileSystem(std::string homePath) : home(std::move(homePath)) {}

    std::string home;
    std::string temporary = m_live.temporaryDirectory();  // where sandboxes go; tests may make it unusable
    std::string caches = home + "/Library/Caches";
    std::set<std::string> failingWrites;

    std::string homeDirectory() const override { return home; }
    std::string temporaryDirectory() const override { return temporary; }
    Result<std::string> cachesDirectory() const override {
        if (auto status = m_live.createDirectory(caches, true); !status) return status.error();
        return caches;
    }
    Status createFile(const std::string& text, const std::string& path,
                      std::optional<std::uint32_t> permissions = std::nullopt) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.createFile(text, path, permissions);
    }
    Status replaceContents(const std::string& path, const std::optional<std::string>& expected, const std::string& text,
                           ReplaceMode mode) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.replaceContents(path, expected, text, mode);
    }
};

// Real child processes whose inherited environment has HOME set to a
// temporary directory, so a login zsh reads that directory's start-up files.
// Tests derive from it to answer some commands themselves.
class HomeProcessRunner : public ProcessRunning {
public:
    explicit HomeProcessRunner(std::string home) : m_home(std::move(home)) {}

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt,
                              const RunOptions& options = {}) const override {
        return m_live.run(executable, arguments, withHome(environment), options);
    }
    ProcessStream stream(const std::string& executable, const std::vector<std::string>& arguments,
                         const std::optional<Environment>& environment = std::nullopt) const override {
        return m_live.stream(executable, arguments, withHome(environment));
    }

private:
    Environment withHome(const std::optional<Environment>& environment) const {
        Environment result = environment ? *environment : currentHostInfo().environment;
        result["HOME"] = m_home;
        result.erase("ZDOTDIR");
        return result;
    }

    std::string m_home;
    LiveProcessRunner m_live;
};

}  // namespace lumo::test
