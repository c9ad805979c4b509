#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/AICodingInterestModel.h"
#include "screens/ConsentModel.h"
#include "screens/ContentOfferModel.h"
#include "screens/GoalPromptModel.h"
#include "screens/GuidedHelpOfferModel.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/NextStepModel.h"
#include "screens/SimplifiedCompletionModel.h"
#include "screens/WelcomeModel.h"
#include "shell/Preferences.h"

namespace lumo {
namespace {

using test::ManualScheduler;
using test::MemoryPreferences;
using test::RecordingSink;
using test::ScopedProduct;

TEST(TextTests, HostAndPathTrimAndCut) {
    EXPECT_EQ(text::hostAndPath("https://example.com/lumo/privacy?x=1#y"), "example.com/lumo/privacy");
    EXPECT_EQ(text::hostAndPath("https://example.com"), "example.com");
    EXPECT_EQ(text::hostAndPath("file:///lumo/privacy"), "/lumo/privacy");
    EXPECT_EQ(text::trimmed(" \n\t\u00a0Minecraft server\u2028 "), "Minecraft server");
    EXPECT_EQ(text::trimmed(" \n "), "");
    EXPECT_EQ(text::withoutControlCharacters("a\x01"
                                             "b\x7f"
                                             "c\u0085d\te"),
              "abcde");
    EXPECT_EQ(text::characterCount("héllo→"), 6u);
    EXPECT_EQ(text::prefix("héllo→", 2), "hé");
}

TEST(ConsentModelTests, ContinueStoresFlagThenRecordsThenHandsOver) {
    ScopedProduct product(test::promptingProduct());
    MemoryPreferences preferences;
    RecordingSink sink;
    bool flagSeenByRoot = false;
    ConsentModel model(preferences, sink, [&] {
        flagSeenByRoot = preferences.boolean("com.example.test.java.consented");
        EXPECT_EQ(sink.names(), std::vector<std::string>{"consent_given"});
    });
    EXPECT_EQ(model.heading(), "Welcome to Test for Java");
    EXPECT_EQ(model.privacyLinkLabel(), "example.com/test/privacy");
    model.continueTapped();
    EXPECT_TRUE(flagSeenByRoot);
    EXPECT_TRUE(sink.last().empty());
}

TEST(WelcomeModelTests, GoalOrStartButtonByProduct) {
    AppNavigation navigation;
    WelcomeModel welcome(navigation);
    {
        ScopedProduct product(test::plainProduct());
        EXPECT_EQ(welcome.goalPrompt(), nullptr);
        EXPECT_EQ(welcome.startLabel(), "Diagnose Java");
        welcome.startTapped();
    }
    ScopedProduct product(test::promptingProduct());
    ASSERT_NE(welcome.goalPrompt(), nullptr);
    welcome.goalChosen("gaming");
    EXPECT_EQ(navigation.selectedGoal(), "gaming");
    EXPECT_EQ(navigation.path(), (std::vector<Screen>{Screen::diagnose(), Screen::diagnose()}));
}

class GoalPromptModelTests : public ::testing::Test {
protected:
    RecordingSink sink;
    std::vector<std::string> continued;
    GoalPromptModel model{*test::promptingProduct().goalPrompt, sink,
                          [this](const std::string& key) { continued.push_back(key); }};
};

TEST_F(GoalPromptModelTests, ContinueNeedsASelection) {
    EXPECT_FALSE(model.canContinue());
    model.continueTapped();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(continued.empty());
}

TEST_F(GoalPromptModelTests, DetailSurvivesOnlyBetweenOptionsWithADetailPrompt) {
    model.select("work_app");
    EXPECT_EQ(model.detailPrompt(), "Which app?");
    model.setDetail("IntelliJ");
    model.select("personal_app");
    EXPECT_EQ(model.detail(), "IntelliJ");
    model.select("gaming");
    EXPECT_FALSE(model.detailPrompt());
    EXPECT_EQ(model.detail(), "");
}

TEST_F(GoalPromptModelTests, DetailIsCutWhileTypingAndCleanedWhenSent) {
    model.select("other");
    model.setDetail(std::string(100, 'x'));
    EXPECT_EQ(model.detail(), std::string(80, 'x'));
    model.continueTapped();
    EXPECT_EQ(sink.events.at(0).first, "goal_selected");
    EXPECT_EQ(sink.last(), (JSONObject{{"goal", "other"}, {"detail", std::string(80, 'x')}, {"surface", "welcome"}}));
    EXPECT_EQ(continued, std::vector<std::string>{"other"});

    model.setDetail(" \n  \n ");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("detail"), JSONValue(nullptr));

