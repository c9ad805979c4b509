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
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveProcessRunner.h"

namespace lumo::test {

// The real file system with another home directory, and writes to chosen
// paths failing with EACCES (a directory root could still write to).
class HomeFileSystem final : public FileSystemOperating {
public:
    explicit HomeFileSystem(std::string home) : m_home(std::move(home)) {}

    std::set<std::string> failingWrites;

    std::string homeDirectory() const override { return m_home; }
    std::string temporaryDirectory() const override { return m_live.temporaryDirectory(); }
    bool fileExists(const std::string& path) const override { return m_live.fileExists(path); }
    bool fileExists(const std::string& path, bool* isDirectory) const override {
        return m_live.fileExists(path, isDirectory);
    }
    bool isExecutableFile(const std::string& path) const override { return m_live.isExecutableFile(path); }
    Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const override {
        return m_live.contentsOfDirectory(path);
    }
    Status createDirectory(const std::string& path, bool intermediate) const override {
        return m_live.createDirectory(path, intermediate);
    }
    Status removeItem(const std::string& path) const override { return m_live.removeItem(path); }
    Status moveItem(const std::string& from, const std::string& to) const override { return m_live.moveItem(from, to); }
    Result<FileAttributes> attributesOfItem(const std::string& path) const override {
        return m_live.attributesOfItem(path);
    }
    Status setPosixPermissions(std::uint32_t permissions, const std::string& path) const override {
        return m_live.setPosixPermissions(permissions, path);
    }
    Result<std::string> resolvingSymlinks(const std::string& path) const override {
        return m_live.resolvingSymlinks(path);
    }
    Status write(const std::string& text, const std::string& path, bool atomically) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.write(text, path, atomically);
    }
    Result<std::string> readString(const std::string& path) const override { return m_live.readString(path); }
    Result<Bytes> readData(const std::string& path) const override { return m_live.readData(path); }
    Status writeData(const Bytes& data, const std::string& path) const override {
        if (failingWrites.count(path)) return posixError(EACCES, path);
        return m_live.writeData(data, path);
    }
    Result<std::string> cachesDirectory() const override { return m_live.cachesDirectory(); }
    Result<std::string> applicationSupportDirectory() const override { return m_live.applicationSupportDirectory(); }

private:
    std::string m_home;
    LiveFileSystem m_live;
};

// Real child processes whose inherited environment has HOME set to a
// temporary directory, so a login zsh reads that directory's start-up files.
// Records the argument vectors it was asked to run.
class HomeProcessRunner final : public ProcessRunning {
public:
    explicit HomeProcessRunner(std::string home);

    Result<ProcessResult> run(const std::string& executable, const std::vector<std::string>& arguments,
                              const std::optional<Environment>& environment = std::nullopt) const override;
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
