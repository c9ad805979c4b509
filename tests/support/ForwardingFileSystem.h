// The real file system behind the service interface, optionally with another
// home directory, for test doubles that change a few of its answers (writes
// that fail) and forward the rest.
#pragma once

#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/live/LiveFileSystem.h"

namespace lumo::test {

class ForwardingFileSystem : public FileSystemOperating {
public:
    // `home`, when given, stands in for the user's home directory.
    explicit ForwardingFileSystem(std::string home = {}) : m_home(std::move(home)) {}
    std::string homeDirectory() const override { return m_home.empty() ? m_live.homeDirectory() : m_home; }
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
        return m_live.write(text, path, atomically);
    }
    Result<std::string> readString(const std::string& path) const override { return m_live.readString(path); }
    Result<Bytes> readData(const std::string& path) const override { return m_live.readData(path); }
    Status writeData(const Bytes& data, const std::string& path) const override { return m_live.writeData(data, path); }
    Status createFile(const std::string& text, const std::string& path,
                      std::optional<std::uint32_t> permissions = std::nullopt) const override {
        return m_live.createFile(text, path, permissions);
    }
    Status replaceContents(const std::string& path, const std::optional<std::string>& expected, const std::string& text,
                           ReplaceMode mode) const override {
        return m_live.replaceContents(path, expected, text, mode);
    }
    Result<std::string> cachesDirectory() const override { return m_live.cachesDirectory(); }
    Result<std::string> applicationSupportDirectory() const override { return m_live.applicationSupportDirectory(); }

protected:
    LiveFileSystem m_live;

private:
    std::string m_home;
};

}  // namespace lumo::test
