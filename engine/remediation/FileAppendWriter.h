// FileAppendWriter: the one way the app changes a user's shell start-up files.
//
// It appends a dated, labelled block to the end of one file, after backing
// the file up beside it, in two steps so that the user can review the change
// first:
//
//   FileAppendWriter writer(joinPath(fs->homeDirectory(), ".zshrc"), fs);
//   Result<FileAppendWriter::DiffPreview> preview = writer.previewAppending(lines, "jEnv init");
//   ... show preview->originalContents / proposedContents, wait for the user ...
//   Status written = writer.apply(*preview);   // fails with a WriteError
//
// The one edit of existing text it makes is commenting lines out
// (previewCommentingOut), which the ~/.zprofile sheet offers, reviewed like
// any other change, when a file read later by the shell would undo the Java
// block.
//
// What it never does:
//  - remove or replace a file it did not write. The backup goes to
//    "<name>.bak" when nothing is there; when anything is (the user's own
//    `cp ~/.zshrc ~/.zshrc.bak`, a folder, an earlier backup of ours), to a
//    free dated name "<name>.<app>-<UTC time>.bak" instead. Every backup is
//    created exclusively, so not even a backup of ours is ever overwritten.
//  - change a read-only start-up file (the user's "don't touch"), read or
//    write anything but a regular file (a named pipe would hang the read),
//    or read a start-up file over kMaximumFileSize.
//  - split a hard-linked file from its other names: the preview says so
//    (hardLinked) and the file is written in place.
//  - overwrite an edit made after the preview was built: apply compares the
//    file with the reviewed text, and the file system compares again on the
//    open file just before it is replaced (FileSystemOperating::replaceContents).
//
// Files kept as symbolic links (dotfile managers) stay links: the block is
// written to the file the link resolves to, created there when the link
// dangles. The file's permission bits are kept, and its backup gets the same.
//
// The Java configuration block, and the look at the files read after it, are
// ZprofileWriter's (ZprofileWriter.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/Result.h"

namespace lumo {

class FileAppendWriter {
public:
    // A start-up file larger than this is refused: it is not one a person keeps.
    static constexpr std::size_t kMaximumFileSize = 1024 * 1024;

    // What applying would do. Compared field by field.
    struct DiffPreview {
        std::string path;                       // the target file
        std::string backupPath;                 // beside path: ".bak", or a dated name when that is taken
        std::string originalContents;           // "" when the file does not exist
        std::string proposedContents;           // == originalContents when alreadySet
        std::vector<std::string> linesAdded;    // header comment first; empty when alreadySet
        std::vector<std::string> linesRemoved;  // lines the change comments out, as they were
        bool alreadySet = false;                // nothing to change; apply does nothing
        bool wasCreated = false;                // the file did not exist when the preview was built
        bool hardLinked = false;                // the file has other names: written in place for all of them
        std::string linkTarget;                 // the file a symbolic link at path leads to; "" for no link

        friend bool operator==(const DiffPreview&, const DiffPreview&) = default;
    };

    // Why apply failed. Carried to callers as a lumo::Error (asError()) in
    // kWriteErrorDomain whose code is the case and whose description is
    // description().
    struct WriteError {
        enum class Case { backupFailed = 1, writeFailed = 2 };
        Case kind = Case::writeFailed;
        Error underlying;

        static WriteError backupFailed(Error underlying) { return {Case::backupFailed, std::move(underlying)}; }
        static WriteError writeFailed(Error underlying) { return {Case::writeFailed, std::move(underlying)}; }

        // "Couldn't write backup file: ..." or "Couldn't write file: ...".
        std::string description() const;
        Error asError() const;
    };
    static constexpr const char* kWriteErrorDomain = "FileAppendWriter.WriteError";
    // Errors of the writer's own: the file changed since its review (the
    // underlying error of a WriteError), or a start-up file refused (the
    // error of a preview).
    static constexpr const char* kErrorDomain = "FileAppendWriter";
    static constexpr int kChangedSinceReviewCode = 1;
    static constexpr int kRefusedCode = 2;

