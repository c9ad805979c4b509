#include "LumoRootView.h"

#include <QFocusEvent>
#include <QFutureWatcher>
#include <QPainter>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "ConsentView.h"
#include "DiagnoseView.h"
#include "NextStepView.h"
#include "NotBuiltYetView.h"
#include "OfferViews.h"
#include "StagedAuditFlowView.h"
#include "Style.h"
#include "WelcomeView.h"
#include "shell/LaunchEvent.h"
#include "shell/Preferences.h"

namespace lumo::ui {

namespace {

// Pages scroll rather than clip when the window is shorter than they are.
QWidget* scrollable(QWidget* page) {
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(page);
    area->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    return area;
}

// The navigation stack's back control, as the platform draws it in a window's
// toolbar: a chevron without a title, a bezel under the pointer, "Back" to
// a screen reader and in its tooltip, and the platform's Back shortcut.
class BackControl : public QPushButton {
public:
    BackControl() {
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover, true);
        setToolTip(QStringLiteral("Back"));
        setShortcut(QKeySequence::Back);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        // Hidden on the welcome screen without moving anything beside it.
        QSizePolicy policy = sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        setSizePolicy(policy);
    }
    QSize sizeHint() const override { return {30, 24}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor ink = palette().color(QPalette::WindowText);
        if (isDown() || underMouse() || (hasFocus() && focusReasonWasKeyboard_)) {
            QColor bezel = ink;
            bezel.setAlphaF(isDown() ? 0.16f : 0.08f);
            painter.setPen(Qt::NoPen);
            painter.setBrush(bezel);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        }
        if (!isEnabled()) ink.setAlphaF(0.3f);
        painter.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF centre = QRectF(rect()).center();
        QPolygonF chevron;
        chevron << centre + QPointF(3, -6) << centre + QPointF(-3, 0) << centre + QPointF(3, 6);
        painter.drawPolyline(chevron);
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::FocusIn) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            focusReasonWasKeyboard_ = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
        }
        if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave) update();
        return QPushButton::event(event);
    }

private:
    bool focusReasonWasKeyboard_ = false;
};

}  // namespace

LumoRootView::LumoRootView(Options options, QWidget* parent) : QWidget(parent), options_(std::move(options)) {
    setObjectName(QStringLiteral("lumo-root"));
    setMinimumSize(720, 700);
    if (!options_.profileMachine) {
        const AppServices services = options_.services;
        options_.profileMachine = [services] { return SystemProfiler(services).profile(); };
    }
    environment_.navigation = &navigation_;
    environment_.services = options_.services;
    environment_.telemetry = options_.telemetry;
    environment_.profile = &profile_;
    environment_.openURL = options_.openURL;
    environment_.scheduler = &scheduler_;
    environment_.scoreCards = &scoreCards_;
    if (options_.initialProfile) profile_.publish(*options_.initialProfile);

    // The consent flag is read once, here.
    hasConsented_ = options_.services.store->boolean(preference_keys::consented(ProductConfig::current()));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The top bar is always there, so a page's title never moves when the
    // back control comes and goes.
    topBar_ = new QWidget;
    auto* topBar = topBar_;
    topBar->setObjectName(QStringLiteral("root-top-bar"));
    topBar->setFixedHeight(36);
    auto* barLayout = new QHBoxLayout(topBar);
    barLayout->setContentsMargins(22, 6, 16, 0);
    back_ = new BackControl;
    identify(back_, QStringLiteral("navigation-back"), QStringLiteral("Back"));
    connect(back_, &QPushButton::clicked, this, [this] { navigation_.pop(); });
    back_->hide();
    barLayout->addWidget(back_);
    barLayout->addStretch(1);
    if (!options_.badge.isEmpty()) {
        auto* badge = label(options_.badge, TextStyle::caption, false, true);
        badge->setWordWrap(false);
        identify(badge, QStringLiteral("simulated-mac-badge"), options_.badge);
        badge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        badge->setContentsMargins(9, 2, 9, 2);
        setTextRole(badge, TextRole::warning);
        makeCard(badge, 9, CardTone::warning);
        barLayout->addWidget(badge);
    }
    layout->addWidget(topBar);

    gate_ = new QStackedWidget;
    layout->addWidget(gate_, 1);

    if (hasConsented_) {
        showNavigationStack();
    } else {
        auto* consent = new ConsentView(environment_, [this] {
            hasConsented_ = true;
            showNavigationStack();
        });
        gate_->addWidget(consent);
    }
}

