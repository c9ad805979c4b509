#include <gtest/gtest.h>

#include <unordered_set>
#include <vector>

#include "shell/AppNavigation.h"
#include "shell/LaunchEvent.h"

namespace lumo {
namespace {

struct RecordingObserver {
    explicit RecordingObserver(AppNavigation& navigation) {
        navigation.addObserver([this](AppNavigation::Field field) { fields.push_back(field); });
    }
    std::vector<AppNavigation::Field> fields;
};

ProductConfig productWithNextStep(bool withNextStep) {
    ProductConfig product;
    product.userDefaultsPrefix = "test.nav";
    if (withNextStep) product.nextStepPrompt = NextStepPrompt{"Next?", "Lead", "post_verify", {}};
    return product;
}

TEST(AppNavigationTests, ObserversHearOnlyRealChanges) {
    AppNavigation navigation;
    RecordingObserver observer(navigation);

    navigation.setPath({});
    navigation.setSelectedGoal(std::nullopt);
    navigation.backToHome();
    navigation.pop();
    EXPECT_TRUE(observer.fields.empty());

    navigation.push(Screen::diagnose());
    navigation.setPath({Screen::diagnose()});  // equal array: silent
    navigation.setSelectedGoal("gaming");
    navigation.setSelectedGoal("gaming");  // equal string: silent
    navigation.setSelectedNextStep("course");
    navigation.backToHome();
    using F = AppNavigation::Field;
    EXPECT_EQ(observer.fields, (std::vector<F>{F::path, F::selectedGoal, F::selectedNextStep, F::path}));
    EXPECT_EQ(navigation.selectedGoal(), "gaming");  // home keeps both answers
    EXPECT_EQ(navigation.selectedNextStep(), "course");
}

TEST(AppNavigationTests, ObserverMayRemoveItselfWhileBeingNotified) {
    AppNavigation navigation;
    int calls = 0;
    AppNavigation::ObserverID id = 0;
    id = navigation.addObserver([&](AppNavigation::Field) {
        ++calls;
        navigation.removeObserver(id);
    });
    navigation.push(Screen::nextStep());
    navigation.push(Screen::nextStep());
    EXPECT_EQ(calls, 1);
}

TEST(JourneyTests, WelcomeAndDiagnoseRows) {
    AppNavigation navigation;
    journey::welcomeGoalChosen(navigation, "school");
    EXPECT_EQ(navigation.selectedGoal(), "school");
    EXPECT_EQ(navigation.path(), std::vector<Screen>{Screen::diagnose()});

    AppNavigation plain;
    journey::welcomeStart(plain);
    EXPECT_EQ(plain.path(), std::vector<Screen>{Screen::diagnose()});
    EXPECT_FALSE(plain.selectedGoal());

    AppNavigation withPrompt;
    journey::diagnoseFinished(withPrompt, productWithNextStep(true), CompletionSurface::excluded);
    EXPECT_EQ(withPrompt.path(), std::vector<Screen>{Screen::nextStep()});

    AppNavigation unknownDiagnosis;
    journey::diagnoseFinished(unknownDiagnosis, productWithNextStep(false), CompletionSurface::excluded);
    EXPECT_EQ(unknownDiagnosis.path(),
              std::vector<Screen>{Screen::audit({AuditEntry::heuristic, CompletionSurface::excluded, std::nullopt})});

    AppNavigation noDiagnosis;
    journey::diagnoseFinished(noDiagnosis, productWithNextStep(false), std::nullopt);
    EXPECT_EQ(noDiagnosis.path().at(0).auditContext()->completionSurface, CompletionSurface::promptPostFix);
}

TEST(JourneyTests, NextStepRoutesPushTheirScreens) {
    AppNavigation navigation;
    navigation.setSelectedGoal("work_app");

    journey::nextStepChosen(navigation, "run_app_or_game", OfferRoute::content("app_game_help"));
    EXPECT_EQ(navigation.selectedNextStep(), "run_app_or_game");
    EXPECT_EQ(navigation.path().back(), Screen::contentOffer("app_game_help"));

    journey::nextStepChosen(navigation, "goal_blocked", OfferRoute::guidedHelpWTP());
    EXPECT_EQ(navigation.path().back(), Screen::guidedHelpOffer());

    journey::nextStepChosen(navigation, "anything", OfferRoute::aiCodingInterest());
    EXPECT_EQ(navigation.path().back(), Screen::aiCodingOffer());
    EXPECT_EQ(navigation.selectedNextStep(), "anything");
}

TEST(JourneyTests, NextStepAuditRouteCarriesTheLumoContext) {
    struct Row {
        std::string key;
        AuditEntry entry;
    };
    for (const Row& row :
         {Row{"course", AuditEntry::nextStepCourse}, Row{"build_software", AuditEntry::nextStepBuildSoftware},
          Row{"not_sure", AuditEntry::nextStepNotSure}, Row{"Course", AuditEntry::nextStepNotSure}}) {
        AppNavigation navigation;
        navigation.setSelectedGoal("school");
        const OfferRoute route = OfferRoute::audit(OfferRoute::content("course_readiness"));
        journey::nextStepChosen(navigation, row.key, route);
        ASSERT_EQ(navigation.path().size(), 1u);
        const AuditContext* context = navigation.path()[0].auditContext();
        ASSERT_NE(context, nullptr) << row.key;
        EXPECT_EQ(context->entry, row.entry) << row.key;
        EXPECT_EQ(context->completionSurface, CompletionSurface::excluded);
        ASSERT_TRUE(context->lumo);
        EXPECT_EQ(context->lumo->nextStep, row.key);
        EXPECT_EQ(context->lumo->goal, "school");
        EXPECT_EQ(context->lumo->thenRoute, OfferRoute::content("course_readiness"));
    }

    AppNavigation noGoal;
    journey::nextStepChosen(noGoal, "not_sure", OfferRoute::audit(std::nullopt));
    EXPECT_FALSE(noGoal.path()[0].auditContext()->lumo->goal);
    EXPECT_FALSE(noGoal.path()[0].auditContext()->lumo->thenRoute);
}

TEST(JourneyTests, SeeRecommendationsEntersABuildIntentAuditThatReturnsHome) {
    AppNavigation navigation;
    journey::seeRecommendations(navigation);
    const AuditContext context = *navigation.path().at(0).auditContext();
    EXPECT_EQ(context, (AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}));
    journey::auditFinished(navigation, context);
    EXPECT_TRUE(navigation.path().empty());
}

TEST(JourneyTests, AuditFinishedFollowsThenRouteButNeverChainsAnAudit) {
    auto finish = [](std::optional<OfferRoute> then) {
        AppNavigation navigation;
        navigation.push(Screen::nextStep());
        const AuditContext context{AuditEntry::nextStepCourse, CompletionSurface::excluded,
                                   LumoAuditContext{"course", std::nullopt, std::move(then)}};
        navigation.push(Screen::audit(context));
        journey::auditFinished(navigation, context);
        return navigation.path();
    };
    EXPECT_EQ(finish(OfferRoute::content("course_readiness")).back(), Screen::contentOffer("course_readiness"));
    EXPECT_EQ(finish(OfferRoute::guidedHelpWTP()).back(), Screen::guidedHelpOffer());
    EXPECT_EQ(finish(OfferRoute::aiCodingInterest()).back(), Screen::aiCodingOffer());
    EXPECT_TRUE(finish(std::nullopt).empty());
    EXPECT_TRUE(finish(OfferRoute::audit(OfferRoute::content("x"))).empty());
}

TEST(ScreenTests, EqualityAndHashFollowCaseAndPayload) {
    const auto audit = [](std::optional<std::string> goal) {
        return Screen::audit({AuditEntry::nextStepNotSure, CompletionSurface::excluded,
                              LumoAuditContext{"not_sure", std::move(goal), OfferRoute::aiCodingInterest()}});
    };
    EXPECT_NE(audit("gaming"), audit("school"));
    EXPECT_NE(audit("gaming"), audit(std::nullopt));
    EXPECT_EQ(audit("gaming"), audit("gaming"));
    EXPECT_EQ(std::hash<Screen>{}(audit("gaming")), std::hash<Screen>{}(audit("gaming")));
    EXPECT_NE(Screen::contentOffer("a"), Screen::contentOffer("b"));
    EXPECT_NE(Screen::guidedHelpOffer(), Screen::aiCodingOffer());

    const std::unordered_set<Screen> keys{
        audit("gaming"),
        audit("school"),
        audit("gaming"),
        Screen::diagnose(),
        Screen::nextStep(),
        Screen::contentOffer("a"),
        Screen::contentOffer("a"),
        Screen::guidedHelpOffer(),
        Screen::aiCodingOffer(),
        Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}),
        Screen::audit({AuditEntry::heuristic, CompletionSurface::promptNoErrorsFound, std::nullopt})};
    EXPECT_EQ(keys.size(), 9u);
}