    model.setDetail("\tMy\x01 app\n");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("detail"), JSONValue("My app"));

    model.select("gaming");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("detail"), JSONValue(nullptr));
}

TEST(NextStepModelTests, GoalBlockedLeadsToGuidedHelp) {
    AppNavigation navigation;
    navigation.setSelectedGoal("gaming");
    RecordingSink sink;
    NextStepModel model(*test::promptingProduct().nextStepPrompt, navigation, sink);
    model.continueTapped();
    model.select("no_such_option");
    model.continueTapped();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(navigation.path().empty());

    model.select("goal_blocked");
    model.continueTapped();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"next_step_selected"});
    EXPECT_EQ(sink.last(), (JSONObject{{"next_step", "goal_blocked"},
                                       {"outcome", "still_blocked"},
                                       {"goal", "gaming"},
                                       {"surface", "post_verify"}}));
    EXPECT_EQ(navigation.selectedNextStep(), "goal_blocked");
    EXPECT_EQ(navigation.path(), std::vector<Screen>{Screen::guidedHelpOffer()});
}

TEST(NextStepModelTests, AuditRouteCarriesGoalAndNullGoalIsSentAsNull) {
    AppNavigation navigation;
    RecordingSink sink;
    NextStepModel model(*test::promptingProduct().nextStepPrompt, navigation, sink);
    model.select("course");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("goal"), JSONValue(nullptr));
    const AuditContext* context = navigation.path().at(0).auditContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->entry, AuditEntry::nextStepCourse);
    EXPECT_EQ(context->lumo->thenRoute, OfferRoute::content("course_readiness"));
}

class OfferModelTests : public ::testing::Test {
protected:
    OfferModelTests() {
        navigation.setSelectedGoal("work_app");
        navigation.setSelectedNextStep("goal_blocked");
        navigation.push(Screen::nextStep());
    }
    ScopedProduct product{test::promptingProduct()};
    AppNavigation navigation;
    RecordingSink sink;
    std::vector<std::string> opened;
    URLOpener opener = [this](const std::string& url) { opened.push_back(url); };
};

TEST_F(OfferModelTests, ShownOncePerInstanceWithItsProperties) {
    GuidedHelpOfferModel model(navigation, sink, opener);
    model.appeared();
    model.appeared();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"offer_shown"});
    EXPECT_EQ(sink.last(), (JSONObject{{"offer_id", "guided_help_plan"},
                                       {"offer_surface", "post_verify"},
                                       {"eligibility_reason", "outcome_still_blocked"},
                                       {"next_step", "goal_blocked"},
                                       {"goal", "work_app"}}));
    GuidedHelpOfferModel again(navigation, sink, opener);
    again.appeared();
    EXPECT_EQ(sink.count("offer_shown"), 2);
}

TEST_F(OfferModelTests, GuidedHelpMeasuresInterestAndStays) {
    GuidedHelpOfferModel model(navigation, sink, opener);
    model.primaryTapped();
    EXPECT_TRUE(model.showedUnavailable());
    EXPECT_EQ(sink.last().at("action"), JSONValue("selected"));
    EXPECT_EQ(sink.last().at("result"), JSONValue("interest_no_fulfillment"));
    EXPECT_EQ(navigation.path().size(), 1u);
    EXPECT_TRUE(opened.empty());
    model.doneTapped();
    EXPECT_EQ(sink.events.size(), 1u);  // "Done" after the message records nothing
    EXPECT_TRUE(navigation.path().empty());
    EXPECT_EQ(navigation.selectedGoal(), "work_app");
}

