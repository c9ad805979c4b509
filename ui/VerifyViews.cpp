#include "VerifyViews.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"
#include "config/ProductConfig.h"
#include "screens/DiagnoseViewModel.h"

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
    return actionButton(QString::fromStdString(continueOnTitle(ProductConfig::current())), style,
                        QStringLiteral("continue-to-audit"), std::move(onContinue));
}

ProbingScaffold::ProbingScaffold(const UIEnvironment& environment, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("diagnose-probing"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(busyIndicator(QStringLiteral("diagnose-progress"), QStringLiteral("Diagnosing Java"),
                                    BusyIndicator::Size::regular));
    fill(this, new ScreenScaffold(QStringLiteral("Diagnosing Java…"),
                                  QStringLiteral("Running three quick checks to figure out what's going on."), content,
                                  environment.openURL));
}

VerifyScaffold::VerifyScaffold(const Remediation&, const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("verify-scaffold"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    layout->addWidget(
        busyIndicator(QStringLiteral("verify-progress"), QStringLiteral("Verifying"), BusyIndicator::Size::regular));
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

    // A pass and a failure differ at a glance: a green box with a tick, or a
    // red one with a cross.
    auto* box = new QWidget;
    identify(box, verdict_.passed ? QStringLiteral("verify-result-pass") : QStringLiteral("verify-result-fail"),
             verdict_.passed ? QStringLiteral("java -version: passed") : QStringLiteral("java -version: failed"));
    makeCard(box, 8, verdict_.passed ? CardTone::success : CardTone::failure);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(14, 12, 14, 12);
    boxLayout->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* symbol = new QLabel;
    symbol->setObjectName(verdict_.passed ? QStringLiteral("verify-symbol-pass") : QStringLiteral("verify-symbol-fail"));
    symbol->setPixmap((verdict_.passed ? checkmarkSymbol() : crossSymbol()).pixmap(16, 16));
    header->addWidget(symbol);
    QLabel* caption = label(QStringLiteral("java -version"), TextStyle::caption, false, true);
    setTextRole(caption, verdict_.passed ? TextRole::success : TextRole::error);
    header->addWidget(caption, 1);
    boxLayout->addLayout(header);
    boxLayout->addWidget(monospaced(QString::fromStdString(verdict_.javaVersionText).trimmed()));
    boxLayout->addSpacing(4);
    boxLayout->addWidget(label(QStringLiteral("JAVA_HOME"), TextStyle::caption, true, true));
    boxLayout->addWidget(monospaced(QString::fromStdString(verdict_.javaHomeText)));
    layout->addWidget(box);

    if (verdict_.legacyWarning) {
        QLabel* warning = label(QString::fromStdString(*verdict_.legacyWarning), TextStyle::callout);
        identify(warning, QStringLiteral("verify-legacy-warning"), warning->text());
        warning->setContentsMargins(8, 8, 8, 8);
        setTextRole(warning, TextRole::warning);
        makeCard(warning, 6, CardTone::warning);
        makeSelectable(warning);
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
        case VerifyVerdict::Kind::passed: {
            QPushButton* next = continueToAuditButton(ButtonStyle::prominent, actions.onContinue);
            makePrimaryAction(next);
            layout->addWidget(next, 0, Qt::AlignLeft);
            break;
        }
        case VerifyVerdict::Kind::needsJavaHome: {
            layout->addWidget(label(QStringLiteral("Now point JAVA_HOME at the new Java"), TextStyle::headline));
            QPushButton* setHome = actionButton(QStringLiteral("Set JAVA_HOME (recommended)"), ButtonStyle::prominent,
                                                QStringLiteral("verify-set-java-home"), actions.onSetJavaHome);
            makePrimaryAction(setHome);
            layout->addWidget(setHome, 0, Qt::AlignLeft);
            layout->addWidget(continueToAuditButton(ButtonStyle::bordered, actions.onContinue), 0, Qt::AlignLeft);
            if (environment.telemetry) recordFollowUpOffered(*environment.telemetry, remediation);
            break;
        }
        case VerifyVerdict::Kind::failed: {
            auto* article = button(QStringLiteral("Open the article"), ButtonStyle::link);
            identify(article, QStringLiteral("verify-open-article"), article->text());
            connect(article, &QPushButton::clicked, this, [open = environment.openURL] {
                if (open) open(ProductConfig::current().urls.javaUnableToLocate);
            });
            layout->addWidget(article, 0, Qt::AlignLeft);
            QPushButton* back =
                actionButton(QStringLiteral("Back"), ButtonStyle::prominent, QStringLiteral("verify-back"), actions.onBack);
            makePrimaryAction(back);
            layout->addWidget(back, 0, Qt::AlignLeft);
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
    QPushButton* next = continueToAuditButton(ButtonStyle::prominent, std::move(onContinue));
    makePrimaryAction(next);
    layout->addWidget(next, 0, Qt::AlignLeft);
    fill(this, new ScreenScaffold(QStringLiteral("Done"), message, content, environment.openURL));
}

ErrorScaffold::ErrorScaffold(const QString& message, std::function<void()> onBack, const UIEnvironment& environment,
                             QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("diagnose-error"));
    QVBoxLayout* layout = nullptr;
    QWidget* content = column(&layout);
    QPushButton* back =
        actionButton(QStringLiteral("Back"), ButtonStyle::prominent, QStringLiteral("error-back"), std::move(onBack));
    makePrimaryAction(back);
    layout->addWidget(back, 0, Qt::AlignLeft);
    fill(this, new ScreenScaffold(QStringLiteral("Something went wrong"), message, content, environment.openURL,
                                  QStringLiteral("error-title"), QStringLiteral("error-message")));
}

}  // namespace lumo::ui
