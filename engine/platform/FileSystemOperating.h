// FileSystemOperating: every file the engine reads or writes goes through this.
//
// Paths are absolute POSIX paths (std::string). Operations that can fail
// return the platform's error as a lumo::Error; callers decide what a failure
// means (most probes treat it as "not found").
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

namespace lumo {

// Bytes are carried in a std::string; nothing assumes they are text.
using Bytes = std::string;

struct FileAttributes {
    std::optional<std::uint32_t> posixPermissions;  // e.g. 0644
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> modificationTimeNanoseconds;  // since the epoch
    bool isDirectory = false;
    bool isSymbolicLink = false;  // of the path itself, not its target
    bool isSpecialFile = false;   // a named pipe, a device or a socket
    std::uint64_t linkCount = 1;  // names of the file (hard links)
};

// How replaceContents puts new text in place.
enum class ReplaceMode {
    // A temporary file renamed over the old one: a reader sees the old text
    // or the new, never half. The file gets a new identity, so a file with
    // other hard links is refused rather than split from them.
    atomically,
    // The file itself is rewritten (an extension of its text is appended),
    // so every hard link sees the change.
    inPlace,
};

// Why replaceContents or createFile refused (domain kFileRefusalDomain);
// the description names the path.
namespace file_refusal {
inline constexpr int kChanged = 1;     // the file no longer holds what was expected
inline constexpr int kNotRegular = 2;  // a folder, a named pipe, a device or a socket
inline constexpr int kReadOnly = 3;    // its permissions forbid writing
inline constexpr int kHardLinked = 4;  // other names share it (atomic mode only)
}  // namespace file_refusal
inline constexpr const char* kFileRefusalDomain = "FileSystem.Refused";

// A file held open for appending. Each append() adds its bytes at the end
// of the file as one write (the live file is opened O_APPEND): a process
// killed after append() returns has them in the file, without an fsync.
class AppendingFile {
public:
    virtual ~AppendingFile() = default;
    virtual Status append(std::string_view bytes) = 0;
};

class FileSystemOperating {
public:
    virtual ~FileSystemOperating() = default;

    virtual std::string homeDirectory() const = 0;
    // The per-user temporary directory (macOS: $TMPDIR), without a trailing slash.
    virtual std::string temporaryDirectory() const = 0;

    virtual bool fileExists(const std::string& path) const = 0;
    // Follows symbolic links; sets *isDirectory when the path exists.
    virtual bool fileExists(const std::string& path, bool* isDirectory) const = 0;
    virtual bool isExecutableFile(const std::string& path) const = 0;

    // Entry names (not paths). Fails for a missing or unreadable directory.
    virtual Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const = 0;
    virtual Status createDirectory(const std::string& path, bool withIntermediateDirectories) const = 0;
    // Removes a file, a link, or a whole directory tree.
    virtual Status removeItem(const std::string& path) const = 0;
    // Fails if the destination exists.
    virtual Status moveItem(const std::string& from, const std::string& to) const = 0;
    // Does not follow a final symbolic link (isSymbolicLink tells).
    virtual Result<FileAttributes> attributesOfItem(const std::string& path) const = 0;
    virtual Status setPosixPermissions(std::uint32_t permissions, const std::string& path) const = 0;
    // The path a symbolic link resolves to, all links followed; the path itself
    // otherwise. A dangling link resolves to the missing file its last link
    // names, as long as that file's folder exists (so the file can be created
    // through the link); it fails otherwise.
    virtual Result<std::string> resolvingSymlinks(const std::string& path) const = 0;

    // Writes text as UTF-8; when atomic, through a temporary file in the same
    // directory renamed over the target.
    virtual Status write(const std::string& text, const std::string& path, bool atomically) const = 0;
    // Fails when the file is missing, unreadable or not valid UTF-8.
    virtual Result<std::string> readString(const std::string& path) const = 0;
    virtual Result<Bytes> readData(const std::string& path) const = 0;
    virtual Status writeData(const Bytes& data, const std::string& path) const = 0;
    // Opens `path` for appending, creating it (mode 0600) when missing; its
    // directory must exist. The default reads the file and writes it back
    // whole on every append: right, but only for small files and fakes.
    virtual Result<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) const;

    // Writes a new file holding `text`, never replacing anything: fails with
    // EEXIST when anything (even a dangling link) is at `path`. A reader never
    // sees it half-written. `permissions` default to 0666 minus the umask.
    // The base implementation checks, then writes (fine for fakes).
    virtual Status createFile(const std::string& text, const std::string& path,
                              std::optional<std::uint32_t> permissions = std::nullopt) const;

    // Replaces the text of the file at `path` with `text`, but only while it
    // still holds `expected` (std::nullopt: while nothing is there), checked
    // again as late as the platform allows. Symbolic links are written
    // through, and a dangling link gets its missing file created. Refuses
    // (kFileRefusalDomain) a file that changed, is not a regular file, is
    // read-only, or (atomically) has other hard links; other failures are the
    // platform's. The file keeps its permission bits. The base
    // implementation compares, then writes (fine for fakes).
    virtual Status replaceContents(const std::string& path, const std::optional<std::string>& expected,
                                   const std::string& text, ReplaceMode mode) const;

    // Created when missing. macOS: ~/Library/Caches and ~/Library/Application
    // Support; elsewhere the XDG equivalents.
    virtual Result<std::string> cachesDirectory() const = 0;
    virtual Result<std::string> applicationSupportDirectory() const = 0;
};

// A refusal of createFile / replaceContents.
Error fileRefusal(int code, const std::string& path, const std::string& why);
bool isFileRefusal(const Error& error, int code);

// Path helpers shared by every caller.
std::string joinPath(const std::string& directory, const std::string& name);
std::string lastPathComponent(const std::string& path);
std::string parentDirectory(const std::string& path);

}  // namespace lumo