TEST_F(OfferModelTests, ContentAndAICodingPrimaryOpenTheDestinationAndGoHome) {
    ContentOfferModel content("app_game_help", navigation, sink, opener);
    ASSERT_TRUE(content.hasPrimary());
    content.primaryTapped();
    EXPECT_EQ(sink.last(), (JSONObject{{"offer_id", "app_game_help"},
                                       {"offer_surface", "post_verify"},
                                       {"action", "selected"},
                                       {"result", nullptr},
                                       {"next_step", "goal_blocked"}}));
    EXPECT_TRUE(navigation.path().empty());

    navigation.push(Screen::aiCodingOffer());
    AICodingInterestModel ai(navigation, sink, opener);
    ai.primaryTapped();
    EXPECT_EQ(sink.last().at("result"), JSONValue("interest"));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.com/soon", "https://example.com/ai"}));
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(OfferModelTests, DismissalsRecordAndGoHome) {
    ContentOfferModel content("app_game_help", navigation, sink, opener);
    content.dismissTapped();
    AICodingInterestModel ai(navigation, sink, opener);
    ai.noThanksTapped();
    GuidedHelpOfferModel help(navigation, sink, opener);
    help.noThanksTapped();
    ASSERT_EQ(sink.count("offer_action"), 3);
    for (const auto& event : sink.events) EXPECT_EQ(event.second.at("action"), JSONValue("dismissed"));
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(OfferModelTests, UnknownOrDestinationlessOffersFallBackAndRecordNothing) {
    ContentOfferModel unknown("nope", navigation, sink, opener);
    EXPECT_EQ(unknown.title(), "You're all set");
    EXPECT_EQ(unknown.explainer(), "Java is set up and verified.");
    EXPECT_FALSE(unknown.hasPrimary());
    unknown.appeared();
    unknown.primaryTapped();
    unknown.dismissTapped();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(opened.empty());

    ContentOfferModel readOnly("no_destination", navigation, sink, opener);
    EXPECT_FALSE(readOnly.hasPrimary());

    ScopedProduct plain(test::plainProduct());
    GuidedHelpOfferModel help(navigation, sink, opener);
    EXPECT_EQ(help.title(), "Still stuck?");
    EXPECT_EQ(help.explainer(), "We can help.");
    EXPECT_EQ(help.primaryLabel(), "Get my setup plan ($2)");
    AICodingInterestModel ai(navigation, sink, opener);
    EXPECT_EQ(ai.title(), "Build with AI?");
    EXPECT_FALSE(ai.hasPrimary());
    help.primaryTapped();
    EXPECT_TRUE(help.showedUnavailable());
    EXPECT_TRUE(sink.events.empty());
}

class NPSFeedbackModelTests : public ::testing::Test {
protected:
    ScopedProduct product{test::plainProduct()};
    MemoryPreferences preferences;
    RecordingSink sink;
    ManualScheduler scheduler;
    int submittedCalls = 0;
    NPSFeedbackModel card{preferences, sink, scheduler, [this] { ++submittedCalls; }};
    using Phase = NPSFeedbackModel::Phase;
};

TEST_F(NPSFeedbackModelTests, PhasesFromChoiceToThanks) {
    EXPECT_EQ(card.phase(), Phase::notYet());
    card.submit();  // nothing chosen: nothing happens
    EXPECT_TRUE(sink.events.empty());
    card.choose(3);
    card.choose(9);
    EXPECT_EQ(card.phase(), Phase::scored(9));
    card.setReasonText("  Quick and clear.\n");
    card.submit();
    EXPECT_EQ(card.phase(), Phase::submitting());
    EXPECT_EQ(sink.last(), (JSONObject{{"score", 9}, {"reason", "Quick and clear."}}));
    EXPECT_TRUE(preferences.boolean("com.example.plain.java.nps_submitted"));

    card.choose(2);  // ignored during the pause
    card.submit();
    EXPECT_EQ(card.phase(), Phase::submitting());
    EXPECT_EQ(sink.count("nps_submitted"), 1);
    ASSERT_EQ(scheduler.pending.size(), 1u);
    EXPECT_EQ(scheduler.pending[0].first, std::chrono::milliseconds(1500));
    EXPECT_EQ(submittedCalls, 0);

    scheduler.runAll();
    EXPECT_EQ(card.phase(), Phase::thanks());
    EXPECT_EQ(submittedCalls, 1);
    card.choose(5);
    EXPECT_EQ(card.phase(), Phase::thanks());
}

TEST_F(NPSFeedbackModelTests, ReasonIsCutTo500AndBlankIsNull) {
    card.choose(0);
    card.setReasonText(std::string(600, 'r'));
    card.submit();
    EXPECT_EQ(sink.last().at("reason"), JSONValue(std::string(500, 'r')));
    EXPECT_EQ(sink.last().at("score"), JSONValue(0));
    EXPECT_EQ(NPSFeedbackModel::cleanedReason(" \n\t "), std::nullopt);
    std::string accented;
    for (int i = 0; i < 501; ++i) accented += "\u00e9";
    EXPECT_EQ(text::characterCount(*NPSFeedbackModel::cleanedReason(accented)), 500u);
}

TEST_F(NPSFeedbackModelTests, DismissRecordsAndHides) {
    card.choose(4);
    card.dismiss();
    EXPECT_TRUE(card.didDismiss());
    EXPECT_EQ(sink.names(), std::vector<std::string>{"nps_dismissed"});
}

TEST_F(NPSFeedbackModelTests, PauseEndingAfterTheCardIsGoneDoesNothing) {
    auto temporary = std::make_unique<NPSFeedbackModel>(preferences, sink, scheduler, [this] { ++submittedCalls; });
    temporary->choose(7);
    temporary->submit();
    temporary.reset();
    scheduler.runAll();
    EXPECT_EQ(submittedCalls, 0);
}

TEST(SimplifiedCompletionModelTests, ScoreCardOnlyWithoutNextStepAndBeforeASubmission) {
    MemoryPreferences preferences;
    RecordingSink sink;
    {
        ScopedProduct product(test::promptingProduct());
        SimplifiedCompletionModel page(CompletionSurface::excluded, preferences, sink, {}, {});
        EXPECT_FALSE(page.showNPS());
    }
    ScopedProduct product(test::plainProduct());
    EXPECT_TRUE(SimplifiedCompletionModel(CompletionSurface::excluded, preferences, sink, {}, {}).showNPS());
    preferences.set(PreferenceValue(true), preference_keys::npsSubmitted(test::plainProduct()));
    EXPECT_FALSE(SimplifiedCompletionModel(CompletionSurface::excluded, preferences, sink, {}, {}).showNPS());
}

TEST(SimplifiedCompletionModelTests, ShownEventsOnceAndDoneCountsAnUnsubmittedCardAsDismissed) {
    ScopedProduct product(test::plainProduct());
    MemoryPreferences preferences;
    RecordingSink sink;
    int seen = 0, done = 0;
    SimplifiedCompletionModel page(
        prompt(BuildIntentSurface::modernHomeSet), preferences, sink, [&] { ++seen; }, [&] { ++done; });
    page.appeared();
    page.appeared();
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"nps_shown", "build_intent_prompt_shown"}));
    EXPECT_EQ(sink.last(), (JSONObject{{"surface", "modern_home_set"}}));
    page.seeRecommendationsTapped();
    EXPECT_EQ(sink.events.back(),
              (std::pair<std::string, JSONObject>{"build_intent_opted_in", {{"surface", "modern_home_set"}}}));
    EXPECT_EQ(seen, 1);

    // The card's own Dismiss and then Done: two "nps_dismissed".
    ManualScheduler scheduler;
    NPSFeedbackModel card(preferences, sink, scheduler, [&] { page.npsSubmitted(); });
    card.dismiss();
    page.doneTapped();
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_EQ(done, 1);
}

TEST(SimplifiedCompletionModelTests, SubmittedCardIsNotDismissedAndExcludedShowsNoPrompt) {
    ScopedProduct product(test::plainProduct());
    MemoryPreferences preferences;
    RecordingSink sink;
    SimplifiedCompletionModel page(CompletionSurface::excluded, preferences, sink, {}, {});
    EXPECT_FALSE(page.showsBuildIntentPrompt());
    page.appeared();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"nps_shown"});
    page.seeRecommendationsTapped();
    page.npsSubmitted();
    EXPECT_FALSE(page.showNPS());
    page.doneTapped();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"nps_shown"});
}

TEST(SimplifiedCompletionModelTests, LeavingDuringTheSubmittingPauseIsNotADismissal) {
    ScopedProduct product(test::plainProduct());
    MemoryPreferences preferences;
    RecordingSink sink;
    SimplifiedCompletionModel page(CompletionSurface::excluded, preferences, sink, {}, {});
    page.appeared();
    page.npsSubmitting();  // the card recorded "nps_submitted"; its 1.5 s pause has not ended
    page.doneTapped();
    EXPECT_EQ(sink.count("nps_dismissed"), 0);
}

}  // namespace
}  // namespace lumo
