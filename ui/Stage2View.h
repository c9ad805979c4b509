// "Try Warp — the AI-assisted terminal": the terminal stage of the audit.
#pragma once

#include <memory>

#include "AuditSheet.h"
#include "screens/AuditStagePages.h"

class QPushButton;

namespace lumo::ui {

class Stage2View : public AuditStagePage {
    Q_OBJECT
public:
    Stage2View(const SystemProfile& profile, std::function<void()> onAdvance, const UIEnvironment& environment,
               RemediationSheetPresenter presenter = {}, QWidget* parent = nullptr);

    TerminalPageModel& model() { return *model_; }

private:
    void refresh();

    std::unique_ptr<TerminalPageModel> model_;
    std::vector<QPushButton*> actions_;
};

}  // namespace lumo::ui
