// The remediation sheet's models: what one sheet reports to its presenter,
// and the streamed run with its log, Cancel, the ~/.zshrc follow-up and the
// footer. The reviewed ~/.zprofile diff is in ZprofileDiffModel.h.
//
// The models live on the main thread. The streamed run's events arrive on a
// worker; the view learns of them through setReadyHandler (called on that
// worker) and calls pump() back on the main thread, which appends every
// buffered line at once.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "platform/AppServices.h"
#include "platform/CancelToken.h"
#include "remediation/FileAppendWriter.h"
#include "screens/RemediationRun.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class BackgroundWork;

// What a remediation sheet reports, exactly once.
struct RemediationOutcome {
    enum class Kind { success, failure, canceled };
    Kind kind = Kind::canceled;
    std::string message;  // empty for canceled

    static RemediationOutcome success(std::string message) { return {Kind::success, std::move(message)}; }
    static RemediationOutcome failure(std::string message) { return {Kind::failure, std::move(message)}; }
    static RemediationOutcome canceled() { return {Kind::canceled, {}}; }
    friend bool operator==(const RemediationOutcome&, const RemediationOutcome&) = default;
};
using RemediationFinish = std::function<void(const RemediationOutcome&)>;

// Whether the sheet shows the reviewed ~/.zprofile diff rather than a stream.
bool showsZprofileDiff(const Remediation& remediation);
// Homebrew and Warp: their success ends the flow rather than verifying Java.
bool isToolInstall(const Remediation& remediation);

// `reason` as telemetry carries it: its first 160 characters.
std::string telemetryReason(const std::string& reason);

// Records "remediation_applied": the sheet for `remediation` opens.
void recordRemediationApplied(TelemetrySink& telemetry, const Remediation& remediation);

// Records the sheet's one terminal event.
class TerminalEvent {
public:
    TerminalEvent(TelemetrySink& telemetry, std::string remediationID)
        : m_telemetry(telemetry), m_id(std::move(remediationID)) {}
    bool wasSent() const { return m_sent; }
    void completed();
    void failed(std::int64_t exitCode, const std::string& reason);
    void canceled();
    // A new attempt of the same fix (Try again) reports its own end.
    void rearm() { m_sent = false; }

private:
    bool claim();
    TelemetrySink& m_telemetry;
    std::string m_id;
    bool m_sent = false;  // didEmitTerminalEvent
};

// What both sheets share: the terminal event, and the outcome handed to the
// presenter exactly once.
class RemediationSheetModel : public ScreenModel {
public:
    bool didEmitTerminalEvent() const { return m_terminal.wasSent(); }
    bool isFinished() const { return m_finished; }

protected:
    RemediationSheetModel(TelemetrySink& telemetry, std::string remediationID, RemediationFinish onFinish)
        : m_terminal(telemetry, std::move(remediationID)), m_onFinish(std::move(onFinish)) {}

    // Only the first call reaches the presenter.
    void finish(const RemediationOutcome& outcome);

    TerminalEvent m_terminal;

private:
    RemediationFinish m_onFinish;
    bool m_finished = false;
};

class StreamingRemediationModel : public RemediationSheetModel {
public:
    enum class Phase { running, canceling, ended };
    enum class Footer { running, canceling, continueButton, followUp, failure };

    // Starts a run; tests and the benchmark hand in their own.
    using Starter = std::function<RemediationRun(const Remediation&, const CancelToken&)>;

    StreamingRemediationModel(Remediation remediation, AppServices services, TelemetrySink& telemetry,
                              RemediationFinish onFinish, Starter starter = {});
    ~StreamingRemediationModel() override;
    StreamingRemediationModel(const StreamingRemediationModel&) = delete;
    StreamingRemediationModel& operator=(const StreamingRemediationModel&) = delete;

    const Remediation& remediation() const { return m_remediation; }

    // Runs on the worker thread whenever events are waiting; set it before start().
    void setReadyHandler(std::function<void()> handler);
    // Starts the run once (the view's appearance).
    void start();
    // Main thread: takes every buffered event. Returns the index of the first
    // new line (== lines().size() when none arrived).
    std::size_t pump();

    const std::vector<std::string>& lines() const { return m_lines; }
    // The fix's progress subtitle, until the run tells more (the SDKMAN
    // identifier it found); may be empty.
    const std::string& subtitle() const { return m_subtitle; }
    // Lines that tell of Homebrew's reinstall retry are highlighted.
    static bool isRetryLine(const std::string& line);

    Phase phase() const;
    Footer footer() const;
    const std::optional<std::int32_t>& exitCode() const { return m_exitCode; }
    bool canceledByUser() const { return m_canceledByUser; }

    // Writes the ~/.zshrc follow-up on a worker (as the ~/.zprofile sheet
    // writes its change); without one (tests) the write runs at once.
    void setBackground(BackgroundWork* background) { m_background = background; }
    // The follow-up is being written: Apply and Skip wait.
    bool zshrcApplying() const { return m_zshrcApplying; }

    // The follow-up card while it is pending.
    const std::optional<FileAppendWriter::DiffPreview>& zshrcPreview() const { return m_zshrcPreview; }
    bool zshrcApplied() const { return m_zshrcApplied; }
    const std::optional<std::string>& zshrcError() const { return m_zshrcError; }
    bool followUpPending() const { return m_zshrcPreview && !m_zshrcApplied; }
    std::string followUpIntro() const;
    std::string followUpBackup() const;

    // The sheet's title: the remediation's progress title, and once the run
    // failed, what failed ("Installing Homebrew failed").
    std::string title() const;
    // After a failure, how it ended: the exit code (or that there was none)
    // and the last line of output, the error the runner reported.
    std::string failureStatus() const;
    // "Continue to verify", or "Continue" for the Homebrew and Warp installs.
    std::string continueTitle() const;
    // The failure message handed to the presenter by "Close".
    std::string failureMessage() const;
    // The latest line that tells of Homebrew's reinstall retry, if any.
    const std::optional<std::string>& lastRetryLine() const { return m_lastRetryLine; }
    // A failed run can be started again in the same sheet ("Try again").
    bool canRetry() const { return footer() == Footer::failure; }

    // Actions.
    void cancel();
    void applyZshrc();
    void skipZshrc();
    void continueAfterSuccess();
    void closeAfterFailure();
    // Runs the fix again after a failure; the log keeps the earlier output.
    void retry();
    // Escape: what closing the sheet means in its state -- Cancel while it
    // runs, Close after a failure, Skip for a pending follow-up, Continue
    // after a success.
    void escape();

private:
    void ended(run_event::Ended ended);
    void zshrcWritten(const Status& written);
    void stopRun();

    Remediation m_remediation;
    AppServices m_services;
    TelemetrySink& m_telemetry;
    Starter m_starter;
    CancelSource m_cancel;
    std::function<void()> m_readyHandler;
    std::optional<RemediationRun> m_run;

    std::vector<std::string> m_lines;
    std::string m_subtitle;
    std::optional<std::string> m_lastRetryLine;
    std::optional<std::int32_t> m_exitCode;
    bool m_ended = false;
    bool m_canceledByUser = false;
    std::optional<FileAppendWriter::DiffPreview> m_zshrcPreview;
    bool m_zshrcApplied = false;
    std::optional<std::string> m_zshrcError;
    bool m_zshrcApplying = false;
    BackgroundWork* m_background = nullptr;
    // Lets a write that ends after the sheet is gone find nothing to report to.
    std::shared_ptr<StreamingRemediationModel*> m_lifetime = std::make_shared<StreamingRemediationModel*>(this);
};

}  // namespace lumo
