#include "DiagnosisDetailView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "CompletionViews.h"
#include "ScreenScaffold.h"
#include "Style.h"
#include "VerifyViews.h"
#include "config/ProductConfig.h"

namespace lumo::ui {

namespace {

// A callout-sized link that opens one of the product's articles.
QPushButton* articleLink(const QString& title, const QString& identifier, std::string ProductURLs::*url,
                         const URLOpener& open) {
    QPushButton* link = button(title, ButtonStyle::link);
    link->setFont(textFont(TextStyle::callout));
    identify(link, identifier, title);
    QObject::connect(link, &QPushButton::clicked, link, [url, open] {
        if (open) open(ProductConfig::current().urls.*url);
    });
    return link;
}

}  // namespace

JavaVersionChooserView::JavaVersionChooserView(int chosenMajor, const QString& screenContext,
                                               std::function<void(int)> onChoose, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("java-version-chooser-") + screenContext);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    for (const JavaVersionChoice& choice : javaVersionChoices()) {
        auto* row = new QPushButton;
        row->setCursor(Qt::PointingHandCursor);
        row->setAutoDefault(false);
        row->setFlat(true);
        row->setMinimumHeight(52);
        row->setStyleSheet(QStringLiteral("QPushButton { background: transparent; border: none; text-align: left; }"));
        identify(row, QStringLiteral("diagnosis-%1-pick-java-%2").arg(screenContext).arg(choice.major),
                 QString::fromStdString(choice.label));
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(4, 4, 4, 4);
        rowLayout->setSpacing(10);
        auto* radio = new QLabel;
        radio->setObjectName(QStringLiteral("radio"));
        radio->setFixedSize(18, 18);
        radio->setAttribute(Qt::WA_TransparentForMouseEvents);
        rowLayout->addWidget(radio, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel* title = label(QString::fromStdString(choice.label), TextStyle::body, false, true);
        QLabel* description = label(QString::fromStdString(choice.description), TextStyle::callout, true);
        for (QLabel* text : {title, description}) {
            text->setAttribute(Qt::WA_TransparentForMouseEvents);
            text->setTextInteractionFlags(Qt::NoTextInteraction);
            texts->addWidget(text);
        }
        rowLayout->addLayout(texts, 1);
        const int major = choice.major;
        connect(row, &QPushButton::clicked, this, [this, major, onChoose] {
            setChosenMajor(major);
            if (onChoose) onChoose(major);
        });
        layout->addWidget(row);
        rows_.emplace_back(major, row);
    }
    setChosenMajor(chosenMajor);
}

void JavaVersionChooserView::setChosenMajor(int major) {
    for (auto& [rowMajor, row] : rows_) {
        auto* radio = row->findChild<QLabel*>(QStringLiteral("radio"));
        radio->setPixmap(radioSymbol(rowMajor == major).pixmap(18, 18));
        row->setProperty("selected", rowMajor == major);
    }
}

DiagnosisDetailView::DiagnosisDetailView(const Diagnosis& diagnosis, const std::optional<Remediation>& d1Remediation,
                                         const std::optional<Remediation>& d2Remediation,
                                         DiagnosisDetailModel::Callbacks callbacks, const UIEnvironment& environment,
                                         JDKFacts facts, bool inert, QWidget* parent)
    : QWidget(parent) {
    setObjectName(inert ? QStringLiteral("diagnosis-detail-inert") : QStringLiteral("diagnosis-detail"));
    model_ = std::make_unique<DiagnosisDetailModel>(
        diagnosis, d1Remediation, d2Remediation, inert ? DiagnosisDetailModel::Callbacks{} : std::move(callbacks),
        *environment.services.store, inert ? nullptr : environment.telemetry, std::move(facts),
        userShellName(environment.services.host));
    DiagnosisDetailModel* model = model_.get();

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    const URLOpener open = environment.openURL;
    if (const auto note = model->shellNote()) {
        QLabel* shellNote = markdownLabel(QString::fromStdString(*note), TextStyle::callout, true);
        identify(shellNote, QStringLiteral("diagnosis-shell-note"), shellNote->text());
        layout->addWidget(shellNote);
    }

    // Where the JDK came from, and an Intel-only JDK on Apple silicon.
    const JDKFacts& shownFacts = model->facts();
    if (!shownFacts.source.empty()) {
        QLabel* source = label(QString::fromStdString(shownFacts.source), TextStyle::caption, true);
        identify(source, QStringLiteral("diagnosis-jdk-source"), source->text());
        layout->addWidget(source);
    }
    if (!shownFacts.rosettaWarning.empty()) {
        QLabel* warning = label(QString::fromStdString(shownFacts.rosettaWarning), TextStyle::callout);
        warning->setWordWrap(true);
        identify(warning, QStringLiteral("diagnosis-rosetta-warning"), warning->text());
        layout->addWidget(warning);
        if (shownFacts.nativeBuild) {
            auto* native =
                button(QString::fromStdString(shownFacts.nativeTitle), ButtonStyle::bordered, ControlSize::large);
            identify(native, QStringLiteral("diagnosis-install-native-build"), native->text());
            connect(native, &QPushButton::clicked, this, [model] { model->installNativeBuild(); });
            layout->addWidget(native, 0, Qt::AlignLeft);
        }
    }

    switch (model->layout()) {
        case DiagnosisDetailModel::Layout::noJDK:
        case DiagnosisDetailModel::Layout::legacyOnly: {
            const QString context = QString::fromStdString(model->chooserContext());
            layout->addWidget(new JavaVersionChooserView(model->chosenMajor(), context, [this, model](int major) {
                model->choose(major);
                install_->setText(QString::fromStdString(model->installTitle()));
            }));
            install_ =
                button(QString::fromStdString(model->installTitle()), ButtonStyle::prominent, ControlSize::large);
            identify(install_, QStringLiteral("diagnosis-%1-install-chosen").arg(context), install_->text());
            connect(install_, &QPushButton::clicked, this, [model] { model->install(); });
            if (model->layout() == DiagnosisDetailModel::Layout::noJDK) {
                layout->addWidget(install_, 0, Qt::AlignLeft);
                layout->addWidget(
                    articleLink(QStringLiteral("Other Java install methods"),
                                QStringLiteral("remediation-secondary-link"), &ProductURLs::javaDownload, open),
                    0, Qt::AlignLeft);
            } else {
                auto* row = new QHBoxLayout;
                row->setSpacing(10);
                row->addWidget(install_);
                auto* keep = button(QStringLiteral("Keep my current Java"), ButtonStyle::bordered, ControlSize::large);
                identify(keep, QStringLiteral("diagnosis-d3-keep-legacy"), keep->text());
                connect(keep, &QPushButton::clicked, this, [model] { model->keepLegacy(); });
                row->addWidget(keep);
                row->addStretch(1);
                layout->addLayout(row);
            }
            break;
        }
        case DiagnosisDetailModel::Layout::homeUnset:
            if (const auto& fix = model->d2Remediation()) {
                auto* apply = button(QString::fromStdString(fix->title()), ButtonStyle::prominent, ControlSize::large);
                identify(apply, QStringLiteral("remediation-primary-button"), apply->text());
                connect(apply, &QPushButton::clicked, this, [model] { model->remediate(); });
                layout->addWidget(apply, 0, Qt::AlignLeft);
                layout->addWidget(markdownLabel(QString::fromStdString(fix->explainer()), TextStyle::callout, true));
                layout->addWidget(articleLink(QStringLiteral("Read the JAVA_HOME article"),
                                              QStringLiteral("java-home-article"), &ProductURLs::javaHome, open),
                                  0, Qt::AlignLeft);
            } else {
                auto* row = new QHBoxLayout;
                row->addWidget(busyIndicator(QStringLiteral("choosing-fix"), QStringLiteral("Choosing fix method")));
                row->addWidget(label(QStringLiteral("Choosing fix method…"), TextStyle::callout, true), 1);
                layout->addLayout(row);
            }
            break;
        case DiagnosisDetailModel::Layout::allGood: {
            layout->addWidget(continueToAuditButton(ButtonStyle::prominent, [model] { model->continueOn(); }), 0,
                              Qt::AlignLeft);
            if (model->showNPSOnNoErrors() && environment.telemetry && environment.scheduler && !inert) {
                layout->addSpacing(8);
                layout->addWidget(new NPSFeedbackCard(environment, [model] { model->npsSubmitted(); }));
            }
            break;
        }
        case DiagnosisDetailModel::Layout::unknown: {
            QPushButton* next = continueToAuditButton(ButtonStyle::prominent, [model] { model->continueOn(); });
            next->setMinimumWidth(260);
            layout->addWidget(next, 0, Qt::AlignLeft);
            break;
        }
    }

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QString::fromStdString(diagnosis.headline()),
                                       QString::fromStdString(diagnosis.explanation()), content, environment.openURL,
                                       QStringLiteral("diagnose-headline")));
}

void DiagnosisDetailView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) model_->appeared();
}

}  // namespace lumo::ui
