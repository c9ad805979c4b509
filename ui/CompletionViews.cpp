#include "CompletionViews.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"
#include "StyledButton.h"

namespace lumo::ui {

QPushButton* doneButton(const QString& identifier, const QString& title) {
    QPushButton* done = button(title, ButtonStyle::prominent, ControlSize::large);
    identify(done, identifier, done->text());
    makePrimaryAction(done);
    return done;
}

NPSFeedbackCard::NPSFeedbackCard(const UIEnvironment& environment, std::function<void()> onSubmitted, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<NPSFeedbackModel>(*environment.services.store, *environment.telemetry,
                                                *environment.scheduler, std::move(onSubmitted))) {
    identify(this, QStringLiteral("nps-card"), QStringLiteral("How are we doing?"));
    makeCard(this, 10);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->addWidget(label(QStringLiteral("How are we doing?"), TextStyle::headline), 1);
    auto* dismiss = button(QStringLiteral("Dismiss"), ButtonStyle::borderless);
    dismiss->setFont(textFont(TextStyle::footnote));
    identify(dismiss, QStringLiteral("nps-dismiss"), dismiss->text());
    connect(dismiss, &QPushButton::clicked, this, [this] { model_->dismiss(); });
    header->addWidget(dismiss, 0, Qt::AlignRight | Qt::AlignVCenter);
    layout->addLayout(header);

    layout->addWidget(label(QString::fromStdString(model_->question()), TextStyle::callout));

    auto* scale = new QWidget;
    auto* scaleLayout = new QVBoxLayout(scale);
    scaleLayout->setContentsMargins(0, 0, 0, 0);
    scaleLayout->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    for (int n = 0; n <= 10; ++n) {
        auto* score = new StyledButton(QString::number(n), ButtonStyle::outlined);
        score->setCornerRadius(6);
        score->setFixedSize(30, 30);
        identify(score, QStringLiteral("nps-score-%1").arg(n), QString::number(n));
        connect(score, &QPushButton::clicked, this, [this, n] { model_->choose(n); });
        row->addWidget(score);
        scores_.push_back(score);
    }
    scaleLayout->addLayout(row);
    auto* ends = new QHBoxLayout;
    ends->addWidget(label(QStringLiteral("Not at all likely"), TextStyle::caption));
    ends->addStretch(1);
    auto* high = label(QStringLiteral("Extremely likely"), TextStyle::caption);
    high->setAlignment(Qt::AlignRight);
    ends->addWidget(high);
    scaleLayout->addLayout(ends);
    scale->setFixedWidth(11 * 30 + 10 * 4);
    layout->addWidget(scale, 0, Qt::AlignLeft);

    reasonBox_ = new QWidget;
    auto* reasonLayout = new QVBoxLayout(reasonBox_);
    reasonLayout->setContentsMargins(0, 4, 0, 0);
    reasonLayout->setSpacing(6);
    auto* reasonLabel =
        label(QStringLiteral("What's the main reason for your score? (optional)"), TextStyle::caption, true);
    reasonLabel->setContentsMargins(4, 0, 0, 0);
    reasonLayout->addWidget(reasonLabel);
    reason_ = new QPlainTextEdit;
    reason_->setFont(textFont(TextStyle::callout));
    reason_->setMinimumHeight(60);
    reason_->setMaximumHeight(90);
    identify(reason_, QStringLiteral("nps-reason"), QStringLiteral("What's the main reason for your score?"));
    connect(reason_, &QPlainTextEdit::textChanged, this,
            [this] { model_->setReasonText(reason_->toPlainText().toStdString()); });
    reasonLayout->addWidget(reason_);
    auto* submit = button(QStringLiteral("Submit feedback"), ButtonStyle::prominent);
    identify(submit, QStringLiteral("nps-submit"), submit->text());
    connect(submit, &QPushButton::clicked, this, [this] { model_->submit(); });
    reasonLayout->addWidget(submit, 0, Qt::AlignLeft);
    layout->addWidget(reasonBox_);

    thanks_ = new QWidget;
    auto* thanksLayout = new QHBoxLayout(thanks_);
    thanksLayout->setContentsMargins(0, 0, 0, 0);
    thanksLayout->setSpacing(6);
    auto* check = new QLabel;
    check->setPixmap(checkmarkSymbol().pixmap(16, 16));
    thanksLayout->addWidget(check);
    auto* thanksText = label(QStringLiteral("Thanks for the feedback."), TextStyle::callout);
    identify(thanksText, QStringLiteral("nps-thanks"), thanksText->text());
    thanksLayout->addWidget(thanksText, 1);
    layout->addWidget(thanks_);

    model_->setOnChange([this] { refresh(); });
    refresh();
}

void NPSFeedbackCard::refresh() {
    using Kind = NPSFeedbackModel::Phase::Kind;
    if (model_->didDismiss()) {
        hide();
        return;
    }
    const auto& phase = model_->phase();
    for (int n = 0; n <= 10; ++n) {
        const bool selected = phase.kind == Kind::scored && phase.score == n;
        StyledButton* score = scores_[static_cast<std::size_t>(n)];
        score->setButtonStyle(selected ? ButtonStyle::prominent : ButtonStyle::outlined);
        score->setFont(textFont(TextStyle::callout, selected));
    }
    reasonBox_->setVisible(phase.kind == Kind::scored);
    thanks_->setVisible(phase.kind == Kind::thanks);
}

BuildIntentPromptView::BuildIntentPromptView(std::function<void()> onSeeRecommendations, QWidget* parent)
    : QWidget(parent) {
    identify(this, QStringLiteral("completion-build-intent-prompt"),
             QStringLiteral("Want to build software on this Mac?"));
    makeCard(this, 8);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(8);
    layout->addWidget(label(QStringLiteral("Want to build software on this Mac?"), TextStyle::headline));
    layout->addWidget(label(QStringLiteral("Whether starting out or setting up a new Mac, we'll check if you have "
                                           "everything you need."),
                            TextStyle::subheadline));
    auto* optIn = new StyledButton(QStringLiteral("See recommendations →"), ButtonStyle::bordered);
    optIn->setOnCard(true);
    identify(optIn, QStringLiteral("completion-build-intent-optin"), optIn->text());
    connect(optIn, &QPushButton::clicked, this, [onSeeRecommendations] {
        if (onSeeRecommendations) onSeeRecommendations();
    });
    layout->addWidget(optIn, 0, Qt::AlignLeft);
}

SimplifiedCompletionView::SimplifiedCompletionView(CompletionSurface surface, const UIEnvironment& environment,
                                                   std::function<void()> onSeeRecommendations,
                                                   std::function<void()> onDone, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<SimplifiedCompletionModel>(surface, *environment.services.store, *environment.telemetry,
                                                         std::move(onSeeRecommendations), std::move(onDone),
                                                         environment.scoreCards)) {
    setObjectName(QStringLiteral("completion-view"));
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    if (model_->showNPS()) {
        card_ = new NPSFeedbackCard(environment, [this] { model_->npsSubmitted(); });
        layout->addWidget(card_);
    }
    if (model_->showsBuildIntentPrompt()) {
        layout->addWidget(new BuildIntentPromptView([this] { model_->seeRecommendationsTapped(); }));
    }
    layout->addWidget(doneButton(QStringLiteral("completion-done"), card_, *model_, this), 0, Qt::AlignLeft);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QStringLiteral("Java is working"), QStringLiteral("You're all set."), content,
                                       environment.openURL));
    model_->setOnChange([this] {
        if (card_) card_->setVisible(model_->showNPS() && !card_->model().didDismiss());
    });
}

void SimplifiedCompletionView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

}  // namespace lumo::ui
