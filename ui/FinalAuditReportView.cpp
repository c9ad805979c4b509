#include "FinalAuditReportView.h"

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "CompletionViews.h"
#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

ProfileBuilding profilerOnWorker(QObject* owner, const AppServices& services) {
    QPointer<QObject> guard(owner);
    return [guard, services](std::function<void(SystemProfile)> onProfile) {
        if (!guard) return;
        auto* watcher = new QFutureWatcher<SystemProfile>(guard.data());
        QObject::connect(watcher, &QFutureWatcher<SystemProfile>::finished, guard.data(), [watcher, onProfile] {
            watcher->deleteLater();
            onProfile(watcher->result());
        });
        watcher->setFuture(QtConcurrent::run([services] { return SystemProfiler(services).profile(); }));
    };
}

namespace {
TextRole toneRole(FinalAuditReportModel::Row::Tone tone) {
    switch (tone) {
        case FinalAuditReportModel::Row::Tone::present: return TextRole::success;
        case FinalAuditReportModel::Row::Tone::absent: return TextRole::error;
        case FinalAuditReportModel::Row::Tone::suggestion: return TextRole::accent;
    }
    return TextRole::accent;
}
}  // namespace

FinalAuditReportView::FinalAuditReportView(const SystemProfile& initialProfile, std::function<void()> onDone,
                                           const UIEnvironment& environment, const QString& doneTitle,
                                           QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("final-audit-report-view"));
    model_ = std::make_unique<FinalAuditReportModel>(
        initialProfile, std::move(onDone), environment.services.isFixtureMode, *environment.services.store,
        *environment.telemetry, profilerOnWorker(this, environment.services), environment.scoreCards);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    rows_ = new QWidget;
    identify(rows_, QStringLiteral("audit-final-report"), QStringLiteral("Your Mac at a glance"));
    auto* rowsLayout = new QVBoxLayout(rows_);
    rowsLayout->setContentsMargins(0, 0, 0, 0);
    rowsLayout->setSpacing(8);
    layout->addWidget(rows_);

    if (model_->showNPS()) {
        card_ = new NPSFeedbackCard(environment, [this] { model_->npsSubmitted(); });
        layout->addWidget(card_);
    }
    layout->addWidget(doneButton(QStringLiteral("audit-report-done"), card_, *model_, this, doneTitle), 0,
                      Qt::AlignLeft);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QStringLiteral("Your Mac at a glance"),
                                       QStringLiteral("Here's what we found while running the system audit."), content,
                                       environment.openURL));
    model_->setOnChange([this] { refresh(); });
    refresh();
}

void FinalAuditReportView::refresh() {
    auto* rowsLayout = static_cast<QVBoxLayout*>(rows_->layout());
    while (QLayoutItem* item = rowsLayout->takeAt(0)) {
        if (QWidget* widget = item->widget()) widget->deleteLater();
        delete item;
    }
    int index = 0;
    for (const auto& row : model_->rows()) {
        auto* line = new QWidget;
        auto* lineLayout = new QHBoxLayout(line);
        lineLayout->setContentsMargins(0, 0, 0, 0);
        lineLayout->setSpacing(8);
        auto* symbol = new QLabel(QString::fromStdString(row.symbol));
        symbol->setFont(textFont(TextStyle::body, true));
        symbol->setFixedWidth(16);
        symbol->setAlignment(Qt::AlignCenter);
        setTextRole(symbol, toneRole(row.tone));
        lineLayout->addWidget(symbol);
        auto* text = label(QString::fromStdString(row.text), TextStyle::body);
        identify(text, QStringLiteral("audit-final-report-row-%1").arg(index++), text->text());
        lineLayout->addWidget(text, 1);
        rowsLayout->addWidget(line);
    }
    if (card_) card_->setVisible(model_->showNPS() && !card_->model().didDismiss());
}

void FinalAuditReportView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

}  // namespace lumo::ui
