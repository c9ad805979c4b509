#include <gtest/gtest.h>

#include <functional>
#include <unordered_set>
#include <vector>

#include "shell/AppNavigation.h"
#include "shell/LaunchEvent.h"
#include "telemetry/JSONValue.h"

namespace lumo {
namespace {

TEST(AppNavigationTests, ObserversHearOnlyRealChanges) {
    AppNavigation navigation;
    std::vector<AppNavigation::Field> fields;
    navigation.addObserver([&](AppNavigation::Field field) { fields.push_back(field); });

    navigation.setPath({});
    navigation.setSelectedGoal(std::nullopt);
    navigation.backToHome();
    navigation.pop();
    EXPECT_TRUE(fields.empty());

    navigation.push(Screen::diagnose());
    navigation.setPath({Screen::diagnose()});  // equal array: silent
    navigation.setSelectedGoal("gaming");
    navigation.setSelectedGoal("gaming");  // equal string: silent
    navigation.setSelectedNextStep("course");
    navigation.backToHome();
    using F = AppNavigation::Field;
    EXPECT_EQ(fields, (std::vector<F>{F::path, F::selectedGoal, F::selectedNextStep, F::path}));
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

// The path a step leaves behind it, from an empty one.
std::vector<Screen> after(const std::function<void(AppNavigation&)>& step) {
    AppNavigation navigation;
    step(navigation);
    return navigation.path();
}

// The steps the window's journey tests do not take.
TEST(JourneyTests, EachStepPushesItsScreen) {
    ProductConfig noPrompt;
    const auto screen = [](Screen only) { return std::vector<Screen>{std::move(only)}; };
    EXPECT_EQ(after([](AppNavigation& n) { journey::welcomeStart(n); }), screen(Screen::diagnose()));
    EXPECT_EQ(after([&](AppNavigation& n) { journey::diagnoseFinished(n, noPrompt, CompletionSurface::excluded); }),
              screen(Screen::audit({AuditEntry::heuristic, CompletionSurface::excluded, std::nullopt})));
    EXPECT_EQ(after([&](AppNavigation& n) { journey::diagnoseFinished(n, noPrompt, std::nullopt); }),
              screen(Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt})));
    EXPECT_EQ(after([](AppNavigation& n) { journey::nextStepChosen(n, "run", OfferRoute::content("app_game_help")); }),
              screen(Screen::contentOffer("app_game_help")));
    EXPECT_EQ(after([](AppNavigation& n) { journey::nextStepChosen(n, "any", OfferRoute::aiCodingInterest()); }),
              screen(Screen::aiCodingOffer()));
}

TEST(JourneyTests, NextStepAuditRouteCarriesTheLumoContext) {
    const std::pair<const char*, AuditEntry> rows[] = {{"course", AuditEntry::nextStepCourse},
                                                       {"build_software", AuditEntry::nextStepBuildSoftware},
                                                       {"not_sure", AuditEntry::nextStepNotSure},
                                                       {"Course", AuditEntry::nextStepNotSure}};
    for (const auto& [key, entry] : rows) {
        AppNavigation navigation;
        navigation.setSelectedGoal("school");
        journey::nextStepChosen(navigation, key, OfferRoute::audit(OfferRoute::content("course_readiness")));
        EXPECT_EQ(navigation.path(), std::vector<Screen>{Screen::audit(
                                         {entry, CompletionSurface::excluded,
                                          LumoAuditContext{key, "school", OfferRoute::content("course_readiness")}})})
            << key;
    }
}

TEST(JourneyTests, AuditFinishedFollowsThenRouteButNeverChainsAnAudit) {
    const auto finish = [](std::optional<OfferRoute> then) {
        return after([&](AppNavigation& n) {
            const AuditContext context{AuditEntry::nextStepCourse, CompletionSurface::excluded,
                                       LumoAuditContext{"course", std::nullopt, then}};
            n.setPath({Screen::nextStep(), Screen::audit(context)});
            journey::auditFinished(n, context);
        });
    };
    EXPECT_EQ(finish(OfferRoute::content("course_readiness")).back(), Screen::contentOffer("course_readiness"));
    EXPECT_EQ(finish(OfferRoute::guidedHelpWTP()).back(), Screen::guidedHelpOffer());
    EXPECT_EQ(finish(OfferRoute::aiCodingInterest()).back(), Screen::aiCodingOffer());
    EXPECT_TRUE(finish(std::nullopt).empty());
    EXPECT_TRUE(finish(OfferRoute::audit(OfferRoute::content("x"))).empty());
}

// Equal screens collapse in a hashed set; screens that differ in case or in
// any part of their payload stay apart.
TEST(ScreenTests, EqualityAndHashFollowCaseAndPayload) {
    const auto audit = [](std::optional<std::string> goal) {
        return Screen::audit({AuditEntry::nextStepNotSure, CompletionSurface::excluded,
                              LumoAuditContext{"not_sure", std::move(goal), OfferRoute::aiCodingInterest()}});
    };
    const std::unordered_set<Screen> keys{
        audit("gaming"),
        audit("school"),
        audit(std::nullopt),
        audit("gaming"),
        Screen::diagnose(),
        Screen::contentOffer("a"),
        Screen::contentOffer("b"),
        Screen::contentOffer("a"),
        Screen::guidedHelpOffer(),
        Screen::aiCodingOffer(),
        Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}),
        Screen::audit({AuditEntry::heuristic, CompletionSurface::promptNoErrorsFound, std::nullopt})};
    EXPECT_EQ(keys.size(), 10u);
}

TEST(LaunchEventTests, PropertiesFromTheProfile) {
    SystemProfile profile;
    profile.architecture = Architecture::appleSilicon;
    profile.macosVersion = {14, 5, 1};
    profile.shell = Shell::other("nu");
    profile.homebrewPrefix = "/opt/homebrew/bin/brew";
    profile.asdfRoot = "/Users/a/.asdf";
    EXPECT_EQ(JSONValue(appLaunchedProperties(profile)),
              parseJSONValue(R"({"macos_major": 14, "macos_minor": 5, "arch": "arm64", "shell": "other",
                  "has_homebrew": true, "has_sdkman": false, "has_mise": false, "has_jenv": false,
                  "has_asdf": true, "has_xcode_clt": false})")
                  .value());
    profile.architecture = Architecture::intel;
    profile.shell = Shell::fish();
    const JSONObject intel = appLaunchedProperties(profile);
    EXPECT_EQ(std::make_pair(intel.at("arch"), intel.at("shell")),
              std::make_pair(JSONValue("x86_64"), JSONValue("fish")));
}

}  // namespace
}  // namespace lumo
