#include "StagedAuditFlowView.h"

#include "BusyIndicator.h"
#include <QShowEvent>
#include <QVBoxLayout>

#include "CompletionViews.h"
#include "FinalAuditReportView.h"
#include "Stage1View.h"
#include "Stage2View.h"
#include "Style.h"

namespace lumo::ui {

StagedAuditFlowView::StagedAuditFlowView(AuditContext context, const UIEnvironment& environment,
                                         RemediationSheetPresenter presenter, QWidget* parent)
    : QWidget(parent), environment_(environment), presenter_(std::move(presenter)) {
    setObjectName(QStringLiteral("staged-audit-flow"));
    std::optional<SystemProfile> fallback;
    if (environment_.profile) fallback = environment_.profile->profile();
    model_ = std::make_unique<StagedAuditFlowModel>(std::move(context), *environment_.navigation, std::move(fallback),
                                                    environment_.services.isFixtureMode, *environment_.telemetry,
                                                    profilerOnWorker(this, environment_.services));
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    if (environment_.profile) {
        connect(environment_.profile, &ProfileStore::profileChanged, this,
                [this] { model_->setFallbackProfile(environment_.profile->profile()); });
    }
    model_->setOnChange([this] { sync(); });
    sync();
}

void StagedAuditFlowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

void StagedAuditFlowView::sync() {
    const std::pair<int, int> wanted{static_cast<int>(model_->display()), model_->currentIndex()};
    if (wanted == shown_) return;
    shown_ = wanted;
    if (page_) {
        // The old page may be the caller (a stage page advancing): let it
        // return before it goes.
        layout_->removeWidget(page_);
        page_->hide();
        page_->deleteLater();
    }
    page_ = makePage();
    layout_->addWidget(page_);
}

QWidget* StagedAuditFlowView::makePage() {
    using Display = StagedAuditFlowModel::Display;
    StagedAuditFlowModel* flow = model_.get();
    switch (model_->display()) {
        case Display::loading: {
            auto* holder = new QWidget;
            auto* layout = new QVBoxLayout(holder);
            layout->setContentsMargins(32, 32, 32, 32);
            QWidget* spinner = busyIndicator(QStringLiteral("audit-loading"), QStringLiteral("Checking your Mac"),
                                             BusyIndicator::Size::regular);
            layout->addStretch(1);
            layout->addWidget(spinner, 0, Qt::AlignCenter);
            layout->addStretch(2);
            return holder;
        }
        case Display::completion:
            return new SimplifiedCompletionView(
                model_->context().completionSurface, environment_, [flow] { flow->seeRecommendations(); },
                [flow] { flow->completionDone(); });
        case Display::stage:
            if (model_->currentIndex() == 0) {
                return new Stage1View(
                    *model_->profileInUse(), [flow] { flow->advanceFrom(0); }, model_->foundations().onProfileRefresh,
                    environment_, presenter_);
            }
            return new Stage2View(
                *model_->profileInUse(), [flow] { flow->advanceFrom(1); }, environment_, presenter_);
        case Display::finalReport:
            return new FinalAuditReportView(
                *model_->profileInUse(), [flow] { flow->finished(); }, environment_,
                QString::fromStdString(model_->finishTitle()));
    }
    return new QWidget;
}

}  // namespace lumo::ui
