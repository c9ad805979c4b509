#include "screens/ZprofileDiffModel.h"

#include <algorithm>

namespace lumo {

ZprofileDiffModel::ZprofileDiffModel(Remediation remediation, AppServices services, TelemetrySink& telemetry,
                                     RemediationFinish onFinish, BackgroundWork* background,
                                     std::optional<StartupFiles> files)
    : RemediationSheetModel(telemetry, remediation.id(), std::move(onFinish)),
      m_remediation(std::move(remediation)),
      m_writer(m_remediation.jdkPath(), services.processRunner, services.fs,
               files || m_remediation.startupDirectory().empty()
                   ? std::move(files)
                   : std::optional<StartupFiles>(StartupFiles::zsh(m_remediation.startupDirectory()))),
      m_background(background),
      m_lifetime(std::make_shared<ZprofileDiffModel*>(this)) {}

ZprofileDiffModel::~ZprofileDiffModel() = default;

std::string ZprofileDiffModel::display(const std::string& path) const { return m_writer.writer().displayPath(path); }

std::string ZprofileDiffModel::profileDisplay() const { return display(m_writer.writer().target()); }

std::string ZprofileDiffModel::title() const { return "Set `JAVA_HOME` in `" + profileDisplay() + "`"; }

std::string ZprofileDiffModel::explainer() const {
    if (m_preview && m_preview->profile.alreadySet && !m_preview->commentOuts.empty()) {
        return "Review the change before we write it. Each file is backed up before it changes.";
    }
    const std::string backup = m_preview ? display(m_preview->profile.backupPath) : profileDisplay() + ".bak";
    return "Review the change before we write it. Your current file is backed up to `" + backup + "`.";
}

void ZprofileDiffModel::run(std::function<std::function<void(ZprofileDiffModel&)>()> work) {
    std::weak_ptr<ZprofileDiffModel*> lifetime = m_lifetime;
    auto task = [work = std::move(work), lifetime]() -> std::function<void()> {
        auto then = work();
        return [then = std::move(then), lifetime] {
            auto alive = lifetime.lock();
            if (alive) then(**alive);  // nothing when the sheet is gone
        };
    };
    if (m_background) {
        m_background->run(std::move(task));
    } else {
        task()();
    }
}

void ZprofileDiffModel::load() {
    if (isBusy() || m_didApply || isFinished()) return;
    m_loading = true;
    changed();
    run([writer = m_writer]() -> std::function<void(ZprofileDiffModel&)> {
        auto built = writer.preview();
        return [built = std::move(built)](ZprofileDiffModel& model) {
            model.m_loading = false;
            if (built) {
                model.m_preview = *built;
                model.m_loadError.reset();
            } else {
                model.m_preview.reset();
                model.m_loadError = built.error();
            }
            model.changed();
        };
    });
}

std::string ZprofileDiffModel::busyText() const {
    if (m_loading) return "Reading " + profileDisplay() + "…";
    if (m_applying) return "Writing the change…";
    return {};
}

std::string ZprofileDiffModel::loadErrorText() const {
    if (!m_loadError) return {};
    if (FileAppendWriter::isRefusal(*m_loadError)) return m_loadError->description;
    return "Couldn't read " + profileDisplay() + ": " + m_loadError->description;
}

std::string ZprofileDiffModel::statusText() const {
    if (!m_preview) return {};
    const auto& profile = m_preview->profile;
    if (profile.alreadySet) {
        const std::string value = m_preview->existingValue.value_or(m_preview->choice.value());
        if (m_preview->commentOuts.empty()) {
            return "Your " + profileDisplay() + " already sets JAVA_HOME via `" + value + "` — no changes needed.";
        }
        return "Your " + profileDisplay() + " already sets JAVA_HOME via `" + value +
               "`, but a file read after it undoes that (below).";
    }
    if (profile.wasCreated && !profile.linkTarget.empty()) {
        return "Creating `" + display(profile.linkTarget) + "`, where the link `" + profileDisplay() +
               "` points (it didn't exist before).";
    }
    if (profile.wasCreated) return "Creating `" + profileDisplay() + "` (didn't exist before).";
    return {};
}

std::string ZprofileDiffModel::hardLinkText() const {
    if (!m_preview) return {};
    std::vector<std::string> names;
    if (!m_preview->profile.alreadySet && m_preview->profile.hardLinked) names.push_back(profileDisplay());
    if (m_commentOutLater) {
        for (const auto& change : m_preview->commentOuts)
            if (change.hardLinked) names.push_back(display(change.path));
    }
    if (names.empty()) return {};
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : " and ") + name;
    return text + (names.size() == 1 ? " has" : " have") +
           " other hard links: the change is written into the file itself, so every name of it sees the change.";
}

