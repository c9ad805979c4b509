// Offscreen widget tests: the real views, clicked by their accessibility
// identifiers. The models' tests prove what the pages decide; these check
// the wiring, and the window's journeys walk the routes.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <atomic>

#include "../screens/ScreenTestSupport.h"
#include "CompletionViews.h"
#include "JavaProduct.h"
#include "LumoRootView.h"
#include "ScreenScaffold.h"
#include "UITestSupport.h"
#include "shell/Preferences.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo::ui {
namespace {

using test::click;
using test::visible;

class RootFlowUITests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(lumoraJava()); }

    std::unique_ptr<LumoRootView> makeRoot(bool consented = true) {
        if (consented) preferences->set(PreferenceValue(true), preference_keys::consented(ProductConfig::current()));
        LumoRootView::Options options;
        options.services = makeSimulatedServices(test::bundledScenario("no-jdk.json"));
        options.services.store = preferences;
        options.services.isFixtureMode = consented;
        options.telemetry = &sink;
        options.profileMachine = [this] {
            ++profilerRuns;
            return SystemProfile();
        };
        auto root = std::make_unique<LumoRootView>(options);
        root->resize(720, 720);
        root->show();
        QApplication::processEvents();
        return root;
    }

    std::shared_ptr<InMemoryKeyValueStore> preferences = std::make_shared<InMemoryKeyValueStore>();
    test::RecordingSink sink;
    std::atomic<int> profilerRuns{0};
};

// The consent page alone until Continue; then the launch, and the goal page:
// its text keeps its readable width in a wide window, and its detail field
// shows for the options that ask, stops typing at the limit and sends what
// was typed.
TEST_F(RootFlowUITests, FirstLaunchShowsOnlyConsentThenTheGoalPage) {
    auto root = makeRoot(false);
    EXPECT_EQ(root->findChild<QWidget*>(QStringLiteral("navigation-stack")), nullptr);
    QTest::qWait(50);
    EXPECT_EQ(profilerRuns, 0);
    EXPECT_TRUE(sink.events.empty());

    QSignalSpy launched(root.get(), &LumoRootView::launchRecorded);
    click(*root, "consent-continue");
    EXPECT_TRUE(preferences->boolean(preference_keys::consented(lumoraJava())));
    ASSERT_TRUE(launched.count() > 0 || launched.wait(30000));
    EXPECT_EQ(profilerRuns, 1);
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"consent_given", "app_launched"}));
    WAIT_FOR(visible(*root, "goal-continue"));

    QLabel* title = nullptr;
    for (QLabel* candidate : root->findChildren<QLabel*>())
        if (candidate->isVisible() && candidate->text() == QStringLiteral("Lumora for Java")) title = candidate;
    ASSERT_NE(title, nullptr);
    for (const int width : {720, 1280}) {
        root->resize(width, 720);
        QApplication::processEvents();
        const int textWidth = std::min(kReadableWidth, width - 64);
        EXPECT_EQ(title->width(), textWidth) << width;
        EXPECT_NEAR(title->mapTo(root.get(), QPoint(0, 0)).x(), (width - textWidth) / 2, 1) << width;
    }

    click(*root, "goal-option-work_app");
    ASSERT_TRUE(visible(*root, "goal-detail-field"));
    QTest::keyClicks(test::shown<QLineEdit>(*root, "goal-detail-field"), QString(100, QLatin1Char('j')));
    click(*root, "goal-continue");
    // The diagnose screen that follows may already have recorded its own events.
    EXPECT_EQ(sink.last("goal_selected").at("detail"), JSONValue(std::string(80, 'j')));
}

// The next-step page reaches the guided-help offer, whose buttons reach its
// model.
TEST_F(RootFlowUITests, NextStepLeadsToTheGuidedHelpOffer) {
    auto root = makeRoot();
    root->navigation().push(Screen::nextStep());
    click(*root, "next-step-option-goal_blocked");
    click(*root, "next-step-continue");
    WAIT_FOR(sink.count("offer_shown") == 1L);
    click(*root, "offer-guided_help_plan-primary");
    EXPECT_TRUE(visible(*root, "offer-guided_help_plan-unavailable"));
    click(*root, "offer-guided_help_plan-done");
    EXPECT_TRUE(root->navigation().path().empty());
}

// The completion page as the staged audit hosts it: the score card's Dismiss
// hides it, "See recommendations →" and "Done" reach the model.
TEST_F(RootFlowUITests, CompletionPageDismissSeeRecommendationsAndDoneReachTheModel) {
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
    AppNavigation navigation;
    test::ManualScheduler scheduler;  // the card needs one; no test here submits a score
    UIEnvironment environment;
    environment.scheduler = &scheduler;
    environment.navigation = &navigation;
    environment.services.store = preferences;
    environment.telemetry = &sink;
    SimplifiedCompletionView page(
        CompletionSurface::promptPostFix, environment, [&] { journey::seeRecommendations(navigation); },
        [&] { navigation.backToHome(); });
    page.show();
    WAIT_FOR(visible(page, "nps-card"));
    click(page, "nps-dismiss");
    EXPECT_FALSE(visible(page, "nps-card"));
    click(page, "completion-build-intent-optin");
    EXPECT_EQ(navigation.path().back().auditContext()->entry, AuditEntry::buildIntent);
    click(page, "completion-done");
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_TRUE(navigation.path().empty());
}

}  // namespace
}  // namespace lumo::ui
