#include <gtest/gtest.h>

#include <functional>
#include <unordered_set>
#include <vector>

#include "shell/AppNavigation.h"
#include "shell/LaunchEvent.h"
#include "telemetry/JSONValue.h"

namespace lumo {
namespace {

TEST(AppNavigationTests, ObserversHearOnlyRealChangesAndMayLeaveWhileNotified) {
    using F = AppNavigation::Field;
    AppNavigation navigation;
    int calls = 0;
    AppNavigation::ObserverID id = 0;
    id = navigation.addObserver([&](F) {  // leaves on its first call, before the next observer hears it
        ++calls;
        navigation.removeObserver(id);
    });
    std::vector<F> fields;
    navigation.addObserver([&](F field) { fields.push_back(field); });

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
    EXPECT_EQ(fields, (std::vector<F>{F::path, F::selectedGoal, F::selectedNextStep, F::path}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(navigation.selectedGoal(), "gaming");  // home keeps both answers
    EXPECT_EQ(navigation.selectedNextStep(), "course");
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

// A next step's audit carries the Lumo context; an audit goes on to its
// then-route, or home, never into a second audit.
TEST(JourneyTests, AuditsCarryTheNextStepAndFollowTheirThenRouteOnce) {
    const OfferRoute readiness = OfferRoute::content("course_readiness");
    const std::pair<const char*, AuditEntry> rows[] = {{"course", AuditEntry::nextStepCourse},
                                                       {"Course", AuditEntry::nextStepNotSure}};  // keys are exact
    for (const auto& row : rows) {
        const auto& [key, entry] = row;
        const char* const goalKey = key;  // captured below: a structured binding can't be, for older clangs
        const auto path = after([&](AppNavigation& n) {
            n.setSelectedGoal("school");
            journey::nextStepChosen(n, goalKey, OfferRoute::audit(readiness));
        });
        const AuditContext context{entry, CompletionSurface::excluded, LumoAuditContext{key, "school", readiness}};
        EXPECT_EQ(path, std::vector<Screen>{Screen::audit(context)}) << key;
    }

    const auto finish = [](std::optional<OfferRoute> then) {
        return after([&](AppNavigation& n) {
            const AuditContext context{AuditEntry::nextStepCourse, CompletionSurface::excluded,
                                       LumoAuditContext{"course", std::nullopt, then}};
            n.setPath({Screen::nextStep(), Screen::audit(context)});
            journey::auditFinished(n, context);
        });
    };
    EXPECT_EQ(finish(readiness).back(), Screen::contentOffer("course_readiness"));
    EXPECT_EQ(finish(OfferRoute::guidedHelpWTP()).back(), Screen::guidedHelpOffer());
    EXPECT_TRUE(finish(std::nullopt).empty());
    EXPECT_TRUE(finish(OfferRoute::audit(readiness)).empty());
}

// Equal screens collapse in a hashed set; screens that differ in case or in
// any part of their payload stay apart.
TEST(ScreenTests, EqualityAndHashFollowCaseAndPayload) {
    const auto audit = [](std::optional<std::string> goal) {
        return Screen::audit({AuditEntry::nextStepNotSure, CompletionSurface::excluded,
                              LumoAuditContext{"not_sure", std::move(goal), OfferRoute::aiCodingInterest()}});
    };
    std::unordered_set<Screen> keys{audit("gaming"), audit("school"), audit(std::nullopt), audit("gaming")};
    keys.insert({Screen::diagnose(), Screen::contentOffer("a"), Screen::contentOffer("b"), Screen::contentOffer("a")});
    keys.insert({Screen::guidedHelpOffer(), Screen::aiCodingOffer(),
                 Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt})});
    EXPECT_EQ(keys.size(), 9u);
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
}

}  // namespace
}  // namespace lumo
