#include "NextStepView.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

NextStepView::NextStepView(const NextStepPrompt& prompt, const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent),
      model_(std::make_unique<NextStepModel>(prompt, *environment.navigation, *environment.telemetry)) {
    setObjectName(QStringLiteral("next-step-view"));
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto* options = new QVBoxLayout;
    options->setSpacing(6);
    for (const NextStepOption& option : prompt.options) {
        QPushButton* row = radioOption(QString::fromStdString(option.label),
                                       QStringLiteral("next-step-option-") + QString::fromStdString(option.key));
        const std::string key = option.key;
        connect(row, &QPushButton::clicked, this, [this, key] { model_->select(key); });
        options->addWidget(row, 0, Qt::AlignLeft);
        options_[option.key] = row;
    }
    layout->addLayout(options);

    layout->addSpacing(8);
    continue_ = button(QStringLiteral("Show next step"), ButtonStyle::prominent, ControlSize::large);
    identify(continue_, QStringLiteral("next-step-continue"), continue_->text());
    makePrimaryAction(continue_);
    connect(continue_, &QPushButton::clicked, this, [this] { model_->continueTapped(); });
    layout->addWidget(continue_, 0, Qt::AlignLeft);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QString::fromStdString(prompt.question), QString::fromStdString(prompt.leadIn),
                                       content, environment.openURL));

    model_->setOnChange([this] { refresh(); });
    refresh();
}

void NextStepView::refresh() {
    for (const auto& [key, row] : options_) setRadioSelected(row, model_->selectedKey() == key);
    continue_->setEnabled(model_->canContinue());
}

}  // namespace lumo::ui