std::string ZprofileDiffModel::backupText() const {
    if (!m_preview) return {};
    std::vector<std::string> backups;
    if (!m_preview->profile.alreadySet) backups.push_back(display(m_preview->profile.backupPath));
    if (m_commentOutLater) {
        for (const auto& change : m_preview->commentOuts) backups.push_back(display(change.backupPath));
    }
    if (backups.empty()) return {};
    std::string text = backups.size() == 1 ? "Backup: " : "Backups: ";
    for (std::size_t i = 0; i < backups.size(); ++i) text += (i > 0 ? ", `" : "`") + backups[i] + "`";
    return text;
}

std::vector<std::string> ZprofileDiffModel::laterFileTexts() const {
    std::vector<std::string> texts;
    if (!m_preview) return texts;
    for (const auto& line : m_preview->laterLines) {
        std::string text = display(line.path) + ", line " + std::to_string(line.lineNumber) + ", ";
        if (line.effect == ZprofileWriter::LaterLine::Effect::setsJavaHome) {
            text += "sets JAVA_HOME again after " + profileDisplay() +
                    ", so a new Terminal window would not use this JDK: `";
        } else {
            text += "puts another java (" + display(line.java) + ") first on PATH after " + profileDisplay() + ": `";
        }
        text += line.text + "`";
        if (!line.canCommentOut) text += " It is part of a longer command, so it is left for you to change.";
        texts.push_back(std::move(text));
    }
    texts.insert(texts.end(), m_preview->notes.begin(), m_preview->notes.end());
    return texts;
}

std::string ZprofileDiffModel::commentOutTitle() const {
    if (!m_preview || m_preview->commentOuts.empty()) return {};
    std::size_t count = 0;
    for (const auto& change : m_preview->commentOuts) count += change.linesRemoved.size();
    return count == 1 ? "Also turn that line off (it stays in the file as a comment)"
                      : "Also turn those lines off (they stay in the files as comments)";
}

std::vector<std::size_t> ZprofileDiffModel::laterLineNumbers(const std::string& path) const {
    std::vector<std::size_t> numbers;
    if (!m_preview) return numbers;
    for (const auto& line : m_preview->laterLines)
        if (line.path == path && line.canCommentOut) numbers.push_back(line.lineNumber);
    return numbers;
}

std::vector<ZprofileDiffModel::DiffLine> ZprofileDiffModel::diffLines() const {
    std::vector<DiffLine> result;
    if (!m_preview || m_preview->nothingToDo()) return result;
    const auto& profile = m_preview->profile;
    const bool later = m_commentOutLater && !m_preview->commentOuts.empty();
    if (!profile.alreadySet) {
        if (later) result.push_back({profileDisplay(), false, false, true});
        if (!m_showFullFile) {
            for (const std::string& line : profile.linesAdded) result.push_back({"+ " + line, true});
        } else {
            // The whole proposed file: the original's lines unchanged, then the block.
            const std::string& proposed = profile.proposedContents;
            const std::size_t originalEnd = profile.originalContents.size();
            std::size_t start = 0;
            while (start < proposed.size()) {
                std::size_t end = proposed.find('\n', start);
                if (end == std::string::npos) end = proposed.size();
                const bool added = start >= originalEnd;
                result.push_back({(added ? "+ " : "  ") + proposed.substr(start, end - start), added});
                start = end + 1;
            }
        }
    }
    if (!later) return result;
    for (const auto& change : m_preview->commentOuts) {
        result.push_back(
            {display(change.path) + ", " + lineNumbersText(laterLineNumbers(change.path)), false, false, true});
        // Each line turned off gives a header and the line as a comment.
        for (std::size_t i = 0; i < change.linesRemoved.size(); ++i) {
            result.push_back({"- " + change.linesRemoved[i], false, true});
            for (std::size_t k = 2 * i; k < std::min(change.linesAdded.size(), 2 * i + 2); ++k) {
                result.push_back({"+ " + change.linesAdded[k], true});
            }
        }
    }
    return result;
}

