#include "OfferViews.h"

#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

namespace {

QVBoxLayout* stack(QWidget* widget, int spacing) {
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

void fill(QWidget* host, const std::string& title, const std::string& body, QWidget* content,
          const URLOpener& openURL) {
    auto* page = stack(host, 0);
    page->addWidget(new ScreenScaffold(QString::fromStdString(title), QString::fromStdString(body), content, openURL));
}

// A large offer button that calls `onClick` on `owner` when clicked.
template <class Slot>
QPushButton* offerButton(const QString& title, ButtonStyle style, const QString& identifier, QObject* owner,
                         Slot onClick) {
    auto* result = button(title, style, ControlSize::large);
    identify(result, identifier, title);
    QObject::connect(result, &QPushButton::clicked, owner, std::move(onClick));
    return result;
}

}  // namespace

ContentOfferView::ContentOfferView(const std::string& offerID, const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<ContentOfferModel>(offerID, *environment.navigation, *environment.telemetry,
                                                 environment.openURL)) {
    setObjectName(QStringLiteral("content-offer-view"));
    const QString prefix = QStringLiteral("offer-") + QString::fromStdString(offerID);
    auto* content = new QWidget;
    auto* layout = stack(content, 12);
    if (model_->hasPrimary()) {
        auto* primary = offerButton(QString::fromStdString(model_->primaryLabel()), ButtonStyle::prominent,
                                    prefix + QStringLiteral("-primary"), this, [this] { model_->primaryTapped(); });
        makePrimaryAction(primary);
        layout->addWidget(primary, 0, Qt::AlignLeft);
    }
    auto* done = offerButton(QStringLiteral("Done — back to home"), ButtonStyle::bordered,
                             prefix + QStringLiteral("-dismiss"), this, [this] { model_->dismissTapped(); });
    if (!model_->hasPrimary()) makePrimaryAction(done);
    layout->addWidget(done, 0, Qt::AlignLeft);
    fill(this, model_->title(), model_->explainer(), content, environment.openURL);
}

void ContentOfferView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

GuidedHelpOfferView::GuidedHelpOfferView(const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<GuidedHelpOfferModel>(*environment.navigation, *environment.telemetry,
                                                    environment.openURL)) {
    setObjectName(QStringLiteral("guided-help-offer-view"));
    auto* content = new QWidget;
    auto* layout = stack(content, 12);

    offerButtons_ = new QWidget;
    auto* offerLayout = stack(offerButtons_, 12);
    auto* primary =
        offerButton(QString::fromStdString(model_->primaryLabel()), ButtonStyle::prominent,
                    QStringLiteral("offer-guided_help_plan-primary"), this, [this] { model_->primaryTapped(); });
    makePrimaryAction(primary);
    offerLayout->addWidget(primary, 0, Qt::AlignLeft);
    auto* noThanks =
        offerButton(QStringLiteral("No thanks"), ButtonStyle::bordered,
                    QStringLiteral("offer-guided_help_plan-dismiss"), this, [this] { model_->noThanksTapped(); });
    offerLayout->addWidget(noThanks, 0, Qt::AlignLeft);
    layout->addWidget(offerButtons_);

    unavailable_ = new QWidget;
    auto* unavailableLayout = stack(unavailable_, 12);
    auto* message = label(QStringLiteral("Thanks — this isn't available yet. We're seeing how many people want it. "
                                         "You haven't been charged, and we didn't collect any personal details."),
                          TextStyle::callout);
    identify(message, QStringLiteral("offer-guided_help_plan-unavailable"), message->text());
    message->setContentsMargins(10, 10, 10, 10);
    makeCard(message, 8);
    makeSelectable(message);
    unavailableLayout->addWidget(message);
    auto* done = offerButton(QStringLiteral("Done — back to home"), ButtonStyle::bordered,
                             QStringLiteral("offer-guided_help_plan-done"), this, [this] { model_->doneTapped(); });
    makePrimaryAction(done);
    unavailableLayout->addWidget(done, 0, Qt::AlignLeft);
    layout->addWidget(unavailable_);

    fill(this, model_->title(), model_->explainer(), content, environment.openURL);
    model_->setOnChange([this] { refresh(); });
    refresh();
}

void GuidedHelpOfferView::refresh() {
    offerButtons_->setVisible(!model_->showedUnavailable());
    unavailable_->setVisible(model_->showedUnavailable());
}

void GuidedHelpOfferView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

AICodingInterestView::AICodingInterestView(const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<AICodingInterestModel>(*environment.navigation, *environment.telemetry,
                                                     environment.openURL)) {
    setObjectName(QStringLiteral("ai-coding-offer-view"));
    auto* content = new QWidget;
    auto* layout = stack(content, 12);
    if (model_->hasPrimary()) {
        auto* primary =
            offerButton(QString::fromStdString(model_->primaryLabel()), ButtonStyle::prominent,
                        QStringLiteral("offer-ai_coding_setup-primary"), this, [this] { model_->primaryTapped(); });
        makePrimaryAction(primary);
        layout->addWidget(primary, 0, Qt::AlignLeft);
    }
    auto* noThanks =
        offerButton(QStringLiteral("No thanks"), ButtonStyle::bordered, QStringLiteral("offer-ai_coding_setup-dismiss"),
                    this, [this] { model_->noThanksTapped(); });
    if (!model_->hasPrimary()) makePrimaryAction(noThanks);
    layout->addWidget(noThanks, 0, Qt::AlignLeft);
    fill(this, model_->title(), model_->explainer(), content, environment.openURL);
}

void AICodingInterestView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_->appeared();
}

}  // namespace lumo::ui
