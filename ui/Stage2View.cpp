#include "Stage2View.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ScreenScaffold.h"
#include "Style.h"

namespace lumo::ui {

Stage2View::Stage2View(const SystemProfile& profile, std::function<void()> onAdvance, const UIEnvironment& environment,
                       RemediationSheetPresenter presenter, QWidget* parent)
    : AuditStagePage(environment, std::move(presenter), parent),
      model_(std::make_unique<TerminalPageModel>(profile, std::move(onAdvance), *environment.telemetry,
                                                 environment.openURL)) {
    identify(this, QStringLiteral("audit-stage-terminal"), QStringLiteral("Try Warp"));
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* install = button(QStringLiteral("Install Warp (recommended)"), ButtonStyle::prominent, ControlSize::large);
    identify(install, QStringLiteral("audit-install-warp"), install->text());
    makePrimaryAction(install);
    connect(install, &QPushButton::clicked, this, [this] { model_->installTapped(); });
    layout->addWidget(install, 0, Qt::AlignLeft);

    auto* learn = button(QStringLiteral("Learn more about Warp →"), ButtonStyle::link);
    identify(learn, QStringLiteral("audit-learn-warp"), learn->text());
    connect(learn, &QPushButton::clicked, this, [this] { model_->learnMoreTapped(); });
    layout->addWidget(learn, 0, Qt::AlignLeft);

    auto* disclosure = label(QString::fromStdString(TerminalPageModel::disclosure()), TextStyle::footnote, true);
    identify(disclosure, QStringLiteral("audit-warp-disclosure"), disclosure->text());
    layout->addWidget(disclosure);

    auto* later = button(QStringLiteral("Maybe later"), ButtonStyle::borderless);
    identify(later, QStringLiteral("audit-stage-skip"), later->text());
    connect(later, &QPushButton::clicked, this, [this] { model_->maybeLaterTapped(); });
    layout->addWidget(later, 0, Qt::AlignLeft);
    actions_ = {install, learn, later};

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->addWidget(new ScreenScaffold(QStringLiteral("Try Warp — the AI-assisted terminal"),
                                       QStringLiteral("Warp is a modern macOS terminal with a better interface. AI "
                                                      "assistance helps you learn and remember terminal commands. "
                                                      "It's the terminal we recommend for Mac."),
                                       content, environment.openURL));
    model_->setOnChange([this] { refresh(); });
    refresh();
}

void Stage2View::refresh() {
    const bool idle = !model_->sheetRemediation() && !model_->hasAdvanced();
    for (QPushButton* action : actions_) action->setEnabled(idle);
    syncSheet(*model_);
}

}  // namespace lumo::ui
