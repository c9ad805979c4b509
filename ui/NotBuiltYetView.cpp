#include "NotBuiltYetView.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "CompletionViews.h"
#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

NotBuiltYetView::NotBuiltYetView(const Screen& screen, const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("not-built-yet-view"));
    AppNavigation* navigation = environment.navigation;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    QString title;
    QString explainer;
    if (const AuditContext* context = screen.auditContext()) {
        title = QStringLiteral("Developer audit");
        explainer = QStringLiteral("The staged audit is not built yet, so nothing has been checked.");
        const AuditContext audit = *context;
        auto* skip = button(QStringLiteral("Finish without auditing"), ButtonStyle::bordered, ControlSize::large);
        identify(skip, QStringLiteral("not-built-audit-finish"), skip->text());
        connect(skip, &QPushButton::clicked, this, [navigation, audit] { journey::auditFinished(*navigation, audit); });
        if (audit.entry == AuditEntry::heuristic) {
            auto* completion =
                button(QStringLiteral("Show the completion page"), ButtonStyle::bordered, ControlSize::large);
            identify(completion, QStringLiteral("not-built-audit-completion"), completion->text());
            const UIEnvironment env = environment;
            connect(completion, &QPushButton::clicked, this, [this, env, audit, navigation] {
                auto* page = new SimplifiedCompletionView(
                    audit.completionSurface, env, [navigation] { journey::seeRecommendations(*navigation); },
                    [navigation] { navigation->backToHome(); });
                auto* host = static_cast<QVBoxLayout*>(this->layout());
                QLayoutItem* old = host->takeAt(0);
                old->widget()->hide();
                old->widget()->deleteLater();
                delete old;
                host->addWidget(page);
            });
            layout->addWidget(completion, 0, Qt::AlignLeft);
        }
        layout->addWidget(skip, 0, Qt::AlignLeft);
    } else {
        title = QStringLiteral("Diagnose Java");
        explainer = QStringLiteral("The Java diagnosis is not built yet, so nothing has been checked or changed.");
        auto* skip = button(QStringLiteral("Continue without a diagnosis"), ButtonStyle::bordered, ControlSize::large);
        identify(skip, QStringLiteral("not-built-diagnose-continue"), skip->text());
        connect(skip, &QPushButton::clicked, this,
                [navigation] { journey::diagnoseFinished(*navigation, ProductConfig::current(), std::nullopt); });
        layout->addWidget(skip, 0, Qt::AlignLeft);
    }
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    auto* scaffold =
        new ScreenScaffold(title, explainer, content, environment.openURL, QStringLiteral("not-built-yet-title"));
    page->addWidget(scaffold);
}

}  // namespace lumo::ui
