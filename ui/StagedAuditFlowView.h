// StagedAuditFlowView: the page of Screen::audit. Shows a progress indicator
// until a profile is there, then the completion page (gated), the current
// stage's page, or the final report, as the flow model says.
#pragma once

#include <QWidget>
#include <memory>
#include <utility>

#include "AuditSheet.h"
#include "UIEnvironment.h"
#include "screens/StagedAuditFlow.h"

class QVBoxLayout;

namespace lumo::ui {

class StagedAuditFlowView : public QWidget {
    Q_OBJECT
public:
    StagedAuditFlowView(AuditContext context, const UIEnvironment& environment,
                        RemediationSheetPresenter presenter = {}, QWidget* parent = nullptr);

    StagedAuditFlowModel& model() { return *model_; }
    // The page shown now.
    QWidget* currentPage() const { return page_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void sync();
    QWidget* makePage();

    UIEnvironment environment_;
    RemediationSheetPresenter presenter_;
    std::unique_ptr<StagedAuditFlowModel> model_;
    QVBoxLayout* layout_ = nullptr;
    QWidget* page_ = nullptr;
    std::pair<int, int> shown_{-1, -1};  // display and stage index of page_
};

}  // namespace lumo::ui
