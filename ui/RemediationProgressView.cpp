#include "RemediationProgressView.h"

#include <QCloseEvent>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "StreamingRemediationView.h"
#include "ZprofileDiffSheet.h"

namespace lumo::ui {

RemediationProgressView::RemediationProgressView(const Remediation& remediation, const UIEnvironment& environment,
                                                 RemediationFinish onFinish, QWidget* window,
                                                 StreamingRemediationModel::Starter starter)
    : QDialog(window, Qt::Sheet), remediation_(remediation) {
    setObjectName(QStringLiteral("remediation-sheet"));
    setWindowModality(Qt::WindowModal);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth + 80, kMinimumHeight + 60);
    setWindowTitle(QString::fromStdString(remediation.progressTitle()));

    // The sheet closes first, then the presenter hears the outcome (once).
    QPointer<RemediationProgressView> self(this);
    RemediationFinish finish = [self, onFinish](const RemediationOutcome& outcome) {
        if (self) {
            if (self->finished_) return;
            self->finished_ = true;
            self->hide();
            self->deleteLater();
        }
        if (onFinish) onFinish(outcome);
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (showsZprofileDiff(remediation)) {
        diff_ = new ZprofileDiffSheet(remediation, environment, finish);
        layout->addWidget(diff_);
    } else {
        streaming_ = new StreamingRemediationView(remediation, environment, finish, std::move(starter));
        layout->addWidget(streaming_);
    }
}

void RemediationProgressView::present() { open(); }

void RemediationProgressView::reject() {
    if (finished_) return;
    if (streaming_) {
        streaming_->escape();
        return;
    }
    // The reviewed diff: Cancel before anything is written, Close after a
    // read error, Continue once the change is applied.
    for (const char* identifier : {"zprofile-cancel", "zprofile-close", "zprofile-continue"}) {
        auto* action = findChild<QPushButton*>(QString::fromLatin1(identifier));
        if (action && action->isVisible() && action->isEnabled()) {
            action->click();
            return;
        }
    }
}

void RemediationProgressView::closeEvent(QCloseEvent* event) {
    if (finished_) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

}  // namespace lumo::ui
