#include "WelcomeView.h"

#include <QPushButton>
#include <QVBoxLayout>

#include "GoalPromptView.h"
#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

WelcomeView::WelcomeView(const UIEnvironment& environment, QWidget* parent)
    : QWidget(parent), model_(std::make_unique<WelcomeModel>(*environment.navigation)) {
    setObjectName(QStringLiteral("welcome-view"));
    QWidget* content = nullptr;
    if (const GoalPrompt* prompt = model_->goalPrompt()) {
        content = new GoalPromptView(*prompt, *environment.telemetry,
                                     [this](const std::string& key) { model_->goalChosen(key); });
    } else {
        content = new QWidget;
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* start = button(QString::fromStdString(model_->startLabel()), ButtonStyle::prominent, ControlSize::large);
        identify(start, QStringLiteral("welcome-diagnose-button"), start->text());
        makePrimaryAction(start);
        connect(start, &QPushButton::clicked, this, [this] { model_->startTapped(); });
        layout->addWidget(start, 0, Qt::AlignLeft);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ScreenScaffold(QString::fromStdString(model_->title()),
                                         QString::fromStdString(model_->explainer()), content, environment.openURL));
}

}  // namespace lumo::ui
