// How the audit's stage pages present the remediation sheet for a Homebrew or
// Warp install, and the base the two stage pages share: open the sheet while
// the page model asks for one, hand its outcome back.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "UIEnvironment.h"
#include "screens/AuditStagePages.h"
#include "screens/StreamingRemediationModel.h"

namespace lumo::ui {

// Presents the remediation sheet for `remediation` as a window-modal dialog
// over `host` and returns it; `onFinish` runs exactly once.
using RemediationSheetPresenter = std::function<QDialog*(QWidget* host, const Remediation& remediation,
                                                         const UIEnvironment& environment, RemediationFinish onFinish)>;

// The remediation progress sheet, window-modal over the host's window.
QDialog* presentRemediationSheet(QWidget* host, const Remediation& remediation, const UIEnvironment& environment,
                                 RemediationFinish onFinish);

SheetOutcome sheetOutcome(const RemediationOutcome& outcome);

// Opens the sheet whenever the page model sets sheetRemediation and reports
// how it ended.
class AuditStagePage : public QWidget {
    Q_OBJECT
public:
    QDialog* sheet() const { return sheet_; }

protected:
    AuditStagePage(const UIEnvironment& environment, RemediationSheetPresenter presenter, QWidget* parent);
    // Call from the model's change handler.
    void syncSheet(AuditStagePageModel& model);

    UIEnvironment environment_;
    RemediationSheetPresenter presenter_;
    QPointer<QDialog> sheet_;
};

}  // namespace lumo::ui
