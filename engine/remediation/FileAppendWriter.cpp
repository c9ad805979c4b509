#include "remediation/FileAppendWriter.h"

#include <ctime>
#include <optional>

#include "config/ProductConfig.h"
#include "platform/UTF8.h"

namespace lumo {

namespace {

std::string trimSpacesAndTabs(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string join(const std::vector<std::string>& lines, const std::string& separator) {
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += separator;
        joined += lines[i];
    }
    return joined;
}

Error changedSinceReview(const std::string& path) {
    return Error{
        FileAppendWriter::kChangedSinceReviewDomain, FileAppendWriter::kChangedSinceReviewCode,
        lastPathComponent(path) + " changed since it was reviewed, so it was left as it is. Review the change again."};
}

// True when a file, a directory or a link (even a dangling one) is at `path`.
bool somethingExists(const FileSystemOperating& fs, const std::string& path) {
    if (fs.fileExists(path)) return true;
    const auto attributes = fs.attributesOfItem(path);
    return attributes.ok() && attributes->isSymbolicLink;
}

}  // namespace

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
    return isWriteError(error, WriteError::Case::writeFailed) &&
           error.description.find(" changed since it was reviewed") != std::string::npos;
}

FileAppendWriter::FileAppendWriter(std::string target, std::shared_ptr<const FileSystemOperating> fs)
    : m_target(std::move(target)), m_fs(std::move(fs)) {}

std::string FileAppendWriter::headerComment(const std::string& label, std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[16] = {};
    std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return "# " + std::string(date) + " " + ProductConfig::current().shellConfigMarker + " \u2014 " + label;
}

std::string FileAppendWriter::separator(const std::string& originalContents) {
    if (originalContents.empty() || endsWith(originalContents, "\n\n")) return "";
    if (endsWith(originalContents, "\n")) return "\n";
    return "\n\n";
}

Result<FileAppendWriter::Current> FileAppendWriter::readCurrent() const {
    if (!m_fs->fileExists(m_target)) return Current{};
    auto text = m_fs->readString(m_target);
    if (!text) return text.error();
    return Current{std::move(*text), true};
}

FileAppendWriter::DiffPreview FileAppendWriter::buildPreview(Current current, const std::vector<std::string>& payload,
                                                             const std::string& label, bool alreadySet) const {
    DiffPreview preview;
    preview.path = m_target;
    preview.backupPath = joinPath(parentDirectory(m_target), lastPathComponent(m_target) + ".bak");
    preview.wasCreated = !current.exists;
    preview.alreadySet = alreadySet || payload.empty();
    preview.originalContents = std::move(current.text);
    if (preview.alreadySet) {
        preview.proposedContents = preview.originalContents;
        return preview;
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

Status FileAppendWriter::apply(const DiffPreview& preview) const {
    if (preview.alreadySet) return Status::success();
    const auto fail = [](WriteError error) { return Status(error.asError()); };
    const std::string& path = preview.path;

    // The user approved a diff against the text they saw; if the file no
    // longer holds that text, writing the proposal would drop their edit.
    const bool existsNow = m_fs->fileExists(path);
    if (existsNow == preview.wasCreated) return fail(WriteError::writeFailed(changedSinceReview(path)));
    if (existsNow) {
        const auto text = m_fs->readString(path);
        if (!text || *text != preview.originalContents) {
            return fail(WriteError::writeFailed(changedSinceReview(path)));
        }
    }

    // A dotfile manager's link stays a link: the new text goes to the file it
    // points at (an atomic rename over the link would replace it with a copy).
    std::string destination = path;
    const auto linkAttributes = m_fs->attributesOfItem(path);
    if (linkAttributes.ok() && linkAttributes->isSymbolicLink) {
        auto resolved = m_fs->resolvingSymlinks(path);
        if (!resolved) return fail(WriteError::writeFailed(resolved.error()));
        destination = std::move(*resolved);
    }
    std::optional<std::uint32_t> permissions;
    if (existsNow) {
        const auto attributes = m_fs->attributesOfItem(destination);
        if (attributes.ok() && attributes->posixPermissions) permissions = *attributes->posixPermissions & 07777;
    }

    if (somethingExists(*m_fs, preview.backupPath)) {
        if (auto removed = m_fs->removeItem(preview.backupPath); !removed) {
            return fail(WriteError::backupFailed(removed.error()));
        }
    }
    // The backup holds the same text as the file, so it gets the same
    // privacy: an empty backup is given the file's permission bits before the
    // text goes in (an atomic write keeps the bits of the file it replaces).
    if (permissions && !preview.originalContents.empty()) {
        if (auto created = m_fs->write("", preview.backupPath, true); !created) {
            return fail(WriteError::backupFailed(created.error()));
        }
        if (auto kept = m_fs->setPosixPermissions(*permissions, preview.backupPath); !kept) {
            return fail(WriteError::backupFailed(kept.error()));
        }
    }
    if (auto backedUp = m_fs->write(preview.originalContents, preview.backupPath, true); !backedUp) {
        return fail(WriteError::backupFailed(backedUp.error()));
    }
    if (permissions) {
        if (auto kept = m_fs->setPosixPermissions(*permissions, preview.backupPath); !kept) {
            return fail(WriteError::backupFailed(kept.error()));
        }
    }

    if (auto written = m_fs->write(preview.proposedContents, destination, true); !written) {
        return fail(WriteError::writeFailed(written.error()));
    }
    if (permissions) {
        if (auto kept = m_fs->setPosixPermissions(*permissions, destination); !kept) {
            return fail(WriteError::writeFailed(kept.error()));
        }
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
    if (!m_fs->fileExists(m_target)) return false;
    const auto text = m_fs->readString(m_target);
    if (!text) return false;
    for (const auto& line : uncommentedLines(*text)) {
        for (const auto& needle : needles) {
            if (line.find(needle) != std::string::npos) return true;
        }
    }
    return false;
}

std::vector<std::string> uncommentedLines(const std::string& text) {
    std::vector<std::string> kept;
    for (const std::string_view line : splitLines(text)) {
        auto trimmed = trimSpacesAndTabs(std::string(line));
        if (trimmed.empty() || trimmed.front() == '#') continue;
        kept.push_back(std::move(trimmed));
    }
    return kept;
}

const std::vector<std::string>& ZprofileWriter::payload() {
    static const std::vector<std::string> lines{
        "export JAVA_HOME=$(/usr/libexec/java_home)",
        "export PATH=\"$JAVA_HOME/bin:$PATH\"",
    };
    return lines;
}

ZprofileWriter::ZprofileWriter(std::shared_ptr<const FileSystemOperating> fs)
    : m_writer(joinPath(fs->homeDirectory(), ".zprofile"), fs) {}

Result<FileAppendWriter::DiffPreview> ZprofileWriter::preview() const {
    return m_writer.preview(payload(), kLabel, [](const std::string& text) {
        for (const auto& line : uncommentedLines(text)) {
            if (line.rfind("export JAVA_HOME=", 0) == 0) return true;
        }
        return false;
    });
}

}  // namespace lumo
