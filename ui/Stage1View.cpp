#include "Stage1View.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

namespace {

QWidget* block(int spacing = 8) {
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return widget;
}

QPushButton* linkButton(const QString& title, const QString& identifier) {
    auto* link = button(title, ButtonStyle::link);
    identify(link, identifier, title);
    return link;
}

}  // namespace

Stage1View::Stage1View(const SystemProfile& profile, std::function<void()> onAdvance,
                       Stage1Foundations::ProfileRefresh onProfileRefresh, const UIEnvironment& environment,
                       RemediationSheetPresenter presenter, QWidget* parent)
    : AuditStagePage(environment, std::move(presenter), parent),
      model_(std::make_unique<FoundationsPageModel>(profile, std::move(onAdvance), std::move(onProfileRefresh),
                                                    *environment.telemetry, environment.openURL)) {
    identify(this, QStringLiteral("audit-stage-foundations"), QStringLiteral("System check"));
    auto* content = block(20);
    auto* layout = static_cast<QVBoxLayout*>(content->layout());

    if (model_->showsHomebrewBlock()) {
        auto* homebrew = block();
        auto* inner = homebrew->layout();
        inner->addWidget(label(QStringLiteral("✗ Homebrew missing."), TextStyle::body, false, true));
        inner->addWidget(label(QStringLiteral("We'll run the official Homebrew install script:"), TextStyle::callout));
        auto* command = label(QString::fromStdString(FoundationsPageModel::homebrewCommand()), TextStyle::callout);
        command->setFont(monospacedFont(11));
        makeSelectable(command);
        command->setContentsMargins(10, 8, 10, 8);
        makeCard(command, 6);
        identify(command, QStringLiteral("audit-homebrew-command"), command->text());
        inner->addWidget(command);
        auto* install =
            button(QStringLiteral("Install Homebrew (recommended)"), ButtonStyle::prominent, ControlSize::large);
        identify(install, QStringLiteral("audit-install-homebrew"), install->text());
        makePrimaryAction(install);
        connect(install, &QPushButton::clicked, this, [this] { model_->installHomebrewTapped(); });
        auto* later = button(QStringLiteral("Maybe later"), ButtonStyle::borderless);
        identify(later, QStringLiteral("audit-stage-maybe-later"), later->text());
        connect(later, &QPushButton::clicked, this, [this] { model_->maybeLaterTapped(); });
        auto* buttons = new QHBoxLayout;
        buttons->setSpacing(12);
        buttons->addWidget(install);
        buttons->addWidget(later);
        buttons->addStretch(1);
        static_cast<QVBoxLayout*>(inner)->addSpacing(4);
        static_cast<QVBoxLayout*>(inner)->addLayout(buttons);
        actions_ = {install, later};
        layout->addWidget(homebrew);
    } else if (model_->showsToolsBlock()) {
        auto* tools = block();
        auto* inner = tools->layout();
        inner->addWidget(label(QStringLiteral("✗ Xcode Command Line Tools missing."), TextStyle::body, false, true));
        QLabel* advice = markdownLabel(QStringLiteral("Homebrew is installed but Xcode Command Line Tools aren't — "
                                                      "this is unusual. Run `xcode-select --install` in Terminal, or "
                                                      "read the install guide."),
                                       TextStyle::callout, false, environment.openURL);
        makeSelectable(advice);
        inner->addWidget(advice);
        auto* guide = linkButton(QStringLiteral("Read the article on Brimwell →"), QStringLiteral("audit-clt-guide"));
        connect(guide, &QPushButton::clicked, this, [this] { model_->toolsGuideTapped(); });
        inner->addWidget(guide);
        inner->setAlignment(guide, Qt::AlignLeft);
        layout->addWidget(tools);
    }
    if (model_->showsMacOSBlock()) {
        auto* macOS = block();
        auto* inner = macOS->layout();
        inner->addWidget(label(QStringLiteral("→ Your macOS is several versions behind the current release."),
                               TextStyle::body, false, true));
        auto* guide = linkButton(QStringLiteral("How to update macOS →"), QStringLiteral("audit-macos-guide"));
        connect(guide, &QPushButton::clicked, this, [this] { model_->macOSGuideTapped(); });
        inner->addWidget(guide);
        inner->setAlignment(guide, Qt::AlignLeft);
        layout->addWidget(macOS);
    }
    // After a successful Homebrew install the Mac is checked again before
    // the audit moves on.
    refreshing_ = label(QStringLiteral("Checking your Mac again…"), TextStyle::callout, true);
    identify(refreshing_, QStringLiteral("audit-stage-refreshing"), QStringLiteral("Checking your Mac again"));
    layout->addWidget(refreshing_);
    auto* proceed = button(QStringLiteral("Continue"), ButtonStyle::prominent, ControlSize::large);
    identify(proceed, QStringLiteral("audit-stage-skip"), proceed->text());
    if (!model_->showsHomebrewBlock()) makePrimaryAction(proceed);
    connect(proceed, &QPushButton::clicked, this, [this] { model_->continueTapped(); });
    layout->addWidget(proceed, 0, Qt::AlignLeft);
    actions_.push_back(proceed);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QStringLiteral("System check"), QStringLiteral("Here's what we found."), content,
                                       environment.openURL));
    model_->setOnChange([this] { refresh(); });
    refresh();
}

void Stage1View::refresh() {
    const bool idle = !model_->isRefreshing() && !model_->sheetRemediation() && !model_->hasAdvanced();
    for (QPushButton* action : actions_) action->setEnabled(idle);
    refreshing_->setVisible(model_->isRefreshing());
    syncSheet(*model_);
}

}  // namespace lumo::ui
