// LiveFileSystem: FileSystemOperating on the real file system (POSIX calls).
//
// Stateless and safe to use from any thread. Failures are Errors in the POSIX
// domain carrying errno and the path ("/x/y: No such file or directory"),
// except readString on text that is not UTF-8 (Cocoa domain, code 261).
//
// Choices worth knowing:
//  - fileExists and isExecutableFile follow symbolic links: a dangling link
//    does not exist, and a directory is never an executable file.
//  - readData and readString read regular files only, and never block: a
//    named pipe or a device is refused (see posix::readRegularFile).
//  - resolvingSymlinks follows each link itself, so a dangling link resolves
//    to the missing file it names (when that file's folder exists).
//  - attributesOfItem looks at the path itself (lstat): for a link it reports
//    isSymbolicLink and the link's own permissions; setPosixPermissions
//    changes the target's (chmod follows links).
//  - write(atomically: true) and writeData write a temporary file next to the
//    target ("." + name + "." + random, created close-on-exec), write it all,
//    fsync it and rename it over the target. On any failure the temporary file
//    is removed and the target is untouched. The new file keeps the
//    permissions of the file it replaces; a file that did not exist gets
//    0666 minus the umask (0644 usually), as a plain write would. A symbolic
//    link at the target is written through (its target file is replaced, or
//    created when the link dangles), so a start-up file that links into a
//    dotfiles folder stays a link.
//  - createFile writes the whole file under a temporary name, then link()s
//    it into place: link() never replaces an existing entry.
//  - replaceContents compares the file's text on an open descriptor, writes
//    the new text to a temporary file, then looks again just before the
//    rename: the descriptor's state (identity, size, times, link count) and
//    its text, and that the path still names that file. What remains is the
//    moment between that last look and rename(): a program writing into the
//    old file just then loses its write. In place, the same last look runs
//    right before the write, and an extension of the text is written as a
//    tail only.
//  - write(atomically: false) truncates and writes the file in place.
//  - openForAppending opens O_APPEND (created 0600): every append() is one
//    write(2) at the end of the file, kept by the kernel if the process is
//    killed right after it. Anything but a regular file is refused (EINVAL),
//    and a FIFO without a reader fails at once instead of blocking.
//  - moveItem never replaces an existing destination. On macOS the rename is
//    exclusive (renamex_np RENAME_EXCL); elsewhere the destination is checked
//    first, which leaves a small race with another process creating it. A
//    file moved across file systems is copied next to the destination and
//    linked into place (link() fails if the destination appeared meanwhile),
//    then the source is removed. Directories are not moved across devices.
//  - cachesDirectory / applicationSupportDirectory: macOS ~/Library/Caches and
//    ~/Library/Application Support; elsewhere $XDG_CACHE_HOME or ~/.cache and
//    $XDG_DATA_HOME or ~/.local/share (relative XDG values are ignored).
#pragma once

#include "platform/FileSystemOperating.h"
#include "platform/UTF8.h"

namespace lumo {

class LiveFileSystem final : public FileSystemOperating {
public:
    std::string homeDirectory() const override;
    std::string temporaryDirectory() const override;

    bool fileExists(const std::string& path) const override;
    bool fileExists(const std::string& path, bool* isDirectory) const override;
    bool isExecutableFile(const std::string& path) const override;

    Result<std::vector<std::string>> contentsOfDirectory(const std::string& path) const override;
    Status createDirectory(const std::string& path, bool withIntermediateDirectories) const override;
    Status removeItem(const std::string& path) const override;
    Status moveItem(const std::string& from, const std::string& to) const override;
    Result<FileAttributes> attributesOfItem(const std::string& path) const override;
    Status setPosixPermissions(std::uint32_t permissions, const std::string& path) const override;
    Result<std::string> resolvingSymlinks(const std::string& path) const override;

    Status write(const std::string& text, const std::string& path, bool atomically) const override;
    Result<std::string> readString(const std::string& path) const override;
    Result<Bytes> readData(const std::string& path) const override;
    Status writeData(const Bytes& data, const std::string& path) const override;
    Status createFile(const std::string& text, const std::string& path,
                      std::optional<std::uint32_t> permissions = std::nullopt) const override;
    Status replaceContents(const std::string& path, const std::optional<std::string>& expected, const std::string& text,
                           ReplaceMode mode) const override;
    Result<std::unique_ptr<AppendingFile>> openForAppending(const std::string& path) const override;

    Result<std::string> cachesDirectory() const override;
    Result<std::string> applicationSupportDirectory() const override;
};

}  // namespace lumo
