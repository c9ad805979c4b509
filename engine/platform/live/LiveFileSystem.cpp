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

Result<std::string> canonicalPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return posixError(errno, path);
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// The file `path` ends at once every symbolic link is followed. When the last
// link dangles, the missing file it names (in its folder, which must exist);
// a missing `path` that is no link at all is accepted only with `allowMissing`.
Result<std::string> followingLinks(const std::string& path, bool allowMissing) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            const int error = errno;
            if (error != ENOENT || (hop == 0 && !allowMissing)) return posixError(error, path);
            auto folder = canonicalPath(parentDirectory(current));
            if (!folder) return posixError(folder.error().code, path);
            return joinPath(*folder, lastPathComponent(current));
        }
        if (!S_ISLNK(info.st_mode)) return canonicalPath(current);
        std::string target(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) return posixError(errno, path);
        target.resize(static_cast<std::size_t>(length));
        current = !target.empty() && target.front() == '/' ? target : joinPath(parentDirectory(current), target);
    }
    return posixError(ELOOP, path);
}

// Replaces `path` with `bytes` through a temporary file in the same directory.
Status writeAtomically(std::string_view bytes, const std::string& path) {
    std::string target = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // Written through, even to a missing file the link names.
        auto resolved = followingLinks(path, false);
        if (!resolved) return resolved.error();
        target = std::move(*resolved);
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

// A new file at `path` holding `bytes`, made complete under a temporary name
// and then linked into place: link() never replaces an existing entry, so
// anything already at `path` stays as it is (EEXIST).
Status createExclusively(std::string_view bytes, const std::string& path, std::optional<mode_t> permissions) {
    auto temporary =
        posix::createUniqueFile(parentDirectory(path), temporaryPrefixFor(path), permissions.value_or(0666));
    if (!temporary) return posixError(temporary.error().code, path);
    const auto discard = [&](int error) {
        temporary->fd.reset();
        ::unlink(temporary->path.c_str());
        return posixError(error, path);
    };
    if (permissions && ::fchmod(temporary->fd.get(), *permissions & 07777) != 0) return discard(errno);
    if (const int error = posix::writeAll(temporary->fd.get(), bytes)) return discard(error);
    if (::fsync(temporary->fd.get()) != 0) return discard(errno);
    if (const int error = temporary->fd.reset()) return discard(error);
    if (::link(temporary->path.c_str(), path.c_str()) != 0) {
        const int error = errno;
        if (error == EEXIST) return discard(EEXIST);
        // A file system without hard links: an exclusive create, written in
        // place (a reader could see it half-written, nothing is replaced).
        if (error != EPERM && error != ENOTSUP && error != EOPNOTSUPP) return discard(error);
        ::unlink(temporary->path.c_str());
        posix::UniqueFd fd(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions.value_or(0666)));
        if (!fd.valid()) return posixError(errno, path);
        if (permissions && ::fchmod(fd.get(), *permissions & 07777) != 0) return posixError(errno, path);
        if (const int failed = posix::writeAll(fd.get(), bytes)) return posixError(failed, path);
        if (::fsync(fd.get()) != 0) return posixError(errno, path);
        if (const int failed = fd.reset()) return posixError(failed, path);
        return Status::success();
    }
    ::unlink(temporary->path.c_str());
    posix::syncDirectory(parentDirectory(path));
    return Status::success();
}

Error changedSinceRead(const std::string& path) {
    return fileRefusal(file_refusal::kChanged, path, "changed since it was read");
}

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + static_cast<std::int64_t>(time.tv_nsec);
}

// What must not move between the comparison and the replacement: the file's
// identity, size, permissions, link count and both of its times.
bool sameState(const struct stat& a, const struct stat& b) {
#ifdef __APPLE__
    const auto modified = [](const struct stat& info) { return nanoseconds(info.st_mtimespec); };
    const auto changed = [](const struct stat& info) { return nanoseconds(info.st_ctimespec); };
#else
    const auto modified = [](const struct stat& info) { return nanoseconds(info.st_mtim); };
    const auto changed = [](const struct stat& info) { return nanoseconds(info.st_ctim); };
#endif
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mode == b.st_mode &&
           a.st_nlink == b.st_nlink && modified(a) == modified(b) && changed(a) == changed(b);
}

// Reads the whole file behind `fd` from its start, without moving its offset.
int readFrom(int fd, std::string& into) {
    into.clear();
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(into.size()));
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (count == 0) return 0;
        into.append(buffer, static_cast<std::size_t>(count));
    }
}

int writeAt(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        offset += written;
    }
    return 0;
}

// The file open on `fd` (with its state in `info`) still holds `expected`,
// and `path` still names it.
std::optional<Error> stillAsExpected(int fd, const struct stat& info, const std::string& path,
                                     const std::string& expected) {
    struct stat now {};
    if (::fstat(fd, &now) != 0) return posixError(errno, path);
    if (!sameState(info, now)) return changedSinceRead(path);
    std::string text;
    if (const int error = readFrom(fd, text)) return posixError(error, path);
    if (text != expected) return changedSinceRead(path);
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != info.st_dev || named.st_ino != info.st_ino) {
        return changedSinceRead(path);
    }
    return std::nullopt;
}

