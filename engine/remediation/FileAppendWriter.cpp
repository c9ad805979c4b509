#include "remediation/FileAppendWriter.h"

#include <cctype>
#include <cerrno>
#include <ctime>
#include <optional>
#include <set>

#include "config/ProductConfig.h"
#include "platform/UTF8.h"

namespace lumo {

namespace {

constexpr const char* kReviewAgain = "Review the change again.";

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::string join(const std::vector<std::string>& lines, const std::string& separator) {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += separator;
        joined += lines[i];
    }
    return joined;
}

bool isNotFound(const Error& error) {
    return error.domain == kPosixErrorDomain && (error.code == ENOENT || error.code == ENOTDIR);
}

// True when a file, a directory or a link (even a dangling one) is at `path`.
bool somethingExists(const FileSystemOperating& fs, const std::string& path) {
    return fs.fileExists(path) || fs.attributesOfItem(path).ok();
}

}  // namespace

// --- FileAppendWriter

std::string FileAppendWriter::WriteError::description() const {
    switch (kind) {
        case Case::backupFailed: return "Couldn't write backup file: " + underlying.description;
        case Case::writeFailed: return "Couldn't write file: " + underlying.description;
    }
    return underlying.description;
}

Error FileAppendWriter::WriteError::asError() const {
    return Error{kWriteErrorDomain, static_cast<int>(kind), description()};
}

bool FileAppendWriter::isWriteError(const Error& error, WriteError::Case kind) {
    return error.domain == kWriteErrorDomain && error.code == static_cast<int>(kind);
}

bool FileAppendWriter::isChangedSinceReview(const Error& error) {
    return error.domain == kWriteErrorDomain && endsWith(error.description, kReviewAgain);
}

bool FileAppendWriter::isRefusal(const Error& error) {
    return error.domain == kErrorDomain && error.code == kRefusedCode;
}

FileAppendWriter::FileAppendWriter(std::string target, std::shared_ptr<const FileSystemOperating> fs)
    : m_target(std::move(target)), m_fs(std::move(fs)) {}

std::string FileAppendWriter::displayPath(const std::string& path) const {
    const std::string home = m_fs->homeDirectory();
    if (home.size() > 1 && path.size() > home.size() && startsWith(path, home) && path[home.size()] == '/') {
        return "~" + path.substr(home.size());
    }
    return path;
}

std::string FileAppendWriter::headerComment(const std::string& label, std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[16] = {};
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return "# " + std::string(date) + " " + ProductConfig::current().shellConfigMarker + " \u2014 " + label;
}

std::string FileAppendWriter::datedBackupName(const std::string& fileName, std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    std::string app;
    for (const char c : ProductConfig::current().shellConfigMarker) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte)) app += static_cast<char>(std::tolower(byte));
    }
    if (app.empty()) app = "backup";
    return fileName + "." + app + "-" + stamp + ".bak";
}

std::string FileAppendWriter::separator(const std::string& originalContents) {
    if (originalContents.empty() || endsWith(originalContents, "\n\n")) return "";
    if (endsWith(originalContents, "\n")) return "\n";
    return "\n\n";
}

Error FileAppendWriter::refusal(const std::string& path, const std::string& why) const {
    return Error{kErrorDomain, kRefusedCode, displayPath(path) + " " + why + ", so it was left as it is."};
}

Result<FileAppendWriter::Current> FileAppendWriter::readCurrent(const std::string& path) const {
    Current current;
    auto attributes = m_fs->attributesOfItem(path);
    if (!attributes) {
        if (isNotFound(attributes.error()) && !m_fs->fileExists(path)) return current;
        return attributes.error();
    }
    std::string file = path;
    if (attributes->isSymbolicLink) {
        auto resolved = m_fs->resolvingSymlinks(path);
        if (!resolved) return resolved.error();
        current.linkTarget = *resolved;
        file = *resolved;
        attributes = m_fs->attributesOfItem(file);
        if (!attributes) {
            if (isNotFound(attributes.error())) return current;  // a link to a file still to be created
            return attributes.error();
        }
    }
    if (attributes->isDirectory) return refusal(path, "is a folder");
    if (attributes->isSpecialFile) {
        return refusal(path, "is not a regular file (it is a named pipe, a device or a socket)");
    }
    if (attributes->size && *attributes->size > kMaximumFileSize) {
        return refusal(path, "is larger than 1 MB, far more than a start-up file holds");
    }
    current.permissions = attributes->posixPermissions;
    if (current.permissions) current.permissions = *current.permissions & 07777;
    current.readOnly = current.permissions && (*current.permissions & 0200) == 0;
    current.hardLinked = attributes->linkCount > 1;
    auto text = m_fs->readString(file);
    if (!text) return text.error();
    current.text = std::move(*text);
    current.exists = true;
    return current;
}

