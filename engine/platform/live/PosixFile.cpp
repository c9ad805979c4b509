#include "platform/live/PosixFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
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
