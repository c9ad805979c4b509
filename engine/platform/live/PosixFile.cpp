#include "platform/live/PosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>

#include "platform/FileSystemOperating.h"

namespace lumo::posix {

int UniqueFd::reset() {
    if (m_fd < 0) return 0;
    // A close interrupted by a signal has still released the descriptor on
    // both macOS and Linux: never retry it (the number may be reused already).
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0 || errno == EINTR ? 0 : errno;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int readAll(int fd, std::string& into) {
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (count == 0) return 0;
        into.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string byteCountText(std::size_t bytes) {
    constexpr std::size_t kMB = 1024 * 1024;
    constexpr std::size_t kKB = 1024;
    if (bytes >= kMB && bytes % kMB == 0) return std::to_string(bytes / kMB) + " MB";
    if (bytes >= kKB && bytes % kKB == 0) return std::to_string(bytes / kKB) + " KB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

namespace {

Error notRegularFile(const std::string& path) {
    return Error{kPosixErrorDomain, kNotRegularFileCode,
                 path + ": not a regular file (a named pipe, a device or a socket)"};
}

Error tooLarge(const std::string& path, std::size_t maxBytes) {
    return Error{kPosixErrorDomain, EFBIG, path + ": larger than " + byteCountText(maxBytes)};
}

// Refuses what is not a regular file, or is larger than the limit.
std::optional<Error> refusal(const struct stat& info, const std::string& path, std::size_t maxBytes) {
    if (S_ISDIR(info.st_mode)) return posixError(EISDIR, path);
    if (!S_ISREG(info.st_mode)) return notRegularFile(path);
    if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > maxBytes) return tooLarge(path, maxBytes);
    return std::nullopt;
}

}  // namespace

Result<std::string> readRegularFile(const std::string& path, std::size_t maxBytes) {
    // A first look by path keeps even the open away from devices, whose open
    // alone can have effects.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return posixError(errno, path);
    if (auto refused = refusal(info, path, maxBytes)) return *refused;

    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return posixError(errno, path);
    if (::fstat(fd.get(), &info) != 0) return posixError(errno, path);
    if (auto refused = refusal(info, path, maxBytes)) return *refused;

    std::string data;
    data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return posixError(errno, path);
        }
        if (count == 0) return data;
        if (static_cast<std::size_t>(count) > maxBytes - data.size()) return tooLarge(path, maxBytes);
        data.append(buffer, static_cast<std::size_t>(count));
    }
}

namespace {

std::string randomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mutex mutex;
    static std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string suffix(12, 'x');
    std::lock_guard lock(mutex);
    for (auto& character : suffix) character = kAlphabet[pick(generator)];
    return suffix;
}

}  // namespace

Result<UniqueFile> createUniqueFile(const std::string& directory, const std::string& prefix, mode_t mode) {
    // mkstemp would give 0600 and a descriptor without close-on-exec; an
    // O_EXCL open with our own random name gives neither problem.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = joinPath(directory, prefix + randomSuffix());
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFile{UniqueFd(fd), std::move(path)};
        if (errno == EEXIST || errno == EINTR) continue;
        return posixError(errno, path);
    }
    return posixError(EEXIST, joinPath(directory, prefix + "*"));
}

void syncDirectory(const std::string& directory) {
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.valid()) (void)::fsync(fd.get());
}

}  // namespace lumo::posix