Result<std::optional<std::string>> FileAppendWriter::readText() const {
    auto current = readCurrent(m_target);
    if (!current) return current.error();
    if (!current->exists) return std::optional<std::string>();
    return std::optional<std::string>(std::move(current->text));
}

std::string FileAppendWriter::freeBackupPath(std::chrono::system_clock::time_point now) const {
    const std::string directory = parentDirectory(m_target);
    const std::string name = lastPathComponent(m_target);
    const std::string plain = joinPath(directory, name + ".bak");
    if (!somethingExists(*m_fs, plain)) return plain;
    const std::string dated = datedBackupName(name, now);
    std::string candidate = joinPath(directory, dated);
    const std::string stem = dated.substr(0, dated.size() - std::string_view(".bak").size());
    for (int suffix = 2; somethingExists(*m_fs, candidate) && suffix < 1000; ++suffix) {
        candidate = joinPath(directory, stem + "-" + std::to_string(suffix) + ".bak");
    }
    return candidate;
}

FileAppendWriter::DiffPreview FileAppendWriter::basePreview(const Current& current) const {
    DiffPreview preview;
    preview.path = m_target;
    preview.backupPath = freeBackupPath(std::chrono::system_clock::now());
    preview.wasCreated = !current.exists;
    preview.hardLinked = current.hardLinked;
    preview.linkTarget = current.linkTarget;
    preview.originalContents = current.text;
    preview.proposedContents = current.text;
    return preview;
}

Result<FileAppendWriter::DiffPreview> FileAppendWriter::buildPreview(Current current,
                                                                     const std::vector<std::string>& payload,
                                                                     const std::string& label, bool alreadySet) const {
    DiffPreview preview = basePreview(current);
    preview.alreadySet = alreadySet || payload.empty();
    if (preview.alreadySet) return preview;
    if (current.readOnly) {
        return refusal(m_target, "is read-only");
    }
    preview.linesAdded.push_back(headerComment(label));
    preview.linesAdded.insert(preview.linesAdded.end(), payload.begin(), payload.end());
    preview.proposedContents =
        preview.originalContents + separator(preview.originalContents) + join(preview.linesAdded, "\n") + "\n";
    return preview;
}

Result<FileAppendWriter::DiffPreview> FileAppendWriter::previewAppending(const std::vector<std::string>& payload,
                                                                         const std::string& label) const {
    return preview(payload, label, [](const std::string&) { return false; });
}

Result<FileAppendWriter::DiffPreview> FileAppendWriter::previewCommentingOut(
    const std::vector<std::size_t>& lineNumbers, const std::string& label) const {
    auto current = readCurrent(m_target);
    if (!current) return current.error();
    DiffPreview preview = basePreview(*current);
    std::vector<std::string> lines = splitAtLineFeeds(current->text);
    const std::set<std::size_t> chosen(lineNumbers.begin(), lineNumbers.end());
    const std::string header = headerComment(label);
    for (const std::size_t number : chosen) {
        if (number == 0 || number > lines.size()) continue;
        std::string& line = lines[number - 1];
        const bool crlf = !line.empty() && line.back() == '\r';
        const std::string body = crlf ? line.substr(0, line.size() - 1) : line;
        const std::string indent = body.substr(0, body.find_first_not_of(" \t"));
        const std::string command = body.substr(indent.size());
        if (command.empty()) continue;
        const std::string end = crlf ? "\r" : "";
        preview.linesRemoved.push_back(body);
        preview.linesAdded.push_back(indent + header);
        preview.linesAdded.push_back(indent + ": # " + command);
        line = indent + header + end + "\n" + indent + ": # " + command + end;
    }
    if (preview.linesRemoved.empty()) {
        preview.alreadySet = true;
        return preview;
    }
    if (current->readOnly) return refusal(m_target, "is read-only");
    preview.proposedContents = join(lines, "\n");
    return preview;
}

