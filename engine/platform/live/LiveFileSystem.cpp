#include "platform/live/LiveFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/live/PosixFile.h"

namespace lumo {

namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): the app never calls setenv
    return value ? std::string(value) : std::string();
}

// A file's own name with a leading dot and a random tail: hidden, and never
// mistaken for the file itself.
std::string temporaryPrefixFor(const std::string& path) { return "." + lastPathComponent(path) + "."; }

Status createDirectoryPath(const std::string& path) {
    if (path.empty()) return posixError(ENOENT, path);
    // Each existing prefix is accepted as long as it is a directory.
    std::string::size_type position = 0;
    for (;;) {
        position = path.find('/', position + 1);
        const std::string prefix = path.substr(0, position);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0) {
            const int error = errno;
            struct stat info {};
            if (error != EEXIST || ::stat(prefix.c_str(), &info) != 0) return posixError(error, prefix);
            if (!S_ISDIR(info.st_mode)) return posixError(ENOTDIR, prefix);
        }
        if (position == std::string::npos) return Status::success();
    }
}

// Removes `name` under the directory `parentFd` without following links; a
// directory is emptied first. Returns 0 or an errno (with the failing path in
// `failedPath`).
int removeTree(int parentFd, const std::string& name, const std::string& displayPath, std::string& failedPath) {
    struct stat info {};
    if (::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        failedPath = displayPath;
        return errno;
    }
    if (!S_ISDIR(info.st_mode)) {
        if (::unlinkat(parentFd, name.c_str(), 0) == 0) return 0;
        failedPath = displayPath;
        return errno;
    }
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        failedPath = displayPath;
        return errno;
    }
    DIR* directory = ::fdopendir(fd);
    if (!directory) {
        const int error = errno;
        ::close(fd);
        failedPath = displayPath;
        return error;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(directory, ::closedir);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);  // NOLINT(concurrency-mt-unsafe): a stream of our own
        if (!entry) {
            if (errno != 0) {
                failedPath = displayPath;
                return errno;
            }
            break;
        }
        const std::string entryName = entry->d_name;
        if (entryName != "." && entryName != "..") names.push_back(entryName);
    }
    for (const auto& entryName : names) {
        if (const int error = removeTree(::dirfd(directory), entryName, joinPath(displayPath, entryName), failedPath)) {
            return error;
        }
    }
    closer.reset();
    if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0) return 0;
    failedPath = displayPath;
    return errno;
}

// Replaces `path` with `bytes` through a temporary file in the same directory.
Status writeAtomically(std::string_view bytes, const std::string& path) {
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    std::optional<mode_t> existingMode;
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return posixError(EISDIR, path);
        existingMode = info.st_mode & 07777;
    }

    const std::string directory = parentDirectory(target);
    auto temporary = posix::createUniqueFile(directory, temporaryPrefixFor(target), 0666);
    if (!temporary) return posixError(temporary.error().code, path);
    const auto discard = [&](int error) {
        temporary->fd.reset();
        ::unlink(temporary->path.c_str());
        return posixError(error, path);
    };
    if (existingMode && ::fchmod(temporary->fd.get(), *existingMode) != 0) return discard(errno);
    if (const int error = posix::writeAll(temporary->fd.get(), bytes)) return discard(error);
    if (::fsync(temporary->fd.get()) != 0) return discard(errno);
    if (const int error = temporary->fd.reset()) return discard(error);
    if (::rename(temporary->path.c_str(), target.c_str()) != 0) return discard(errno);
    posix::syncDirectory(directory);
    return Status::success();
}

Status writeInPlace(std::string_view bytes, const std::string& path) {
    posix::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid()) return posixError(errno, path);
    if (const int error = posix::writeAll(fd.get(), bytes)) return posixError(error, path);
    if (const int error = fd.reset()) return posixError(error, path);
    return Status::success();
}

