// "Your Mac at a glance": the last page of the staged audit.
#pragma once

#include <QWidget>
#include <memory>

#include "UIEnvironment.h"
#include "screens/FinalAuditReport.h"

namespace lumo::ui {

class NPSFeedbackCard;

// Builds a profile with the system profiler on a worker thread and hands it
// back on the main thread, unless `owner` is gone by then.
ProfileBuilding profilerOnWorker(QObject* owner, const AppServices& services);

class FinalAuditReportView : public QWidget {
    Q_OBJECT
public:
    // `doneTitle` names where the done button leads.
    FinalAuditReportView(const SystemProfile& initialProfile, std::function<void()> onDone,
                         const UIEnvironment& environment,
                         const QString& doneTitle = QStringLiteral("Done — back to home"), QWidget* parent = nullptr);

    FinalAuditReportModel& model() { return *model_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    std::unique_ptr<FinalAuditReportModel> model_;
    QWidget* rows_ = nullptr;
    NPSFeedbackCard* card_ = nullptr;
};

}  // namespace lumo::ui