Status FileAppendWriter::apply(const DiffPreview& preview) const {
    if (preview.alreadySet) return Status::success();
    const auto fail = [](WriteError error) { return Status(error.asError()); };
    const std::string& path = preview.path;
    const auto changed = [&] {
        return WriteError::writeFailed(Error{kErrorDomain, kChangedSinceReviewCode,
                                             displayPath(path) +
                                                 " changed since it was reviewed, so it was left as "
                                                 "it is. " +
                                                 kReviewAgain});
    };

    // The user approved a diff against the text they saw; if the file no
    // longer holds that text, writing the proposal would drop their edit. A
    // first look here keeps a stale review from leaving a backup behind; the
    // file system looks again just before the file is replaced.
    auto current = readCurrent(path);
    if (!current) {
        if (isRefusal(current.error())) return fail(WriteError::writeFailed(current.error()));
        return fail(changed());
    }
    if (current->exists == preview.wasCreated || current->text != preview.originalContents ||
        current->hardLinked != preview.hardLinked) {
        return fail(changed());
    }
    if (current->readOnly) return fail(WriteError::writeFailed(refusal(path, "is read-only")));

    // The backup is a new file under a name nothing held at the review, never
    // one that replaces anything; it gets the file's permission bits, as it
    // holds the same text.
    if (auto backedUp = m_fs->createFile(preview.originalContents, preview.backupPath,
                                         current->exists ? current->permissions : std::nullopt);
        !backedUp) {
        if (backedUp.error().domain == kPosixErrorDomain && backedUp.error().code == EEXIST) {
            return fail(WriteError::backupFailed(
                Error{kErrorDomain, kChangedSinceReviewCode,
                      displayPath(preview.backupPath) +
                          " appeared since the change was reviewed, so nothing was written. " + kReviewAgain}));
        }
        return fail(WriteError::backupFailed(backedUp.error()));
    }

    const std::optional<std::string> expected =
        preview.wasCreated ? std::nullopt : std::optional<std::string>(preview.originalContents);
    const ReplaceMode mode = preview.hardLinked ? ReplaceMode::inPlace : ReplaceMode::atomically;
    if (auto written = m_fs->replaceContents(path, expected, preview.proposedContents, mode); !written) {
        const Error& error = written.error();
        if (isFileRefusal(error, file_refusal::kChanged) || isFileRefusal(error, file_refusal::kHardLinked)) {
            return fail(changed());
        }
        if (isFileRefusal(error, file_refusal::kReadOnly)) {
            return fail(WriteError::writeFailed(refusal(path, "is read-only")));
        }
        if (isFileRefusal(error, file_refusal::kNotRegular)) {
            return fail(WriteError::writeFailed(refusal(path, "is not a regular file")));
        }
        return fail(WriteError::writeFailed(error));
    }
    return Status::success();
}

Result<FileAppendWriter::DiffPreview> FileAppendWriter::append(const std::string& line, const std::string& label,
                                                               const std::string& presenceMarker) const {
    auto built =
        preview({line}, label, [&](const std::string& text) { return text.find(presenceMarker) != std::string::npos; });
    if (!built) return built.error();
    if (auto applied = apply(*built); !applied) return applied.error();
    return built;
}

bool FileAppendWriter::containsAny(const std::vector<std::string>& needles) const {
    const auto text = readText();
    if (!text || !*text) return false;
    for (const auto& line : uncommentedLines(**text)) {
        for (const auto& needle : needles) {
            if (line.find(needle) != std::string::npos) return true;
        }
    }
    return false;
}

std::vector<std::string> splitAtLineFeeds(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            result.push_back(text.substr(start));
            return result;
        }
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::vector<std::string> uncommentedLines(const std::string& text) {
    std::vector<std::string> kept;
    for (const std::string_view line : splitLines(text)) {
        const std::string_view command = trimmed(line, " \t");
        if (command.empty() || command.front() == '#') continue;
        kept.emplace_back(command);
    }
    return kept;
}

}  // namespace lumo
