// Small POSIX file helpers shared by the live file system, the HTTP fetcher and
// the process runner, and readRegularFile() for the one reader outside them
// (the scenario loader). Built as its own small library (lumo_posix) so that
// reader needs neither curl nor the rest of the live adapters.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

#include "platform/Result.h"

namespace lumo::posix {

// Owns a file descriptor; closes it when it dies.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes the descriptor; returns the errno of a failed close, 0 otherwise.
    int reset();

private:
    int m_fd = -1;
};

// Writes every byte, retrying on EINTR and short writes. Returns 0 or an errno.
int writeAll(int fd, std::string_view bytes);

// Reads to end of file, retrying on EINTR. Returns 0 or an errno.
int readAll(int fd, std::string& into);

// The whole contents of the regular file at `path` (symbolic links followed),
// never blocking on anything else: a FIFO, a device or a socket is refused
// before it is read (the file is opened with O_NONBLOCK and O_NOCTTY, so even
// a FIFO swapped in after the first look opens at once and is then refused by
// fstat). A file over `maxBytes` is refused without reading it; one that grows
// past the limit while being read is refused too.
//
// Errors are in the POSIX domain and name the path: the open's errno; EISDIR
// for a folder; kNotRegularFileCode for anything else that is not a regular
// file; EFBIG for a file over the limit ("<path>: larger than 16 MB").
inline constexpr int kNotRegularFileCode = EINVAL;
Result<std::string> readRegularFile(const std::string& path,
                                    std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// "16 MB", "1 MB", "512 bytes": a size limit as a person reads it.
std::string byteCountText(std::size_t bytes);

// A new, empty file in `directory` whose name starts with `prefix` followed by
// random characters. The descriptor is close-on-exec from the start (so a
// child spawned by another thread never inherits it) and the file is created
// with `mode` filtered by the process umask, like any other new file.
struct UniqueFile {
    UniqueFd fd;
    std::string path;
};
Result<UniqueFile> createUniqueFile(const std::string& directory, const std::string& prefix, mode_t mode);

// Flushes a directory's entries (after a rename into it). Best effort.
void syncDirectory(const std::string& directory);

}  // namespace lumo::posix
