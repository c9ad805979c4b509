#include "VerifyViews.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"
#include "config/ProductConfig.h"

namespace lumo::ui {

namespace {

QWidget* column(QVBoxLayout** layout, int spacing = 12) {
    auto* widget = new QWidget;
    *layout = new QVBoxLayout(widget);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return widget;
}

void fill(QWidget* page, QWidget* scaffold) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scaffold);
}

QLabel* monospaced(const QString& text) {
    QLabel* result = label(text, TextStyle::callout);
    makeSelectable(result);
    result->setFont(monospacedFont(12));
    return result;
}

// A large button that runs `onClick`, when there is one.
QPushButton* actionButton(const QString& title, ButtonStyle style, const QString& identifier,
                          std::function<void()> onClick) {
    QPushButton* result = button(title, style, ControlSize::large);
    identify(result, identifier, title);
    QObject::connect(result, &QPushButton::clicked, result, [onClick = std::move(onClick)] {
        if (onClick) onClick();
    });
    return result;
}

}  // namespace

QPushButton* continueToAuditButton(ButtonStyle style, std::function<void()> onContinue) {
    return actionButton(QStringLiteral("Continue to system audit"), style, QStringLiteral("continue-to-audit"),
                        std::move(onContinue));
}

QWidget* busyIndicator(const QString& identifier, const QString& spokenName) {
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(160, 6);
    identify(bar, identifier, spokenName);
    return bar;
}

ProbingScaffold::ProbingScaffold(const UIEnvironment& environment, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("diagnose-probing"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(busyIndicator(QStringLiteral("diagnose-progress"), QStringLiteral("Diagnosing Java")));
    fill(this, new ScreenScaffold(QStringLiteral("Diagnosing Java…"),
                                  QStringLiteral("Running three quick checks to figure out what's going on."), content,
                                  environment.openURL));
}

VerifyScaffold::VerifyScaffold(const Remediation&, const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("verify-scaffold"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(busyIndicator(QStringLiteral("verify-progress"), QStringLiteral("Verifying")));
    fill(this, new ScreenScaffold(
                   QStringLiteral("Verifying…"),
                   QStringLiteral("Re-running `java -version` in a fresh login shell to confirm the fix took."),
                   content, environment.openURL));
}

VerifyResultView::VerifyResultView(const Remediation& remediation, const Verifier::Result& result, Actions actions,
                                   const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent), verdict_(VerifyVerdict::of(remediation, result, userShellName(environment.services.host))) {
    setObjectName(QStringLiteral("verify-result"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout, 14);

    auto* box = new QWidget;
    identify(box, verdict_.passed ? QStringLiteral("verify-result-pass") : QStringLiteral("verify-result-fail"),
             QStringLiteral("java -version"));
    makeCard(box, 8);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(14, 12, 14, 12);
    boxLayout->setSpacing(6);
    boxLayout->addWidget(label(QStringLiteral("java -version"), TextStyle::caption, true, true));
    boxLayout->addWidget(monospaced(QString::fromStdString(verdict_.javaVersionText).trimmed()));
    boxLayout->addSpacing(4);
    boxLayout->addWidget(label(QStringLiteral("JAVA_HOME"), TextStyle::caption, true, true));
    boxLayout->addWidget(monospaced(QString::fromStdString(verdict_.javaHomeText)));
    layout->addWidget(box);

    if (verdict_.legacyWarning) {
        QLabel* warning = label(QString::fromStdString(*verdict_.legacyWarning), TextStyle::callout);
        identify(warning, QStringLiteral("verify-legacy-warning"), warning->text());
        warning->setStyleSheet(QStringLiteral(
            "QLabel { color: rgb(150,80,0); background: rgba(255,149,0,0.12); border-radius: 6px; padding: 8px; }"));
        layout->addWidget(warning);
    }

    for (const auto& [text, identifier] : {std::pair{verdict_.failureDetail, "verify-failure-detail"},
                                           std::pair{verdict_.shellNote, "verify-shell-note"}}) {
        if (!text) continue;
        QLabel* detail = markdownLabel(QString::fromStdString(*text), TextStyle::callout, true);
        identify(detail, QString::fromLatin1(identifier), detail->text());
        layout->addWidget(detail);
    }

    switch (verdict_.kind) {
        case VerifyVerdict::Kind::passed:
            layout->addWidget(continueToAuditButton(ButtonStyle::prominent, actions.onContinue), 0, Qt::AlignLeft);
            break;
        case VerifyVerdict::Kind::needsJavaHome: {
            layout->addWidget(label(QStringLiteral("Now point JAVA_HOME at the new Java"), TextStyle::headline));
            layout->addWidget(actionButton(QStringLiteral("Set JAVA_HOME (recommended)"), ButtonStyle::prominent,
                                           QStringLiteral("verify-set-java-home"), actions.onSetJavaHome),
                              0, Qt::AlignLeft);
            layout->addWidget(continueToAuditButton(ButtonStyle::bordered, actions.onContinue), 0, Qt::AlignLeft);
            if (environment.telemetry) recordFollowUpOffered(*environment.telemetry, remediation);
            break;
        }
        case VerifyVerdict::Kind::failed: {
            auto* article = button(QStringLiteral("Open the article"), ButtonStyle::link);
            identify(article, QStringLiteral("verify-open-article"), article->text());
            article->setFont(textFont(TextStyle::body));
            connect(article, &QPushButton::clicked, this, [open = environment.openURL] {
                if (open) open(ProductConfig::current().urls.javaUnableToLocate);
            });
            layout->addWidget(article, 0, Qt::AlignLeft);
            layout->addWidget(actionButton(QStringLiteral("Back"), ButtonStyle::bordered, QStringLiteral("verify-back"),
                                           actions.onBack),
                              0, Qt::AlignLeft);
            break;
        }
    }
    fill(this, new ScreenScaffold(QString::fromStdString(verdict_.title), QString::fromStdString(verdict_.explainer),
                                  content, environment.openURL, QStringLiteral("verify-title")));
}

CompletedScaffold::CompletedScaffold(const QString& message, std::function<void()> onContinue,
                                     const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("diagnose-completed"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(continueToAuditButton(ButtonStyle::prominent, std::move(onContinue)), 0, Qt::AlignLeft);
    fill(this, new ScreenScaffold(QStringLiteral("Done"), message, content, environment.openURL));
}

ErrorScaffold::ErrorScaffold(const QString& message, std::function<void()> onBack, const UIEnvironment& environment,
                             QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("diagnose-error"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(
        actionButton(QStringLiteral("Back"), ButtonStyle::prominent, QStringLiteral("error-back"), std::move(onBack)),
        0, Qt::AlignLeft);
    fill(this, new ScreenScaffold(QStringLiteral("Something went wrong"), message, content, environment.openURL,
                                  QStringLiteral("error-title")));
}

}  // namespace lumo::ui