LumoRootView::~LumoRootView() { navigation_.removeObserver(observer_); }

void LumoRootView::showNavigationStack() {
    if (stack_) return;
    // Leaving the consent screen from its own button: delete it later.
    while (gate_->count() > 0) {
        QWidget* old = gate_->widget(0);
        gate_->removeWidget(old);
        old->hide();
        old->deleteLater();
    }
    stack_ = new QStackedWidget;
    stack_->setObjectName(QStringLiteral("navigation-stack"));
    stack_->addWidget(scrollable(new WelcomeView(environment_)));
    gate_->addWidget(stack_);
    gate_->setCurrentWidget(stack_);
    observer_ = navigation_.addObserver([this](AppNavigation::Field field) {
        if (field == AppNavigation::Field::path) syncPath();
    });
    syncPath();
    runStartupTask();
}

void LumoRootView::runStartupTask() {
    if (startupStarted_) return;
    startupStarted_ = true;
    if (!StartupPlan::needsProfiling(profile_.profile(), options_.services.isFixtureMode)) {
        recordLaunch();
        return;
    }
    auto* watcher = new QFutureWatcher<SystemProfile>(this);
    connect(watcher, &QFutureWatcher<SystemProfile>::finished, this, [this, watcher] {
        profile_.publish(watcher->result());
        watcher->deleteLater();
        recordLaunch();
    });
    watcher->setFuture(QtConcurrent::run(options_.profileMachine));
}

void LumoRootView::recordLaunch() {
    if (options_.telemetry) options_.telemetry->emit("app_launched", StartupPlan::launchProperties(profile_.profile()));
    Q_EMIT launchRecorded();
}

void LumoRootView::syncPath() {
    const std::vector<Screen>& path = navigation_.path();
    std::size_t common = 0;
    while (common < path.size() && common < shownPath_.size() && path[common] == shownPath_[common]) ++common;
    // Drop the pages above the common part (index 0 is the welcome screen).
    while (static_cast<std::size_t>(stack_->count()) > common + 1) {
        QWidget* page = stack_->widget(stack_->count() - 1);
        stack_->removeWidget(page);
        page->hide();
        page->deleteLater();
    }
    for (std::size_t i = common; i < path.size(); ++i) stack_->addWidget(scrollable(makeDestination(path[i])));
    shownPath_ = path;
    stack_->setCurrentIndex(stack_->count() - 1);
    back_->setVisible(!path.empty());
}

QWidget* LumoRootView::makeDestination(const Screen& screen) {
    return std::visit(
        [&](const auto& kind) -> QWidget* {
            using Kind = std::decay_t<decltype(kind)>;
            if constexpr (std::is_same_v<Kind, Screen::Diagnose>) {
                return new DiagnoseView(environment_);
            } else if constexpr (std::is_same_v<Kind, Screen::NextStep>) {
                const auto& prompt = ProductConfig::current().nextStepPrompt;
                if (!prompt) {
                    auto* empty = new QWidget;
                    empty->setObjectName(QStringLiteral("empty-next-step"));
                    return empty;
                }
                return new NextStepView(*prompt, environment_);
            } else if constexpr (std::is_same_v<Kind, Screen::ContentOffer>) {
                return new ContentOfferView(kind.offerID, environment_);
            } else if constexpr (std::is_same_v<Kind, Screen::GuidedHelpOffer>) {
                return new GuidedHelpOfferView(environment_);
            } else if constexpr (std::is_same_v<Kind, Screen::AICodingOffer>) {
                return new AICodingInterestView(environment_);
            } else if constexpr (std::is_same_v<Kind, Screen::Audit>) {
                return new StagedAuditFlowView(kind.context, environment_);
            } else {
                return new NotBuiltYetView(screen, environment_);
            }
        },
        screen.kind);
}

}  // namespace lumo::ui