// A regular file moved to another file system: copy it next to the
// destination, link the copy into place (which fails if the destination
// exists), then drop the copy's temporary name and the source.
Status copyAcrossDevices(const std::string& from, const std::string& to) {
    posix::UniqueFd source(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!source.valid()) return posixError(errno, from);
    struct stat info {};
    if (::fstat(source.get(), &info) != 0) return posixError(errno, from);
    if (!S_ISREG(info.st_mode)) return posixError(EXDEV, from);

    auto copy = posix::createUniqueFile(parentDirectory(to), temporaryPrefixFor(to), 0600);
    if (!copy) return copy.error();
    const auto discard = [&](int error, const std::string& context) {
        copy->fd.reset();
        ::unlink(copy->path.c_str());
        return posixError(error, context);
    };
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(source.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return discard(errno, from);
        if (count == 0) break;
        if (const int error = posix::writeAll(copy->fd.get(), {buffer, static_cast<std::size_t>(count)})) {
            return discard(error, to);
        }
    }
    if (::fchmod(copy->fd.get(), info.st_mode & 07777) != 0) return discard(errno, to);
    if (::fsync(copy->fd.get()) != 0) return discard(errno, to);
    if (const int error = copy->fd.reset()) return discard(error, to);
    if (::link(copy->path.c_str(), to.c_str()) != 0) return discard(errno, to);
    ::unlink(copy->path.c_str());
    if (::unlink(from.c_str()) != 0) return posixError(errno, from);
    return Status::success();
}

Result<std::string> ensureDirectory(const std::string& path) {
    if (auto status = createDirectoryPath(path); !status) return status.error();
    return path;
}

#ifndef __APPLE__
std::string xdgDirectory(const char* variable, const std::string& fallback) {
    const std::string value = environmentValue(variable);
    // Relative values are invalid by definition and ignored.
    if (!value.empty() && value.front() == '/') return withoutTrailingSlashes(value);
    return fallback;
}
#endif

}  // namespace

std::string LiveFileSystem::homeDirectory() const {
    const std::string home = environmentValue("HOME");
    if (!home.empty()) return withoutTrailingSlashes(home);
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (bufferSize <= 0) bufferSize = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(bufferSize));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return withoutTrailingSlashes(found->pw_dir);
    }
    return "/";
}

std::string LiveFileSystem::temporaryDirectory() const {
    const std::string fromEnvironment = environmentValue("TMPDIR");
    if (!fromEnvironment.empty()) return withoutTrailingSlashes(fromEnvironment);
#ifdef __APPLE__
    char buffer[PATH_MAX];
    const std::size_t length = ::confstr(_CS_DARWIN_USER_TEMP_DIR, buffer, sizeof buffer);
    if (length > 0 && length <= sizeof buffer) return withoutTrailingSlashes(buffer);
#endif
    return "/tmp";
}

bool LiveFileSystem::fileExists(const std::string& path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool LiveFileSystem::fileExists(const std::string& path, bool* isDirectory) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

bool LiveFileSystem::isExecutableFile(const std::string& path) const {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
    return ::access(path.c_str(), X_OK) == 0;
}

Result<std::vector<std::string>> LiveFileSystem::contentsOfDirectory(const std::string& path) const {
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(path.c_str()), ::closedir);
    if (!directory) return posixError(errno, path);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory.get());  // NOLINT(concurrency-mt-unsafe): a stream of our own
        if (!entry) {
            if (errno != 0) return posixError(errno, path);
            return names;
        }
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
}

Status LiveFileSystem::createDirectory(const std::string& path, bool withIntermediateDirectories) const {
    if (withIntermediateDirectories) return createDirectoryPath(withoutTrailingSlashes(path));
    if (::mkdir(path.c_str(), 0777) != 0) return posixError(errno, path);
    return Status::success();
}

Status LiveFileSystem::removeItem(const std::string& path) const {
    std::string failedPath;
    if (const int error = removeTree(AT_FDCWD, path, path, failedPath)) return posixError(error, failedPath);
    return Status::success();
}

Status LiveFileSystem::moveItem(const std::string& from, const std::string& to) const {
    struct stat info {};
    if (::lstat(from.c_str(), &info) != 0) return posixError(errno, from);
#ifdef __APPLE__
    if (::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL) == 0) return Status::success();
    const int error = errno;
    if (error == EXDEV) return copyAcrossDevices(from, to);
    if (error != ENOTSUP) return posixError(error, error == EEXIST ? to : from);
        // The file system cannot rename exclusively: check, then rename.
#endif
    if (::lstat(to.c_str(), &info) == 0) return posixError(EEXIST, to);
    if (::rename(from.c_str(), to.c_str()) == 0) return Status::success();
    if (errno == EXDEV) return copyAcrossDevices(from, to);
    return posixError(errno, from);
}

