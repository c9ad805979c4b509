// Offscreen widget tests: the real views, clicked by their accessibility
// identifiers. The models' tests prove what the pages decide; these check
// the wiring, and the window's journeys walk the routes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

// Preferences that note whether the navigation stack existed when a value was
// written.
class WatchingPreferences : public test::MemoryPreferences {
public:
    void set(const std::optional<PreferenceValue>& value, const std::string& key) override {
        if (root) stackExistedAtWrite[key] = root->findChild<QWidget*>(QStringLiteral("navigation-stack")) != nullptr;
        MemoryPreferences::set(value, key);
    }
    QWidget* root = nullptr;
    std::map<std::string, bool> stackExistedAtWrite;
};

class RootFlowUITests : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(lumoraJava()); }
    void TearDown() override { ProductConfig::setCurrent(lumoraJava()); }

    std::unique_ptr<LumoRootView> makeRoot(bool consented = true) {
        preferences->root = nullptr;
        if (consented) preferences->set(PreferenceValue(true), preference_keys::consented(ProductConfig::current()));
        LumoRootView::Options options;
        options.services = makeSimulatedServices(test::bundledScenario("no-jdk.json"));
        options.services.store = preferences;
        options.services.isFixtureMode = consented;
        options.telemetry = &sink;
        options.profileMachine = [this] {
            ++profilerRuns;
            SystemProfile profile;
            profile.architecture = Architecture::appleSilicon;
            profile.macosVersion = {15, 1, 0};
            return profile;
        };
        auto root = std::make_unique<LumoRootView>(options);
        preferences->root = root.get();
        root->resize(720, 720);
        root->show();
        QApplication::processEvents();
        return root;
    }

    // The visible widget with this identifier (pages below the top of the
    // stack hold hidden ones), else the first one.
    template <class T = QPushButton>
    static T* find(QWidget& root, const QString& identifier) {
        const auto all = root.findChildren<T*>(identifier);
        EXPECT_FALSE(all.isEmpty()) << identifier.toStdString();
        for (T* candidate : all) {
            if (candidate->isVisible()) return candidate;
        }
        return all.isEmpty() ? nullptr : all.first();
    }
    static void click(QWidget& root, const QString& identifier) {
        QPushButton* button = find(root, identifier);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible()) << identifier.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
    }
    static bool visible(QWidget& root, const QString& identifier) {
        for (QWidget* widget : root.findChildren<QWidget*>(identifier)) {
            if (widget->isVisible()) return true;
        }
        return false;
    }

    std::shared_ptr<WatchingPreferences> preferences = std::make_shared<WatchingPreferences>();
    test::RecordingSink sink;
    std::atomic<int> profilerRuns{0};
};

TEST_F(RootFlowUITests, FirstLaunchShowsOnlyConsentThenContinueStoresFlagBeforeTheStack) {
    auto root = makeRoot(false);
    EXPECT_EQ(root->findChild<QWidget*>(QStringLiteral("navigation-stack")), nullptr);
    QTest::qWait(50);
    EXPECT_EQ(profilerRuns, 0);
    EXPECT_TRUE(sink.events.empty());

    QSignalSpy launched(root.get(), &LumoRootView::launchRecorded);
    click(*root, QStringLiteral("consent-continue"));
    const std::string key = preference_keys::consented(lumoraJava());
    EXPECT_TRUE(preferences->boolean(key));
    EXPECT_FALSE(preferences->stackExistedAtWrite.at(key));
    ASSERT_TRUE(launched.count() > 0 || launched.wait(30000));
    EXPECT_EQ(profilerRuns, 1);
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"consent_given", "app_launched"}));
    WAIT_FOR(visible(*root, QStringLiteral("goal-continue")));
    EXPECT_FALSE(visible(*root, QStringLiteral("consent-continue")));
}

TEST_F(RootFlowUITests, AWideWindowKeepsTheTextAtItsReadableWidthCentred) {
    auto root = makeRoot();
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
}

// The goal prompt's model owns what the detail keeps; the page shows its field
// for the options that ask, stops typing at the limit and sends what was typed.
TEST_F(RootFlowUITests, GoalDetailFieldAppearsStopsAtTheLimitAndIsSent) {
    auto root = makeRoot();
    EXPECT_FALSE(find(*root, QStringLiteral("goal-continue"))->isEnabled());
    EXPECT_FALSE(visible(*root, QStringLiteral("goal-detail-field")));
    click(*root, QStringLiteral("goal-option-work_app"));
    auto* field = find<QLineEdit>(*root, QStringLiteral("goal-detail-field"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    QTest::keyClicks(field, QString(100, QLatin1Char('j')));
    click(*root, QStringLiteral("goal-continue"));
    // The diagnose screen that follows may already have recorded its own events.
    EXPECT_EQ(sink.last("goal_selected").at("detail"), JSONValue(std::string(80, 'j')));
}

// The next-step page reaches the guided-help offer, whose buttons reach its
// model; a product without the question shows an empty page.
TEST_F(RootFlowUITests, NextStepLeadsToTheGuidedHelpOfferOrIsAnEmptyPageWithoutAPrompt) {
    auto root = makeRoot();
    root->navigation().push(Screen::nextStep());
    QApplication::processEvents();
    EXPECT_FALSE(find(*root, QStringLiteral("next-step-continue"))->isEnabled());
    click(*root, QStringLiteral("next-step-option-goal_blocked"));
    click(*root, QStringLiteral("next-step-continue"));
    WAIT_FOR(sink.count("offer_shown") == 1L);
    click(*root, QStringLiteral("offer-guided_help_plan-primary"));
    EXPECT_TRUE(visible(*root, QStringLiteral("offer-guided_help_plan-unavailable")));
    EXPECT_FALSE(visible(*root, QStringLiteral("offer-guided_help_plan-primary")));
    click(*root, QStringLiteral("offer-guided_help_plan-done"));
    EXPECT_TRUE(root->navigation().path().empty());

    root.reset();
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
    root = makeRoot();
    root->navigation().push(Screen::nextStep());
    QApplication::processEvents();
    EXPECT_TRUE(visible(*root, QStringLiteral("empty-next-step")));
    click(*root, QStringLiteral("navigation-back"));
    EXPECT_TRUE(root->navigation().path().empty());
}

// The completion page as the staged audit hosts it: the score card's Dismiss
// hides it, "See recommendations →" and "Done" reach the model.
TEST_F(RootFlowUITests, CompletionPageDismissSeeRecommendationsAndDoneReachTheModel) {
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
    AppNavigation navigation;
    navigation.push(Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}));
    test::ManualScheduler scheduler;
    UIEnvironment environment;
    environment.navigation = &navigation;
    environment.services.store = preferences;
    environment.telemetry = &sink;
    environment.scheduler = &scheduler;
    SimplifiedCompletionView page(
        CompletionSurface::promptPostFix, environment, [&] { journey::seeRecommendations(navigation); },
        [&] { navigation.backToHome(); });
    page.show();
    WAIT_FOR(visible(page, QStringLiteral("nps-card")));
    click(page, QStringLiteral("nps-dismiss"));
    EXPECT_FALSE(visible(page, QStringLiteral("nps-card")));
    click(page, QStringLiteral("completion-build-intent-optin"));
    EXPECT_EQ(navigation.path().back().auditContext()->entry, AuditEntry::buildIntent);
    click(page, QStringLiteral("completion-done"));
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_TRUE(navigation.path().empty());
}

}  // namespace
}  // namespace lumo::ui
