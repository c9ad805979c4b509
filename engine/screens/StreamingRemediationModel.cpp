#include "screens/StreamingRemediationModel.h"

#include "config/ProductConfig.h"
#include "diagnosis/Diagnosis.h"
#include "screens/DiagnoseViewModel.h"

namespace lumo {

namespace {
using Case = Remediation::Case;
constexpr std::size_t kReasonMaxCharacters = 160;
}  // namespace

bool showsZprofileDiff(const Remediation& remediation) {
    return remediation.kind() == Case::writeJavaHomeToZprofile || remediation.kind() == Case::keepCurrentLegacyJava;
}

bool isToolInstall(const Remediation& remediation) {
    return remediation.kind() == Case::installWarpViaBrew || remediation.kind() == Case::installHomebrewThenWarp ||
           remediation.kind() == Case::installHomebrew;
}

std::string telemetryReason(const std::string& reason) { return prefixCharacters(reason, kReasonMaxCharacters); }

void recordRemediationApplied(TelemetrySink& telemetry, const Remediation& remediation) {
    telemetry.emit("remediation_applied",
                   {{"remediation_id", remediation.id()}, {"method", remediation.telemetryMethod()}});
}

// --- TerminalEvent

bool TerminalEvent::claim() {
    if (m_sent) return false;
    m_sent = true;
    return true;
}

void TerminalEvent::completed() {
    if (claim()) m_telemetry.emit("remediation_completed", {{"remediation_id", m_id}, {"exit_code", 0}});
}

void TerminalEvent::failed(std::int64_t exitCode, const std::string& reason) {
    if (claim()) {
        m_telemetry.emit("remediation_failed",
                         {{"remediation_id", m_id}, {"exit_code", exitCode}, {"reason", telemetryReason(reason)}});
    }
}

void TerminalEvent::canceled() {
    if (claim()) m_telemetry.emit("remediation_canceled", {{"remediation_id", m_id}});
}

// --- RemediationSheetModel

void RemediationSheetModel::finish(const RemediationOutcome& outcome) {
    if (m_finished) return;
    m_finished = true;
    changed();
    if (m_onFinish) m_onFinish(outcome);
}

// --- StreamingRemediationModel

StreamingRemediationModel::StreamingRemediationModel(Remediation remediation, AppServices services,
                                                     TelemetrySink& telemetry, RemediationFinish onFinish,
                                                     Starter starter)
    : RemediationSheetModel(telemetry, remediation.id(), std::move(onFinish)),
      m_remediation(std::move(remediation)),
      m_services(std::move(services)),
      m_telemetry(telemetry),
      m_starter(std::move(starter)),
      m_subtitle(m_remediation.progressSubtitle()) {
    if (!m_starter) {
        const AppServices runServices = m_services;
        m_starter = [runServices](const Remediation& fix, const CancelToken& cancel) {
            return startRemediationRun(fix, runServices, cancel);
        };
    }
}

StreamingRemediationModel::~StreamingRemediationModel() { stopRun(); }

void StreamingRemediationModel::stopRun() {
    m_cancel.cancel();
    if (m_run) {
        m_run->events.cancel();
        if (m_run->worker.joinable()) m_run->worker.join();
        m_run.reset();
    }
}

void StreamingRemediationModel::setReadyHandler(std::function<void()> handler) {
    m_readyHandler = std::move(handler);
    if (m_run) m_run->events.setReadyHandler(m_readyHandler);
}

void StreamingRemediationModel::start() {
    if (m_run) return;
    m_run.emplace(m_starter(m_remediation, m_cancel.token()));
    if (m_readyHandler) m_run->events.setReadyHandler(m_readyHandler);
}

std::size_t StreamingRemediationModel::pump() {
    const std::size_t first = m_lines.size();
    if (!m_run || m_ended) return first;
    bool any = false;
    for (RemediationRunEvent& event : m_run->events.drain()) {
        any = true;
        if (auto* line = std::get_if<run_event::Line>(&event)) {
            if (isRetryLine(line->text)) m_lastRetryLine = line->text;
            m_lines.push_back(std::move(line->text));
        } else if (auto* subtitle = std::get_if<run_event::Subtitle>(&event)) {
            m_subtitle = std::move(subtitle->text);
        } else {
            ended(std::move(std::get<run_event::Ended>(event)));
        }
    }
    if (any) changed();
    return first;
}

bool StreamingRemediationModel::isRetryLine(const std::string& line) {
    // Homebrew's runner writes the retry in the middle of its line
    // ("Homebrew reports … Retrying with `brew reinstall --cask …"), so any
    // line that carries it is highlighted, not only one that starts with it.
    return line.find("Retrying with `brew reinstall") != std::string::npos;
}

StreamingRemediationModel::Phase StreamingRemediationModel::phase() const {
    if (m_ended) return Phase::ended;
    return m_canceledByUser ? Phase::canceling : Phase::running;
}

StreamingRemediationModel::Footer StreamingRemediationModel::footer() const {
    switch (phase()) {
        case Phase::running: return Footer::running;
        case Phase::canceling: return Footer::canceling;
        case Phase::ended: break;
    }
    if (m_canceledByUser) return Footer::canceling;
    if (m_exitCode != 0) return Footer::failure;
    return followUpPending() ? Footer::followUp : Footer::continueButton;
}

std::string StreamingRemediationModel::followUpIntro() const {
    if (!m_zshrcPreview) return {};
    return "One more thing: we need to append to `" + m_zshrcPreview->path + "` so JAVA_HOME gets set in fresh shells.";
}

std::string StreamingRemediationModel::followUpBackup() const {
    if (!m_zshrcPreview) return {};
    return "Backup: `" + m_zshrcPreview->backupPath + "`";
}

std::string StreamingRemediationModel::title() const {
    if (footer() == Footer::failure) return m_remediation.progressTitle() + " failed";
    return m_remediation.progressTitle();
}

std::string StreamingRemediationModel::failureStatus() const {
    if (footer() != Footer::failure) return {};
    std::string status;
    if (!m_exitCode) {
        status = "It ended without an exit code.";
    } else if (*m_exitCode == -1) {
        status = "It could not be started (exit code -1).";
    } else {
        status = "It stopped with exit code " + std::to_string(*m_exitCode) + ".";
    }
    // The runners end a failed step with the line that says why.
    for (auto line = m_lines.rbegin(); line != m_lines.rend(); ++line) {
        const std::string said = text::trimmed(*line);
        if (said.empty()) continue;
        status += " Last output: " + said;
        break;
    }
    return status;
}

std::string StreamingRemediationModel::continueTitle() const {
    return isToolInstall(m_remediation) ? "Continue" : "Continue to verify";
}

std::string StreamingRemediationModel::failureMessage() const {
    // A run that ended without any exit code counts as exit code 1, as its
    // telemetry does.
    const std::int32_t code = m_exitCode.value_or(1);
    return "Install failed (exit code " + std::to_string(code) + "). The article at [Brimwell](" +
           ProductConfig::current().urls.javaUnableToLocate + ") may help.";
}

void StreamingRemediationModel::ended(run_event::Ended ended) {
    m_ended = true;
    m_exitCode = ended.exitCode;
    if (m_canceledByUser) {
        m_terminal.canceled();
        finish(RemediationOutcome::canceled());
        return;
    }
    if (!m_exitCode) {
        m_terminal.failed(1, "process ended without exit code");
    } else if (*m_exitCode != 0) {
        m_terminal.failed(*m_exitCode, "exit code " + std::to_string(*m_exitCode));
    } else {
        m_terminal.completed();
        m_zshrcPreview = std::move(ended.zshrcPreview);
    }
}

void StreamingRemediationModel::cancel() {
    if (phase() != Phase::running) return;
    m_canceledByUser = true;
    // Recorded now: the child may go on printing for a while as it ends.
    m_terminal.canceled();
    m_cancel.cancel();
    changed();
}

void StreamingRemediationModel::applyZshrc() {
    if (!followUpPending() || m_zshrcApplying) return;
    m_zshrcApplying = true;
    changed();
    std::weak_ptr<StreamingRemediationModel*> lifetime = m_lifetime;
    auto work = [preview = *m_zshrcPreview, fs = m_services.fs, lifetime]() -> std::function<void()> {
        const Status written = FileAppendWriter(preview.path, fs).apply(preview);
        return [written, lifetime] {
            if (auto alive = lifetime.lock()) (*alive)->zshrcWritten(written);
        };
    };
    if (m_background) {
        m_background->run(std::move(work));
    } else {
        work()();
    }
}

void StreamingRemediationModel::zshrcWritten(const Status& written) {
    m_zshrcApplying = false;
    if (!written) {
        m_zshrcError = written.error().description;
    } else {
        m_zshrcError.reset();
        m_lines.push_back("Updated " + m_zshrcPreview->path + ". Backup at " + m_zshrcPreview->backupPath + ".");
        m_zshrcApplied = true;
    }
    changed();
}

void StreamingRemediationModel::skipZshrc() {
    if (!followUpPending() || m_zshrcApplying) return;
    m_lines.push_back(
        "Skipped ~/.zshrc edit. JAVA_HOME may stay unset in fresh shells until you add the line manually.");
    m_zshrcApplied = true;
    changed();
}

void StreamingRemediationModel::continueAfterSuccess() {
    if (footer() != Footer::continueButton) return;
    finish(RemediationOutcome::success(m_remediation.successMessage()));
}

void StreamingRemediationModel::closeAfterFailure() {
    if (footer() != Footer::failure) return;
    finish(RemediationOutcome::failure(failureMessage()));
}

void StreamingRemediationModel::retry() {
    if (!canRetry() || isFinished()) return;
    stopRun();  // the failed run has ended; its worker is finishing
    m_cancel = CancelSource();
    m_ended = false;
    m_exitCode.reset();
    m_zshrcPreview.reset();
    m_zshrcApplied = false;
    m_zshrcError.reset();
    m_lines.push_back("Trying again…");
    // Each attempt is reported like a fix started afresh.
    recordRemediationApplied(m_telemetry, m_remediation);
    m_terminal.rearm();
    changed();
    start();
}

void StreamingRemediationModel::escape() {
    switch (footer()) {
        case Footer::running: cancel(); break;
        case Footer::canceling: break;
        case Footer::continueButton: continueAfterSuccess(); break;
        case Footer::followUp: skipZshrc(); break;
        case Footer::failure: closeAfterFailure(); break;
    }
}
}  // namespace lumo