Status replaceExisting(const std::string& path, const std::string& expected, std::string_view text, ReplaceMode mode) {
    posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        // Gone, or swapped for a link, since it was read.
        if (errno == ENOENT || errno == ELOOP) return changedSinceRead(path);
        return posixError(errno, path);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return posixError(errno, path);
    if (!S_ISREG(info.st_mode)) return fileRefusal(file_refusal::kNotRegular, path, "not a regular file");
    if ((info.st_mode & S_IWUSR) == 0) return fileRefusal(file_refusal::kReadOnly, path, "read-only");
    if (mode == ReplaceMode::atomically && info.st_nlink > 1) {
        return fileRefusal(file_refusal::kHardLinked, path, "has other hard links");
    }
    if (auto changed = stillAsExpected(fd.get(), info, path, expected)) return *changed;

    if (mode == ReplaceMode::inPlace) {
        posix::UniqueFd out(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
        if (!out.valid()) return posixError(errno, path);
        struct stat opened {};
        if (::fstat(out.get(), &opened) != 0) return posixError(errno, path);
        if (opened.st_dev != info.st_dev || opened.st_ino != info.st_ino) return changedSinceRead(path);
        // The last look, on the open file, right before it is written.
        if (auto changed = stillAsExpected(fd.get(), info, path, expected)) return *changed;
        const bool extends = text.size() >= expected.size() && text.substr(0, expected.size()) == expected;
        if (extends) {
            // The text already there stays untouched: only the tail is written.
            const auto tail = text.substr(expected.size());
            if (const int error = writeAt(out.get(), tail, static_cast<off_t>(expected.size()))) {
                return posixError(error, path);
            }
        } else {
            if (const int error = writeAt(out.get(), text, 0)) return posixError(error, path);
            if (::ftruncate(out.get(), static_cast<off_t>(text.size())) != 0) return posixError(errno, path);
        }
        if (::fsync(out.get()) != 0) return posixError(errno, path);
        if (const int error = out.reset()) return posixError(error, path);
        return Status::success();
    }

    const std::string directory = parentDirectory(path);
    auto temporary = posix::createUniqueFile(directory, temporaryPrefixFor(path), 0600);
    if (!temporary) return posixError(temporary.error().code, path);
    const auto discard = [&](const Error& error) {
        temporary->fd.reset();
        ::unlink(temporary->path.c_str());
        return Status(error);
    };
    if (::fchmod(temporary->fd.get(), info.st_mode & 07777) != 0) return discard(posixError(errno, path));
    if (const int error = posix::writeAll(temporary->fd.get(), text)) return discard(posixError(error, path));
    if (::fsync(temporary->fd.get()) != 0) return discard(posixError(errno, path));
    if (const int error = temporary->fd.reset()) return discard(posixError(error, path));
    // The last look, on the open file and its name, right before the rename.
    // What remains is the few microseconds between this look and rename():
    // a program writing into the old file in that moment loses its write
    // (the rename puts the old file aside); one that replaces the file by
    // renaming (as editors save) is caught here.
    if (auto changed = stillAsExpected(fd.get(), info, path, expected)) return discard(*changed);
    if (::rename(temporary->path.c_str(), path.c_str()) != 0) return discard(posixError(errno, path));
    posix::syncDirectory(directory);
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
    attributes.modificationTimeNanoseconds = nanoseconds(info.st_mtimespec);
#else
    attributes.modificationTimeNanoseconds = nanoseconds(info.st_mtim);
#endif
    attributes.isDirectory = S_ISDIR(info.st_mode);
    attributes.isSymbolicLink = S_ISLNK(info.st_mode);
    attributes.isSpecialFile = !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode) && !S_ISLNK(info.st_mode);
    attributes.linkCount = static_cast<std::uint64_t>(info.st_nlink);
    return attributes;
}

Status LiveFileSystem::setPosixPermissions(std::uint32_t permissions, const std::string& path) const {
    if (::chmod(path.c_str(), static_cast<mode_t>(permissions & 07777)) != 0) return posixError(errno, path);
    return Status::success();
}

Result<std::string> LiveFileSystem::resolvingSymlinks(const std::string& path) const {
    return followingLinks(path, false);
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

Result<Bytes> LiveFileSystem::readData(const std::string& path) const { return posix::readRegularFile(path); }

Status LiveFileSystem::writeData(const Bytes& data, const std::string& path) const {
    return writeAtomically(data, path);
}

Status LiveFileSystem::createFile(const std::string& text, const std::string& path,
                                  std::optional<std::uint32_t> permissions) const {
    std::optional<mode_t> mode;
    if (permissions) mode = static_cast<mode_t>(*permissions & 07777);
    return createExclusively(text, path, mode);
}

Status LiveFileSystem::replaceContents(const std::string& path, const std::optional<std::string>& expected,
                                       const std::string& text, ReplaceMode mode) const {
    auto target = followingLinks(path, true);
    if (!target) return target.error();
    if (!expected) {
        // Nothing was there: create it, unless something appeared meanwhile.
        const Status created = createExclusively(text, *target, std::nullopt);
        if (!created && created.error().code == EEXIST) return changedSinceRead(path);
        return created;
    }
    return replaceExisting(*target, *expected, text, mode);
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
