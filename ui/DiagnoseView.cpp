#include "DiagnoseView.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "DiagnosisDetailView.h"
#include "VerifyViews.h"

namespace lumo::ui {

void QtBackgroundWork::run(std::function<std::function<void()>()> work) {
    // The continuation checks the flow's lifetime itself, so the application
    // object is a safe context to post it to.
    (void)QtConcurrent::run([work = std::move(work)] {
        std::function<void()> then = work();
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(then), Qt::QueuedConnection);
    });
}

DiagnoseView::DiagnoseView(const UIEnvironment& environment, QWidget* parent)
    : DiagnoseView(environment, Options{}, parent) {}

DiagnoseView::DiagnoseView(const UIEnvironment& environment, Options options, QWidget* parent)
    : QWidget(parent), environment_(environment), options_(std::move(options)) {
    setObjectName(QStringLiteral("diagnose-view"));
    DiagnoseFlow::Options flowOptions;
    flowOptions.navigation = environment_.navigation;
    flowOptions.services = environment_.services;
    flowOptions.telemetry = environment_.telemetry;
    if (environment_.profile) flowOptions.fallbackProfile = environment_.profile->profile();
    flowOptions.background = &background_;
    flowOptions.profileMachine = options_.profileMachine;
    flowOptions.verify = options_.verify;
    flow_ = std::make_unique<DiagnoseFlow>(std::move(flowOptions));
    flow_->viewModel().setOnChange([this] { rebuild(); });
    flow_->setOnSheetChange([this] { syncSheet(); });

    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    rebuild();
}

DiagnoseView::~DiagnoseView() {
    if (sheet_) delete sheet_.data();
}

void DiagnoseView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) flow_->appear();
}

void DiagnoseView::rebuild() {
    if (page_) {
        // A page may be rebuilt from inside one of its own buttons.
        layout_->removeWidget(page_);
        page_->hide();
        page_->deleteLater();
    }
    page_ = makePage();
    layout_->addWidget(page_);
    page_->show();
    if (flow_->viewModel().state().is<DiagnoseViewModel::State::Verifying>()) {
        QTimer::singleShot(0, this, [this] { flow_->verifyNow(); });
    }
}

QWidget* DiagnoseView::makePage() {
    using State = DiagnoseViewModel::State;
    const State& state = flow_->viewModel().state();
    DiagnoseFlow* flow = flow_.get();
    if (const auto* diagnosed = state.as<State::Diagnosed>()) {
        DiagnosisDetailModel::Callbacks callbacks;
        callbacks.onRemediate = [flow](const Remediation& fix) { flow->remediate(fix); };
        callbacks.onInstallChosen = [flow](int major) { flow->installChosen(major); };
        callbacks.onKeepLegacy = [flow] { flow->keepLegacy(); };
        const Diagnosis shown = diagnosed->diagnosis;
        callbacks.onContinue = [flow, shown] { flow->continueOn(shown); };
        return new DiagnosisDetailView(diagnosed->diagnosis, diagnosed->d1Remediation, diagnosed->d2Remediation,
                                       std::move(callbacks), environment_,
                                       jdkFacts(diagnosed->diagnosis, flow->workingProfile()));
    }
    if (state.is<State::Remediating>()) {
        if (const auto& last = flow->lastDiagnosis()) {
            return new DiagnosisDetailView(*last, flow->lastD1Remediation(), flow->lastD2Remediation(), {},
                                           environment_, jdkFacts(*last, flow->workingProfile()), /*inert=*/true);
        }
        auto* empty = new QWidget;
        empty->setObjectName(QStringLiteral("diagnose-empty"));
        return empty;
    }
    if (const auto* verifying = state.as<State::Verifying>()) {
        return new VerifyScaffold(verifying->remediation, environment_);
    }
    if (const auto* verified = state.as<State::Verified>()) {
        VerifyResultView::Actions actions;
        actions.onContinue = [flow] { flow->continueOn(flow->lastDiagnosis()); };
        actions.onBack = [flow] { flow->backToDiagnosis(); };
        actions.onSetJavaHome = [flow] { flow->setJavaHome(); };
        return new VerifyResultView(verified->remediation, verified->result, std::move(actions), environment_);
    }
    if (const auto* completed = state.as<State::Completed>()) {
        return new CompletedScaffold(
            QString::fromStdString(completed->message), [flow] { flow->continueOn(flow->lastDiagnosis()); },
            environment_);
    }
    if (const auto* error = state.as<State::Error>()) {
        return new ErrorScaffold(
            QString::fromStdString(error->message), [flow] { flow->backToDiagnosis(); }, environment_);
    }
    return new ProbingScaffold(environment_);
}

void DiagnoseView::syncSheet() {
    const auto& wanted = flow_->sheetRemediation();
    if (!wanted) {
        // The sheet closes itself once it has reported.
        sheet_ = nullptr;
        return;
    }
    if (sheet_) return;
    DiagnoseFlow* flow = flow_.get();
    sheet_ = new RemediationProgressView(
        *wanted, environment_, [flow](const RemediationOutcome& outcome) { flow->finish(outcome); }, window(),
        options_.starter);
    sheet_->present();
}

}  // namespace lumo::ui