    static bool isWriteError(const Error& error, WriteError::Case kind);
    // True when the review is stale: apply again only after a new preview.
    static bool isChangedSinceReview(const Error& error);
    // True for a preview refused because of what the file is (read-only, a
    // folder, a named pipe or device, too large); its description is a whole
    // sentence naming the file.
    static bool isRefusal(const Error& error);

    FileAppendWriter(std::string target, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& target() const { return m_target; }
    // `path` with the home directory written "~" ("~/.zprofile").
    std::string displayPath(const std::string& path) const;

    // "# 2025-06-01 <shellConfigMarker> — <label>", dated in the machine's
    // time zone, with the active product's marker.
    static std::string headerComment(const std::string& label,
                                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    // The dated backup name used when "<name>.bak" is taken:
    // "<name>.<app>-<yyyyMMdd'T'HHmmss'Z'>.bak", the app's name from the
    // active product's marker, lower case.
    static std::string datedBackupName(const std::string& fileName, std::chrono::system_clock::time_point now);

    // The text between the current contents and an appended block: nothing for
    // an empty file or one ending in a blank line, one line feed after a final
    // line feed, two otherwise.
    static std::string separator(const std::string& originalContents);

    // A preview appending `payload` under a header for `label`. An empty
    // payload gives an already-set preview. Fails with the read error when the
    // file exists but is not readable UTF-8, or with a refusal; writes nothing.
    Result<DiffPreview> previewAppending(const std::vector<std::string>& payload, const std::string& label) const;

    // A preview that is already set when `isAlreadySet(currentText)` says so.
    template <class Predicate>
    Result<DiffPreview> preview(const std::vector<std::string>& payload, const std::string& label,
                                Predicate isAlreadySet) const {
        auto current = readCurrent(m_target);
        if (!current) return current.error();
        // Asked before the text moves into the preview: the order in which a
        // call's arguments are evaluated is the compiler's choice.
        const bool alreadySet = isAlreadySet(current->text);
        return buildPreview(std::move(*current), payload, label, alreadySet);
    }

    // A preview turning the lines numbered `lineNumbers` (from 1, as an editor
    // counts lines split at line feeds) into comments, each under a header for
    // `label`. The line stays as a no-op command (": # <line>"), so a block it
    // sat in (if … fi) stays valid. Already set when there is no such line.
    Result<DiffPreview> previewCommentingOut(const std::vector<std::size_t>& lineNumbers,
                                             const std::string& label) const;

    // The file's text, read as a preview reads it (with the same refusals);
    // nothing when the file does not exist.
    Result<std::optional<std::string>> readText() const;

    // Backs up, then writes what `preview` describes. Does nothing when it is
    // already set. Fails (touching nothing) when the file changed since the
    // preview was built, and with a WriteError otherwise.
    Status apply(const DiffPreview& preview) const;

    // Appends `line` unless `presenceMarker` occurs anywhere in the file
    // (comments included), without a review step. Fails with the read error or
    // a WriteError; returns the preview that was applied.
    Result<DiffPreview> append(const std::string& line, const std::string& label,
                               const std::string& presenceMarker) const;

    // True when a non-comment line of the file contains one of `needles`.
    // False for a missing or unreadable file.
    bool containsAny(const std::vector<std::string>& needles) const;

private:
    struct Current {
        std::string text;
        bool exists = false;
        bool readOnly = false;
        bool hardLinked = false;
        std::optional<std::uint32_t> permissions;
        std::string linkTarget;
    };
    Result<Current> readCurrent(const std::string& path) const;
    Result<DiffPreview> buildPreview(Current current, const std::vector<std::string>& payload, const std::string& label,
                                     bool alreadySet) const;
    DiffPreview basePreview(const Current& current) const;
    Error refusal(const std::string& path, const std::string& why) const;
    std::string freeBackupPath(std::chrono::system_clock::time_point now) const;

    std::string m_target;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

// Lines of `text` split at every line break, trimmed of spaces and tabs, empty
// ones and those starting with "#" dropped.
std::vector<std::string> uncommentedLines(const std::string& text);

// The pieces of `text` between line feeds, numbered as an editor numbers
// lines (a final line feed leaves an empty last piece).
std::vector<std::string> splitAtLineFeeds(const std::string& text);

}  // namespace lumo
