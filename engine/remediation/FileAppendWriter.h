// FileAppendWriter: the one way the app changes a user's shell start-up files.
//
// It never edits or removes existing text. It appends a dated, labelled block
// to the end of one file, after backing the file up beside it, in two steps so
// that the user can review the change first:
//
//   FileAppendWriter writer(joinPath(fs->homeDirectory(), ".zshrc"), fs);
//   Result<FileAppendWriter::DiffPreview> preview = writer.previewAppending(lines, "jEnv init");
//   ... show preview->originalContents / proposedContents, wait for the user ...
//   Status written = writer.apply(*preview);   // fails with a WriteError
//
// Files kept as symbolic links (dotfile managers) stay links: the block is
// written to the file the link resolves to. The file's permission bits are
// kept, and a file edited after its preview was built is not overwritten.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/Result.h"

namespace lumo {

class FileAppendWriter {
public:
    // What applying would do. Compared field by field.
    struct DiffPreview {
        std::string path;                     // the target file
        std::string backupPath;               // beside path: its file name + ".bak"
        std::string originalContents;         // "" when the file does not exist
        std::string proposedContents;         // == originalContents when alreadySet
        std::vector<std::string> linesAdded;  // header comment first; empty when alreadySet
        bool alreadySet = false;              // nothing to add; apply does nothing
        bool wasCreated = false;              // the file did not exist when the preview was built

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
    // The underlying error of a writeFailed raised because the file on disk no
    // longer holds what its preview was built from.
    static constexpr const char* kChangedSinceReviewDomain = "FileAppendWriter";
    static constexpr int kChangedSinceReviewCode = 1;

    static bool isWriteError(const Error& error, WriteError::Case kind);
    static bool isChangedSinceReview(const Error& error);

    FileAppendWriter(std::string target, std::shared_ptr<const FileSystemOperating> fs);

    const std::string& target() const { return m_target; }

    // "# 2025-06-01 <shellConfigMarker> — <label>", dated in the machine's
    // time zone, with the active product's marker.
    static std::string headerComment(const std::string& label,
                                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

    // The text between the current contents and an appended block: nothing for
    // an empty file or one ending in a blank line, one line feed after a final
    // line feed, two otherwise.
    static std::string separator(const std::string& originalContents);

    // A preview appending `payload` under a header for `label`. An empty
    // payload gives an already-set preview. Fails with the read error when the
    // file exists but is not readable UTF-8; writes nothing.
    Result<DiffPreview> previewAppending(const std::vector<std::string>& payload, const std::string& label) const;

    // A preview that is already set when `isAlreadySet(currentText)` says so.
    template <class Predicate>
    Result<DiffPreview> preview(const std::vector<std::string>& payload, const std::string& label,
                                Predicate isAlreadySet) const {
        auto current = readCurrent();
        if (!current) return current.error();
        // Asked before the text moves into the preview: the order in which a
        // call's arguments are evaluated is the compiler's choice.
        const bool alreadySet = isAlreadySet(current->text);
        return buildPreview(std::move(*current), payload, label, alreadySet);
    }

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
    };
    Result<Current> readCurrent() const;
    DiffPreview buildPreview(Current current, const std::vector<std::string>& payload, const std::string& label,
                             bool alreadySet) const;

    std::string m_target;
    std::shared_ptr<const FileSystemOperating> m_fs;
};

// Lines of `text` split at every line break, trimmed of spaces and tabs, empty
// ones and those starting with "#" dropped.
std::vector<std::string> uncommentedLines(const std::string& text);

// The Java configuration block for ~/.zprofile.
class ZprofileWriter {
public:
    static constexpr const char* kLabel = "Java configuration";
    static const std::vector<std::string>& payload();  // the two export lines

    explicit ZprofileWriter(std::shared_ptr<const FileSystemOperating> fs);

    const FileAppendWriter& writer() const { return m_writer; }

    // Already set when any non-comment line starts with "export JAVA_HOME=",
    // whatever its value. Fails with the read error; writes nothing.
    Result<FileAppendWriter::DiffPreview> preview() const;

private:
    FileAppendWriter m_writer;
};

}  // namespace lumo
