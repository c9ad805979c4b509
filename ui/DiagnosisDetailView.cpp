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
                                         bool inert, QWidget* parent)
    : QWidget(parent) {
    setObjectName(inert ? QStringLiteral("diagnosis-detail-inert") : QStringLiteral("diagnosis-detail"));
    model_ = std::make_unique<DiagnosisDetailModel>(
        diagnosis, d1Remediation, d2Remediation, inert ? DiagnosisDetailModel::Callbacks{} : std::move(callbacks),
        *environment.services.store, inert ? nullptr : environment.telemetry);
    DiagnosisDetailModel* model = model_.get();

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    const URLOpener open = environment.openURL;

    switch (model->layout()) {
        case DiagnosisDetailModel::Layout::noJDK:
        case DiagnosisDetailModel::Layout::legacyOnly: {
            const QString context = QString::fromStdString(model->chooserContext());
            chooser_ = new JavaVersionChooserView(model->chosenMajor(), context, [this, model](int major) {
                model->choose(major);
                install_->setText(QString::fromStdString(model->installTitle()));
            });
            layout->addWidget(chooser_);
            install_ =
                button(QString::fromStdString(model->installTitle()), ButtonStyle::prominent, ControlSize::large);
            identify(install_, QStringLiteral("diagnosis-%1-install-chosen").arg(context), install_->text());
            connect(install_, &QPushButton::clicked, this, [model] { model->install(); });
            if (model->layout() == DiagnosisDetailModel::Layout::noJDK) {
                layout->addWidget(install_, 0, Qt::AlignLeft);
                auto* other = button(QStringLiteral("Other Java install methods"), ButtonStyle::link);
                other->setFont(textFont(TextStyle::callout));
                identify(other, QStringLiteral("remediation-secondary-link"), other->text());
                connect(other, &QPushButton::clicked, this, [open] {
                    if (open) open(ProductConfig::current().urls.javaDownload);
                });
                layout->addWidget(other, 0, Qt::AlignLeft);
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
                auto* article = button(QStringLiteral("Read the JAVA_HOME article"), ButtonStyle::link);
                article->setFont(textFont(TextStyle::callout));
                identify(article, QStringLiteral("java-home-article"), article->text());
                connect(article, &QPushButton::clicked, this, [open] {
                    if (open) open(ProductConfig::current().urls.javaHome);
                });
                layout->addWidget(article, 0, Qt::AlignLeft);
            } else {
                auto* row = new QHBoxLayout;
                row->addWidget(busyIndicator(QStringLiteral("choosing-fix"), QStringLiteral("Choosing fix method")));
                row->addWidget(label(QStringLiteral("Choosing fix method…"), TextStyle::callout, true), 1);
                layout->addLayout(row);
            }
            break;
        case DiagnosisDetailModel::Layout::allGood: {
            auto* next = button(QStringLiteral("Continue to system audit"), ButtonStyle::prominent, ControlSize::large);
            identify(next, QStringLiteral("continue-to-audit"), next->text());
            connect(next, &QPushButton::clicked, this, [model] { model->continueOn(); });
            layout->addWidget(next, 0, Qt::AlignLeft);
            if (model->showNPSOnNoErrors() && environment.telemetry && environment.scheduler && !inert) {
                card_ = new NPSFeedbackCard(environment, [model] { model->npsSubmitted(); });
                layout->addSpacing(8);
                layout->addWidget(card_);
            }
            break;
        }
        case DiagnosisDetailModel::Layout::unknown: {
            auto* next = button(QStringLiteral("Continue to system audit"), ButtonStyle::prominent, ControlSize::large);
            next->setMinimumWidth(260);
            identify(next, QStringLiteral("continue-to-audit"), next->text());
            connect(next, &QPushButton::clicked, this, [model] { model->continueOn(); });
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