Result<FileAttributes> LiveFileSystem::attributesOfItem(const std::string& path) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return posixError(errno, path);
    FileAttributes attributes;
    attributes.posixPermissions = static_cast<std::uint32_t>(info.st_mode & 07777);
    attributes.size = static_cast<std::uint64_t>(info.st_size);
#ifdef __APPLE__
    const timespec modified = info.st_mtimespec;
#else
    const timespec modified = info.st_mtim;
#endif
    attributes.modificationTimeNanoseconds =
        static_cast<std::int64_t>(modified.tv_sec) * 1'000'000'000 + static_cast<std::int64_t>(modified.tv_nsec);
    attributes.isDirectory = S_ISDIR(info.st_mode);
    attributes.isSymbolicLink = S_ISLNK(info.st_mode);
    return attributes;
}

Status LiveFileSystem::setPosixPermissions(std::uint32_t permissions, const std::string& path) const {
    if (::chmod(path.c_str(), static_cast<mode_t>(permissions & 07777)) != 0) return posixError(errno, path);
    return Status::success();
}

Result<std::string> LiveFileSystem::resolvingSymlinks(const std::string& path) const {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return posixError(errno, path);
    std::string result = resolved;
    std::free(resolved);
    return result;
}

Status LiveFileSystem::write(const std::string& text, const std::string& path, bool atomically) const {
    return atomically ? writeAtomically(text, path) : writeInPlace(text, path);
}

Result<std::string> LiveFileSystem::readString(const std::string& path) const {
    auto data = readData(path);
    if (!data) return data.error();
    if (!isValidUTF8(*data)) {
        // The platform's "inapplicable string encoding" reading error.
        return Error{kCocoaErrorDomain, 261,
                     "The file \"" + lastPathComponent(path) + "\" couldn't be opened using text encoding UTF-8."};
    }
    return std::move(*data);
}

Result<Bytes> LiveFileSystem::readData(const std::string& path) const {
    posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return posixError(errno, path);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return posixError(errno, path);
    if (S_ISDIR(info.st_mode)) return posixError(EISDIR, path);
    Bytes data;
    if (S_ISREG(info.st_mode) && info.st_size > 0) data.reserve(static_cast<std::size_t>(info.st_size));
    if (const int error = posix::readAll(fd.get(), data)) return posixError(error, path);
    return data;
}

Status LiveFileSystem::writeData(const Bytes& data, const std::string& path) const {
    return writeAtomically(data, path);
}

namespace {

class LiveAppendingFile final : public AppendingFile {
public:
    LiveAppendingFile(posix::UniqueFd fd, std::string path) : m_fd(std::move(fd)), m_path(std::move(path)) {}

    Status append(std::string_view bytes) override {
        if (const int error = posix::writeAll(m_fd.get(), bytes)) return posixError(error, m_path);
        return Status::success();
    }

private:
    posix::UniqueFd m_fd;
    std::string m_path;
};

}  // namespace

Result<std::unique_ptr<AppendingFile>> LiveFileSystem::openForAppending(const std::string& path) const {
    // O_NONBLOCK: a FIFO without a reader fails (ENXIO) instead of hanging;
    // it changes nothing for a regular file.
    posix::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600));
    if (!fd.valid()) return posixError(errno, path);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return posixError(errno, path);
    if (!S_ISREG(info.st_mode)) return posixError(EINVAL, path);
    return std::unique_ptr<AppendingFile>(std::make_unique<LiveAppendingFile>(std::move(fd), path));
}

Result<std::string> LiveFileSystem::cachesDirectory() const {
#ifdef __APPLE__
    return ensureDirectory(joinPath(homeDirectory(), "Library/Caches"));
#else
    return ensureDirectory(xdgDirectory("XDG_CACHE_HOME", joinPath(homeDirectory(), ".cache")));
#endif
}

Result<std::string> LiveFileSystem::applicationSupportDirectory() const {
#ifdef __APPLE__
    return ensureDirectory(joinPath(homeDirectory(), "Library/Application Support"));
#else
    return ensureDirectory(xdgDirectory("XDG_DATA_HOME", joinPath(homeDirectory(), ".local/share")));
#endif
}

}  // namespace lumo
