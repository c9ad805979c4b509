// RemediationProgressView: the sheet in which one Remediation is carried out.
// A window-modal sheet of the presenting window (at least 560 × 420) showing
// the ~/.zprofile diff for the two fixes that write it, and the streamed run
// for every other one. It reports exactly one Outcome, then closes itself.
#pragma once

#include <QDialog>

#include "UIEnvironment.h"
#include "screens/StreamingRemediationModel.h"

namespace lumo::ui {

class StreamingRemediationView;
class ZprofileDiffSheet;

class RemediationProgressView : public QDialog {
    Q_OBJECT
public:
    using Outcome = RemediationOutcome;
    static constexpr int kMinimumWidth = 560;
    static constexpr int kMinimumHeight = 420;

    RemediationProgressView(const Remediation& remediation, const UIEnvironment& environment,
                            RemediationFinish onFinish, QWidget* window,
                            StreamingRemediationModel::Starter starter = {});

    // Presents the sheet over its window without blocking.
    void present();

    const Remediation& remediation() const { return remediation_; }
    StreamingRemediationView* streaming() const { return streaming_; }
    ZprofileDiffSheet* diff() const { return diff_; }

    // Escape presses the button that closes the sheet in its state: Cancel
    // while a fix runs, Close after a failure, Skip for a pending follow-up,
    // Continue after a success. The window's close control does nothing: the
    // sheet ends only through its own buttons.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Remediation remediation_;
    StreamingRemediationView* streaming_ = nullptr;
    ZprofileDiffSheet* diff_ = nullptr;
    bool finished_ = false;
};

}  // namespace lumo::ui
