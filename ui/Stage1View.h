// "System check": the foundations stage of the audit — Homebrew, the Xcode
// Command Line Tools and macOS currency.
#pragma once

#include <memory>

#include "AuditSheet.h"
#include "screens/AuditStagePages.h"

class QPushButton;

namespace lumo::ui {

class Stage1View : public AuditStagePage {
    Q_OBJECT
public:
    Stage1View(const SystemProfile& profile, std::function<void()> onAdvance,
               Stage1Foundations::ProfileRefresh onProfileRefresh, const UIEnvironment& environment,
               RemediationSheetPresenter presenter = {}, QWidget* parent = nullptr);

    FoundationsPageModel& model() { return *model_; }

private:
    void refresh();

    std::unique_ptr<FoundationsPageModel> model_;
    std::vector<QPushButton*> actions_;
    QWidget* refreshing_ = nullptr;
};

}  // namespace lumo::ui
