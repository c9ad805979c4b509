// Offscreen widget tests: the real views, clicked by their accessibility
// identifiers.
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
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"

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

    std::unique_ptr<LumoRootView> makeRoot(bool isFixtureMode = false, bool withFakeProfiler = true) {
        LumoRootView::Options options;
        // The simulated Mac, so that every destination has services to use.
        auto scenario = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/no-jdk.json");
        EXPECT_TRUE(scenario);
        if (scenario) options.services = makeSimulatedServices(*scenario);
        options.services.store = preferences;
        options.services.isFixtureMode = isFixtureMode;
        options.telemetry = &sink;
        options.openURL = [this](const std::string& url) { opened.push_back(url); };
        if (withFakeProfiler) {
            options.profileMachine = [this] {
                ++profilerRuns;
                SystemProfile profile;
                profile.architecture = Architecture::appleSilicon;
                profile.macosVersion = {15, 1, 0};
                profile.shell = Shell::zsh();
                return profile;
            };
        }
        auto root = std::make_unique<LumoRootView>(options);
        preferences->root = root.get();
        root->resize(720, 720);
        root->show();
        return root;
    }

    void consent() { preferences->set(PreferenceValue(true), preference_keys::consented(ProductConfig::current())); }

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
    std::vector<std::string> opened;
    std::atomic<int> profilerRuns{0};
};

TEST_F(RootFlowUITests, FirstLaunchShowsOnlyConsentThenContinueStoresFlagBeforeTheStack) {
    auto root = makeRoot();
    QApplication::processEvents();
    EXPECT_TRUE(visible(*root, QStringLiteral("consent-continue")));
    EXPECT_EQ(root->findChild<QWidget*>(QStringLiteral("navigation-stack")), nullptr);
    EXPECT_EQ(find(*root, QStringLiteral("consent-privacy-link"))->text().toStdString(),
              text::hostAndPath(lumoraJava().urls.privacy));
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
    EXPECT_EQ(sink.last().at("arch"), JSONValue("arm64"));
    EXPECT_EQ(sink.last().at("macos_major"), JSONValue(15));
    ASSERT_TRUE(root->profileStore().profile());
    WAIT_FOR(visible(*root, QStringLiteral("goal-continue")));
    EXPECT_FALSE(visible(*root, QStringLiteral("consent-continue")));
}

TEST_F(RootFlowUITests, AWideWindowKeepsTheTextAtItsReadableWidthCentred) {
    consent();
    auto root = makeRoot(true);
    QLabel* title = nullptr;
    for (QLabel* candidate : root->findChildren<QLabel*>())
        if (candidate->isVisible() && candidate->text() == QStringLiteral("Lumora for Java")) title = candidate;
    ASSERT_NE(title, nullptr);
    for (const int width : {720, 1280, 1600}) {
        root->resize(width, 720);
        QApplication::processEvents();
        const int textWidth = std::min(kReadableWidth, width - 64);
        EXPECT_EQ(title->width(), textWidth) << width;
        EXPECT_NEAR(title->mapTo(root.get(), QPoint(0, 0)).x(), (width - textWidth) / 2, 1) << width;
    }
    // The top bar stays on the welcome screen, so no title moves when the back control comes.
    EXPECT_TRUE(visible(*root, QStringLiteral("root-top-bar")));
    EXPECT_FALSE(visible(*root, QStringLiteral("navigation-back")));
}

