#include "screens/ZprofileDiffModel.h"

namespace lumo {

ZprofileDiffModel::ZprofileDiffModel(Remediation remediation, std::shared_ptr<const FileSystemOperating> fs,
                                     TelemetrySink& telemetry, RemediationFinish onFinish)
    : RemediationSheetModel(telemetry, remediation.id(), std::move(onFinish)),
      m_remediation(std::move(remediation)),
      m_writer(std::move(fs)) {}

void ZprofileDiffModel::load() {
    auto preview = m_writer.preview();
    if (preview) {
        m_preview = std::move(*preview);
        m_loadError.reset();
    } else {
        m_loadError = preview.error().description;
    }
    changed();
}

std::string ZprofileDiffModel::loadErrorText() const {
    return m_loadError ? "Couldn't read ~/.zprofile: " + *m_loadError : std::string();
}

std::vector<ZprofileDiffModel::DiffLine> ZprofileDiffModel::diffLines() const {
    std::vector<DiffLine> result;
    if (!m_preview || m_preview->alreadySet) return result;
    if (!m_showFullFile) {
        for (const std::string& line : m_preview->linesAdded) result.push_back({"+ " + line, true});
        return result;
    }
    // The whole proposed file: the original's lines unchanged, then the block.
    const std::string& proposed = m_preview->proposedContents;
    const std::size_t originalEnd = m_preview->originalContents.size();
    std::size_t start = 0;
    while (start < proposed.size()) {
        std::size_t end = proposed.find('\n', start);
        if (end == std::string::npos) end = proposed.size();
        const bool added = start >= originalEnd;
        result.push_back({(added ? "+ " : "  ") + proposed.substr(start, end - start), added});
        start = end + 1;
    }
    return result;
}

void ZprofileDiffModel::toggleFullFile() {
    m_showFullFile = !m_showFullFile;
    changed();
}

void ZprofileDiffModel::apply() {
    if (!m_preview || m_preview->alreadySet || m_didApply || isFinished()) return;
    const Status written = m_writer.writer().apply(*m_preview);
    if (written) {
        m_didApply = true;
        m_applyError.reset();
        m_terminal.completed();
    } else {
        m_applyError = written.error().description;
        m_terminal.failed(1, *m_applyError);
    }
    changed();
}

void ZprofileDiffModel::cancel() {
    m_terminal.canceled();
    finish(RemediationOutcome::canceled());
}

void ZprofileDiffModel::continueToVerify() {
    if (m_preview && m_preview->alreadySet) {
        m_terminal.completed();
        finish(RemediationOutcome::success("JAVA_HOME already set in ~/.zprofile."));
    } else if (m_didApply) {
        finish(RemediationOutcome::success("JAVA_HOME set in ~/.zprofile."));
    }
}

void ZprofileDiffModel::closeAfterLoadError() {
    if (!m_loadError) return;
    // The sheet still reports its failure to telemetry once.
    m_terminal.failed(1, loadErrorText());
    finish(RemediationOutcome::failure(loadErrorText()));
}

}  // namespace lumo
