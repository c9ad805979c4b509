#include "AuditSheet.h"

#include "RemediationProgressView.h"

namespace lumo::ui {

QDialog* presentRemediationSheet(QWidget* host, const Remediation& remediation, const UIEnvironment& environment,
                                 RemediationFinish onFinish) {
    auto* sheet = new RemediationProgressView(remediation, environment, std::move(onFinish), host->window());
    sheet->present();
    return sheet;
}

SheetOutcome sheetOutcome(const RemediationOutcome& outcome) {
    switch (outcome.kind) {
        case RemediationOutcome::Kind::success: return SheetOutcome::success;
        case RemediationOutcome::Kind::failure: return SheetOutcome::failure;
        case RemediationOutcome::Kind::canceled: return SheetOutcome::canceled;
    }
    return SheetOutcome::canceled;
}

AuditStagePage::AuditStagePage(const UIEnvironment& environment, RemediationSheetPresenter presenter, QWidget* parent)
    : QWidget(parent), environment_(environment), presenter_(std::move(presenter)) {
    if (!presenter_) presenter_ = presentRemediationSheet;
}

void AuditStagePage::syncSheet(AuditStagePageModel& model) {
    if (!model.sheetRemediation() || sheet_) return;
    QPointer<AuditStagePage> self(this);
    AuditStagePageModel* page = &model;
    sheet_ = presenter_(this, *model.sheetRemediation(), environment_, [self, page](const RemediationOutcome& outcome) {
        if (!self) return;
        self->sheet_.clear();
        page->sheetFinished(sheetOutcome(outcome));
    });
}

}  // namespace lumo::ui