// The goal prompt's model owns what the detail keeps; the page shows its field
// for the options that ask, stops typing at the limit and sends what was typed.
TEST_F(RootFlowUITests, GoalDetailFieldAppearsStopsAtTheLimitAndIsSent) {
    consent();
    auto root = makeRoot(true);
    EXPECT_FALSE(find(*root, QStringLiteral("goal-continue"))->isEnabled());
    EXPECT_FALSE(visible(*root, QStringLiteral("goal-detail-field")));
    click(*root, QStringLiteral("goal-option-work_app"));
    auto* field = find<QLineEdit>(*root, QStringLiteral("goal-detail-field"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Which app?"));
    QTest::keyClicks(field, QString(100, QLatin1Char('j')));
    EXPECT_EQ(field->text().size(), 80);

    click(*root, QStringLiteral("goal-continue"));
    // The diagnose screen that follows may already have recorded its own events.
    const JSONObject goal = sink.last("goal_selected");
    ASSERT_FALSE(goal.empty()) << ::testing::PrintToString(sink.names());
    EXPECT_EQ(goal.at("detail"), JSONValue(std::string(80, 'j')));
    EXPECT_EQ(root->navigation().selectedGoal(), "work_app");
    EXPECT_TRUE(visible(*root, QStringLiteral("diagnose-view")));
}

TEST_F(RootFlowUITests, GoalBlockedLeadsToTheGuidedHelpOfferAndItsUnavailableMessage) {
    consent();
    auto root = makeRoot(true);
    click(*root, QStringLiteral("goal-option-gaming"));
    click(*root, QStringLiteral("goal-continue"));
    // The diagnose flow's continue, without running a diagnosis.
    journey::diagnoseFinished(root->navigation(), ProductConfig::current(), std::nullopt);
    QApplication::processEvents();
    EXPECT_FALSE(find(*root, QStringLiteral("next-step-continue"))->isEnabled());
    click(*root, QStringLiteral("next-step-option-goal_blocked"));
    click(*root, QStringLiteral("next-step-continue"));

    EXPECT_EQ(root->navigation().path().back(), Screen::guidedHelpOffer());
    WAIT_FOR(sink.count("offer_shown") == 1L);

    click(*root, QStringLiteral("offer-guided_help_plan-primary"));
    EXPECT_TRUE(visible(*root, QStringLiteral("offer-guided_help_plan-unavailable")));
    EXPECT_FALSE(visible(*root, QStringLiteral("offer-guided_help_plan-primary")));
    EXPECT_EQ(sink.count("offer_action"), 1);

    click(*root, QStringLiteral("offer-guided_help_plan-done"));
    QApplication::processEvents();
    EXPECT_TRUE(root->navigation().path().empty());
    EXPECT_TRUE(visible(*root, QStringLiteral("goal-continue")));
}

// The completion page as the staged audit hosts it: "See recommendations →"
// pushes the build-intent audit, "Done" goes home.
class CompletionUITests : public RootFlowUITests {
protected:
    std::unique_ptr<QWidget> openCompletionPage(CompletionSurface surface = CompletionSurface::promptPostFix) {
        ProductConfig::setCurrent(ProductConfig::fixwellJava());
        navigation.push(Screen::audit({AuditEntry::heuristic, surface, std::nullopt}));
        environment.navigation = &navigation;
        environment.services.store = preferences;
        environment.telemetry = &sink;
        environment.scheduler = &scheduler;
        auto page = std::make_unique<SimplifiedCompletionView>(
            surface, environment, [this] { journey::seeRecommendations(navigation); },
            [this] { navigation.backToHome(); });
        page->resize(720, 700);
        page->show();
        QApplication::processEvents();
        return page;
    }
    AppNavigation navigation;
    UIEnvironment environment;
    test::ManualScheduler scheduler;  // the submitting pause ends when a test says so
};

// The score card's phases and the page's events are the models'; the page
// hides a dismissed card and its buttons reach the model.
TEST_F(CompletionUITests, DismissSeeRecommendationsAndDoneReachTheModel) {
    auto root = openCompletionPage();
    WAIT_FOR(visible(*root, QStringLiteral("nps-card")));
    EXPECT_TRUE(visible(*root, QStringLiteral("completion-build-intent-prompt")));
    click(*root, QStringLiteral("nps-dismiss"));
    EXPECT_FALSE(visible(*root, QStringLiteral("nps-card")));
    click(*root, QStringLiteral("completion-build-intent-optin"));
    EXPECT_EQ(sink.last(), (JSONObject{{"surface", "post_fix"}}));
    EXPECT_EQ(navigation.path().back(),
              Screen::audit({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}));
    click(*root, QStringLiteral("completion-done"));
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(RootFlowUITests, NextStepWithoutAPromptShowsAnEmptyPage) {
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
    consent();
    auto root = makeRoot(true);
    root->navigation().push(Screen::nextStep());
    QApplication::processEvents();
    EXPECT_TRUE(visible(*root, QStringLiteral("empty-next-step")));
    click(*root, QStringLiteral("navigation-back"));
    EXPECT_TRUE(root->navigation().path().empty());
}

}  // namespace
}  // namespace lumo::ui