bool ZprofileDiffModel::canApply() const {
    return m_preview && !m_preview->nothingToDo() && !m_didApply && !isBusy() && !isFinished() &&
           (!m_preview->profile.alreadySet || m_commentOutLater);
}

void ZprofileDiffModel::toggleFullFile() {
    m_showFullFile = !m_showFullFile;
    changed();
}

void ZprofileDiffModel::setCommentOutLater(bool on) {
    if (m_commentOutLater == on || m_didApply || isBusy()) return;
    m_commentOutLater = on;
    changed();
}

void ZprofileDiffModel::apply() {
    if (!canApply()) return;
    m_applying = true;
    m_applyError.reset();
    changed();
    const bool later = m_commentOutLater;
    run([writer = m_writer, preview = *m_preview, later]() -> std::function<void(ZprofileDiffModel&)> {
        auto result = writer.apply(preview, later);
        return [result = std::move(result), preview, later](ZprofileDiffModel& model) {
            model.applied(result, preview, later);
        };
    });
}

void ZprofileDiffModel::applied(const ZprofileWriter::Applied& result, const ZprofileWriter::Preview& preview,
                                bool laterIncluded) {
    m_applying = false;
    if (!result.profile) {
        m_applyError = result.profile.error().description;
        // A stale review is built again, so that Apply writes what is shown;
        // that is no failure of the sheet yet.
        if (FileAppendWriter::isChangedSinceReview(result.profile.error())) {
            changed();
            load();
            return;
        }
        m_terminal.failed(1, *m_applyError);
        changed();
        return;
    }
    m_didApply = true;
    m_confirmation.clear();
    if (!preview.profile.alreadySet) {
        m_confirmation.push_back("Updated " + profileDisplay() + "; backup at " + display(preview.profile.backupPath) +
                                 ".");
    }
    std::vector<std::string> problems;
    for (std::size_t i = 0; laterIncluded && i < result.later.size() && i < preview.commentOuts.size(); ++i) {
        const auto& change = preview.commentOuts[i];
        if (result.later[i]) {
            m_confirmation.push_back("Turned off " + lineNumbersText(laterLineNumbers(change.path)) + " of " +
                                     display(change.path) + "; backup at " + display(change.backupPath) + ".");
        } else {
            problems.push_back(display(change.path) + " was left as it is: " + result.later[i].error().description);
        }
    }
    if (!problems.empty()) {
        std::string text;
        for (const auto& problem : problems) text += (text.empty() ? "" : " ") + problem;
        m_applyError = text;
    }
    m_terminal.completed();
    changed();
}

void ZprofileDiffModel::cancel() {
    if (m_applying || m_didApply) return;
    m_terminal.canceled();
    finish(RemediationOutcome::canceled());
}

void ZprofileDiffModel::continueToVerify() {
    if (isBusy()) return;
    if (nothingToDo()) {
        m_terminal.completed();
        finish(RemediationOutcome::success("JAVA_HOME already set in " + profileDisplay() + "."));
    } else if (m_didApply) {
        finish(RemediationOutcome::success("JAVA_HOME set in " + profileDisplay() + "."));
    }
}

void ZprofileDiffModel::closeAfterLoadError() {
    if (!m_loadError || isBusy()) return;
    // The sheet still reports its failure to telemetry once.
    m_terminal.failed(1, loadErrorText());
    finish(RemediationOutcome::failure(loadErrorText()));
}

}  // namespace lumo
