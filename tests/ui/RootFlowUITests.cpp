// Offscreen widget tests: the real views, clicked by their accessibility
// identifiers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
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

TEST_F(RootFlowUITests, LaterLaunchSkipsConsentAndAnotherProductAsksAgain) {
    consent();
    {
        auto root = makeRoot();
        QSignalSpy launched(root.get(), &LumoRootView::launchRecorded);
        EXPECT_TRUE(visible(*root, QStringLiteral("goal-continue")));
        EXPECT_FALSE(visible(*root, QStringLiteral("welcome-diagnose-button")));
        ASSERT_TRUE(launched.count() > 0 || launched.wait(30000));
        EXPECT_EQ(profilerRuns, 1);
    }
    ProductConfig::setCurrent(ProductConfig::fixwellJava());
    auto other = makeRoot();
    EXPECT_TRUE(visible(*other, QStringLiteral("consent-continue")));
    click(*other, QStringLiteral("consent-continue"));
    QPushButton* start = find(*other, QStringLiteral("welcome-diagnose-button"));
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(start->text(), QStringLiteral("Diagnose Java"));
    EXPECT_EQ(other->findChild<QWidget*>(QStringLiteral("goal-continue")), nullptr);
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

TEST_F(RootFlowUITests, FixtureModeWithoutProfileLaunchesWithNoPropertiesAndNoProfiling) {
    consent();
    auto root = makeRoot(/*isFixtureMode=*/true);
    QApplication::processEvents();
    EXPECT_EQ(profilerRuns, 0);
    ASSERT_EQ(sink.names(), std::vector<std::string>{"app_launched"});
    EXPECT_TRUE(sink.last().empty());
}

TEST_F(RootFlowUITests, GoalDetailFieldAppearsTruncatesSurvivesAndClears) {
    consent();
    auto root = makeRoot(true);
    EXPECT_FALSE(find(*root, QStringLiteral("goal-continue"))->isEnabled());
    EXPECT_FALSE(visible(*root, QStringLiteral("goal-detail-field")));

    click(*root, QStringLiteral("goal-option-work_app"));
    auto* field = find<QLineEdit>(*root, QStringLiteral("goal-detail-field"));
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Which app?"));
    EXPECT_TRUE(find(*root, QStringLiteral("goal-option-work_app"))->isChecked());
    QTest::keyClicks(field, QString(100, QLatin1Char('j')));
    EXPECT_EQ(field->text().size(), 80);

    click(*root, QStringLiteral("goal-option-personal_app"));
    EXPECT_EQ(field->text(), QString(80, QLatin1Char('j')));
    EXPECT_FALSE(find(*root, QStringLiteral("goal-option-work_app"))->isChecked());

    click(*root, QStringLiteral("goal-option-gaming"));
    EXPECT_FALSE(field->isVisible());
    click(*root, QStringLiteral("goal-option-other"));
    EXPECT_TRUE(field->text().isEmpty());
    QTest::keyClicks(field, QStringLiteral("  A lab tool  "));

    click(*root, QStringLiteral("goal-continue"));
    // The diagnose screen that follows may already have recorded its own events.
    const auto goal = std::find_if(sink.events.begin(), sink.events.end(),
                                   [](const auto& event) { return event.first == "goal_selected"; });
    ASSERT_NE(goal, sink.events.end());
    EXPECT_EQ(goal->second, (JSONObject{{"goal", "other"}, {"detail", "A lab tool"}, {"surface", "welcome"}}));
    EXPECT_EQ(root->navigation().selectedGoal(), "other");
    EXPECT_EQ(root->navigation().path(), std::vector<Screen>{Screen::diagnose()});
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
    const auto selected = std::find_if(sink.events.begin(), sink.events.end(),
                                       [](const auto& event) { return event.first == "next_step_selected"; });
    ASSERT_NE(selected, sink.events.end());
    EXPECT_EQ(selected->second.at("outcome"), JSONValue("still_blocked"));
    EXPECT_EQ(selected->second.at("goal"), JSONValue("gaming"));
    WAIT_FOR(sink.count("offer_shown") == 1L);

    click(*root, QStringLiteral("offer-guided_help_plan-primary"));
    EXPECT_TRUE(visible(*root, QStringLiteral("offer-guided_help_plan-unavailable")));
    EXPECT_FALSE(visible(*root, QStringLiteral("offer-guided_help_plan-primary")));
    const JSONObject action = sink.last("offer_action");
    ASSERT_TRUE(action.count("result")) << ::testing::PrintToString(sink.names());
    EXPECT_EQ(action.at("result"), JSONValue("interest_no_fulfillment"));
    EXPECT_EQ(root->navigation().path().back(), Screen::guidedHelpOffer());

    click(*root, QStringLiteral("offer-guided_help_plan-done"));
    QApplication::processEvents();
    EXPECT_TRUE(root->navigation().path().empty());
    EXPECT_TRUE(visible(*root, QStringLiteral("goal-continue")));
    EXPECT_EQ(sink.count("offer_action"), 1);
    EXPECT_TRUE(opened.empty());
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

TEST_F(CompletionUITests, ScoreCardPhasesThroughSubmission) {
    auto root = openCompletionPage();
    WAIT_FOR(visible(*root, QStringLiteral("nps-card")));
    EXPECT_EQ(sink.count("nps_shown"), 1);
    EXPECT_TRUE(visible(*root, QStringLiteral("completion-build-intent-prompt")));
    EXPECT_FALSE(visible(*root, QStringLiteral("nps-submit")));

    click(*root, QStringLiteral("nps-score-6"));
    EXPECT_TRUE(visible(*root, QStringLiteral("nps-submit")));
    auto* reason = find<QPlainTextEdit>(*root, QStringLiteral("nps-reason"));
    ASSERT_NE(reason, nullptr);
    reason->setPlainText(QString(600, QLatin1Char('r')));
    click(*root, QStringLiteral("nps-submit"));

    // Submitting: the editor is gone, the score row stays and ignores taps.
    EXPECT_FALSE(visible(*root, QStringLiteral("nps-submit")));
    EXPECT_TRUE(visible(*root, QStringLiteral("nps-score-2")));
    click(*root, QStringLiteral("nps-score-2"));
    EXPECT_FALSE(visible(*root, QStringLiteral("nps-submit")));
    EXPECT_EQ(sink.last().at("reason"), JSONValue(std::string(500, 'r')));
    EXPECT_EQ(sink.last().at("score"), JSONValue(6));
    EXPECT_TRUE(preferences->boolean(preference_keys::npsSubmitted(ProductConfig::fixwellJava())));

    // After the pause the completion page drops the card; Done counts nothing.
    EXPECT_TRUE(visible(*root, QStringLiteral("nps-card")));
    scheduler.runAll();
    WAIT_FOR(!visible(*root, QStringLiteral("nps-card")));
    click(*root, QStringLiteral("completion-done"));
    EXPECT_EQ(sink.count("nps_dismissed"), 0);
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(CompletionUITests, DoneDuringTheSubmittingPauseCountsNoDismissal) {
    auto root = openCompletionPage();
    WAIT_FOR(visible(*root, QStringLiteral("nps-card")));
    click(*root, QStringLiteral("nps-score-9"));
    click(*root, QStringLiteral("nps-submit"));
    click(*root, QStringLiteral("completion-done"));
    EXPECT_EQ(sink.count("nps_dismissed"), 0);
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(CompletionUITests, DismissThenDoneCountsTwoDismissals) {
    auto root = openCompletionPage();
    WAIT_FOR(visible(*root, QStringLiteral("nps-card")));
    click(*root, QStringLiteral("nps-dismiss"));
    EXPECT_FALSE(visible(*root, QStringLiteral("nps-card")));
    EXPECT_EQ(sink.count("nps_dismissed"), 1);
    click(*root, QStringLiteral("completion-done"));
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(CompletionUITests, SeeRecommendationsEntersTheBuildIntentAudit) {
    auto root = openCompletionPage();
    WAIT_FOR(visible(*root, QStringLiteral("completion-build-intent-optin")));
    EXPECT_EQ(sink.count("build_intent_prompt_shown"), 1);
    click(*root, QStringLiteral("completion-build-intent-optin"));
    EXPECT_EQ(sink.last(), (JSONObject{{"surface", "post_fix"}}));
    EXPECT_EQ(navigation.path().back(),
              Screen::audit({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}));
    EXPECT_FALSE(navigation.path().back().auditContext()->lumo);
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