TEST(ScreenTests, AuditEntryRawValuesRoundTrip) {
    for (const char* raw :
         {"heuristic", "build_intent", "next_step_course", "next_step_build_software", "next_step_not_sure"}) {
        const auto entry = auditEntryFromRawValue(raw);
        ASSERT_TRUE(entry) << raw;
        EXPECT_EQ(rawValue(*entry), raw);
    }
    EXPECT_FALSE(auditEntryFromRawValue("buildIntent"));
    EXPECT_FALSE(auditEntryFromRawValue(""));
}

TEST(LaunchEventTests, PropertiesFromTheProfile) {
    SystemProfile profile;
    profile.architecture = Architecture::appleSilicon;
    profile.macosVersion = {14, 5, 1};
    profile.shell = Shell::other("nu");
    profile.homebrewPrefix = "/opt/homebrew/bin/brew";
    profile.asdfRoot = "/Users/a/.asdf";
    EXPECT_EQ(appLaunchedProperties(profile), (JSONObject{{"macos_major", 14},
                                                          {"macos_minor", 5},
                                                          {"arch", "arm64"},
                                                          {"shell", "other"},
                                                          {"has_homebrew", true},
                                                          {"has_sdkman", false},
                                                          {"has_mise", false},
                                                          {"has_jenv", false},
                                                          {"has_asdf", true},
                                                          {"has_xcode_clt", false}}));
    profile.architecture = Architecture::intel;
    profile.shell = Shell::fish();
    EXPECT_EQ(appLaunchedProperties(profile).at("arch"), JSONValue("x86_64"));
    EXPECT_EQ(appLaunchedProperties(profile).at("shell"), JSONValue("fish"));
}

TEST(LaunchEventTests, FixtureModeWithoutProfileNeitherProfilesNorReportsProperties) {
    EXPECT_FALSE(StartupPlan::needsProfiling(std::nullopt, true));
    EXPECT_TRUE(StartupPlan::needsProfiling(std::nullopt, false));
    EXPECT_FALSE(StartupPlan::needsProfiling(SystemProfile{}, false));
    EXPECT_TRUE(StartupPlan::launchProperties(std::nullopt).empty());
    EXPECT_EQ(StartupPlan::launchProperties(SystemProfile{}).size(), 10u);
}

}  // namespace
}  // namespace lumo
