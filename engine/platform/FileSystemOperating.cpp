#include "platform/FileSystemOperating.h"

#include <cerrno>

namespace lumo {

Error fileRefusal(int code, const std::string& path, const std::string& why) {
    return Error{kFileRefusalDomain, code, path + ": " + why};
}

bool isFileRefusal(const Error& error, int code) { return error.domain == kFileRefusalDomain && error.code == code; }

Status FileSystemOperating::createFile(const std::string& text, const std::string& path,
                                       std::optional<std::uint32_t> permissions) const {
    if (fileExists(path) || attributesOfItem(path).ok()) return posixError(EEXIST, path);
    if (auto written = write(text, path, true); !written) return written;
    if (permissions) return setPosixPermissions(*permissions, path);
    return Status::success();
}

Status FileSystemOperating::replaceContents(const std::string& path, const std::optional<std::string>& expected,
                                            const std::string& text, ReplaceMode mode) const {
    const bool exists = fileExists(path);
    if (exists != expected.has_value()) {
        return fileRefusal(file_refusal::kChanged, path, "changed since it was read");
    }
    if (expected) {
        const auto attributes = attributesOfItem(path);
        if (attributes.ok() && attributes->isDirectory) {
            return fileRefusal(file_refusal::kNotRegular, path, "is a folder");
        }
        const auto current = readData(path);
        if (!current) return current.error();
        if (*current != *expected) return fileRefusal(file_refusal::kChanged, path, "changed since it was read");
    }
    return write(text, path, mode == ReplaceMode::atomically);
}

namespace {

class RewritingAppendingFile final : public AppendingFile {
public:
    RewritingAppendingFile(const FileSystemOperating& fs, std::string path) : m_fs(fs), m_path(std::move(path)) {}

    Status append(std::string_view bytes) override {
        Bytes contents;
        if (m_fs.fileExists(m_path)) {
            auto existing = m_fs.readData(m_path);
            if (!existing) return existing.error();
            contents = std::move(*existing);
        }
        contents.append(bytes);
        return m_fs.writeData(contents, m_path);
    }

private:
    const FileSystemOperating& m_fs;
    std::string m_path;
};

}  // namespace

Result<std::unique_ptr<AppendingFile>> FileSystemOperating::openForAppending(const std::string& path) const {
    if (!fileExists(path)) {
        if (auto created = writeData({}, path); !created) return created.error();
        (void)setPosixPermissions(0600, path);
    }
    return std::unique_ptr<AppendingFile>(std::make_unique<RewritingAppendingFile>(*this, path));
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

std::string lastPathComponent(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string parentDirectory(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return trimmed.substr(0, slash);
}

}  // namespace lumo
