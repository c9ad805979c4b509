#include "ConsentView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

namespace {
QWidget* section(const std::string& title, const std::vector<std::string>& bullets) {
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(label(QString::fromStdString(title), TextStyle::headline));
    for (const std::string& bullet : bullets) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* dot = label(QStringLiteral("•"), TextStyle::callout, true);
        dot->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        row->addWidget(dot, 0, Qt::AlignTop);
        row->addWidget(label(QString::fromStdString(bullet), TextStyle::callout), 1);
        layout->addLayout(row);
    }
    return widget;
}
}  // namespace

ConsentView::ConsentView(const UIEnvironment& environment, std::function<void()> onContinue, QWidget* parent)
    : QWidget(parent),
      model_(
          std::make_unique<ConsentModel>(*environment.services.store, *environment.telemetry, std::move(onContinue))) {
    setObjectName(QStringLiteral("consent-view"));
    auto* layout = new QVBoxLayout(this);
    keepReadableWidth(this, layout, 32);
    layout->setSpacing(24);

    layout->addWidget(label(QString::fromStdString(model_->heading()), TextStyle::largeTitle, false, true));

    auto* sections = new QVBoxLayout;
    sections->setSpacing(16);
    sections->addWidget(section(model_->copy().whatTitle, model_->copy().whatBullets));
    sections->addWidget(section(model_->copy().privacyTitle, model_->copy().privacyBullets));
    layout->addLayout(sections);

    auto* privacyRow = new QHBoxLayout;
    privacyRow->setSpacing(8);
    auto* privacyLead = label(QStringLiteral("Read the privacy details:"), TextStyle::footnote, true);
    privacyLead->setWordWrap(false);
    privacyLead->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    privacyRow->addWidget(privacyLead, 0, Qt::AlignVCenter);
    auto* privacyLink = button(QString::fromStdString(model_->privacyLinkLabel()), ButtonStyle::link);
    identify(privacyLink, QStringLiteral("consent-privacy-link"), privacyLink->text());
    const URLOpener openURL = environment.openURL;
    connect(privacyLink, &QPushButton::clicked, this, [this, openURL] {
        if (openURL) openURL(model_->privacyURL());
    });
    privacyRow->addWidget(privacyLink, 0, Qt::AlignVCenter);
    privacyRow->addStretch(1);
    layout->addLayout(privacyRow);

    layout->addStretch(1);

    auto* continueButton = button(QStringLiteral("Continue"), ButtonStyle::prominent, ControlSize::large);
    identify(continueButton, QStringLiteral("consent-continue"), continueButton->text());
    makePrimaryAction(continueButton);
    connect(continueButton, &QPushButton::clicked, this, [this] { model_->continueTapped(); });
    layout->addWidget(continueButton, 0, Qt::AlignLeft);
}

}  // namespace lumo::ui
