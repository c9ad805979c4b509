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
    model.continueTapped();
    EXPECT_TRUE(flagSeenByRoot);
    EXPECT_TRUE(sink.last().empty());
}

TEST(GoalPromptModelTests, DetailSurvivesBetweenDetailOptionsIsCutWhileTypingAndCleanedWhenSent) {
    RecordingSink sink;
    std::vector<std::string> continued;
    GoalPromptModel model{*test::promptingProduct().goalPrompt, sink,
                          [&](const std::string& key) { continued.push_back(key); }};
    model.continueTapped();  // nothing selected yet
    EXPECT_TRUE(sink.events.empty());
    model.select("work_app");
    model.setDetail(std::string(100, 'x'));
    EXPECT_EQ(model.detail(), std::string(80, 'x'));
    model.select("personal_app");
    EXPECT_EQ(model.detail(), std::string(80, 'x'));
    model.select("gaming");
    EXPECT_FALSE(model.detailPrompt());
    EXPECT_EQ(model.detail(), "");

    model.select("other");
    const std::pair<std::string, JSONValue> rows[] = {
        {std::string(80, 'x'), std::string(80, 'x')}, {" \n  \n ", nullptr}, {"\tMy\x01 app\n", "My app"}};
    for (const auto& [typed, sent] : rows) {
        model.setDetail(typed);
        model.continueTapped();
        EXPECT_EQ(sink.last(), (JSONObject{{"goal", "other"}, {"detail", sent}, {"surface", "welcome"}})) << typed;
    }
    model.select("gaming");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("detail"), JSONValue(nullptr));
    EXPECT_EQ(sink.count("goal_selected"), 4);
    EXPECT_EQ(continued, (std::vector<std::string>{"other", "other", "other", "gaming"}));
}

TEST(NextStepModelTests, NeedsAKnownOptionAndCarriesTheGoalOrNull) {
    AppNavigation navigation;
    RecordingSink sink;
    NextStepModel model(*test::promptingProduct().nextStepPrompt, navigation, sink);
    model.continueTapped();
    model.select("no_such_option");
    model.continueTapped();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(navigation.path().empty());

    model.select("course");
    model.continueTapped();
    EXPECT_EQ(sink.last().at("goal"), JSONValue(nullptr));
    EXPECT_EQ(navigation.path().at(0).auditContext()->lumo->thenRoute, OfferRoute::content("course_readiness"));

    navigation.setPath({});
    navigation.setSelectedGoal("gaming");
    model.select("goal_blocked");
    model.continueTapped();
    EXPECT_EQ(sink.last(), (JSONObject{{"next_step", "goal_blocked"},
                                       {"outcome", "still_blocked"},
                                       {"goal", "gaming"},
                                       {"surface", "post_verify"}}));
    EXPECT_EQ(navigation.selectedNextStep(), "goal_blocked");
    EXPECT_EQ(navigation.path(), std::vector<Screen>{Screen::guidedHelpOffer()});
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

TEST_F(OfferModelTests, ShownOncePerInstanceAndGuidedHelpMeasuresInterestAndStays) {
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

    // Guided help measures interest and stays; "Done" after the message records nothing.
    sink.events.clear();
    model.primaryTapped();
    EXPECT_TRUE(model.showedUnavailable());
    EXPECT_EQ(sink.last().at("action"), JSONValue("selected"));
    EXPECT_EQ(sink.last().at("result"), JSONValue("interest_no_fulfillment"));
    EXPECT_EQ(navigation.path().size(), 1u);
    EXPECT_TRUE(opened.empty());
    model.doneTapped();
    EXPECT_EQ(sink.events.size(), 1u);
    EXPECT_TRUE(navigation.path().empty());
    EXPECT_EQ(navigation.selectedGoal(), "work_app");
}

TEST_F(OfferModelTests, PrimaryOpensTheDestinationDismissalsRecordAndBothGoHome) {
    ContentOfferModel content("app_game_help", navigation, sink, opener);
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

    sink.events.clear();
    navigation.push(Screen::nextStep());
    ContentOfferModel("app_game_help", navigation, sink, opener).dismissTapped();
    AICodingInterestModel(navigation, sink, opener).noThanksTapped();
    GuidedHelpOfferModel(navigation, sink, opener).noThanksTapped();
    ASSERT_EQ(sink.count("offer_action"), 3);
    for (const auto& event : sink.events) EXPECT_EQ(event.second.at("action"), JSONValue("dismissed"));
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(OfferModelTests, UnknownDestinationlessOrUnconfiguredOffersRecordNothing) {
    ContentOfferModel unknown("nope", navigation, sink, opener);
    EXPECT_FALSE(unknown.hasPrimary());
    unknown.appeared();
    unknown.primaryTapped();
    unknown.dismissTapped();
    EXPECT_FALSE(ContentOfferModel("no_destination", navigation, sink, opener).hasPrimary());

    ScopedProduct plain(test::plainProduct());
    EXPECT_FALSE(AICodingInterestModel(navigation, sink, opener).hasPrimary());
    GuidedHelpOfferModel help(navigation, sink, opener);
    help.primaryTapped();
    EXPECT_TRUE(help.showedUnavailable());
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(opened.empty());
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
    card.choose(0);
    EXPECT_EQ(card.phase(), Phase::scored(0));
    card.setReasonText("  Quick and clear.\n");
    card.submit();
    EXPECT_EQ(card.phase(), Phase::submitting());
    EXPECT_EQ(sink.last(), (JSONObject{{"score", 0}, {"reason", "Quick and clear."}}));
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

TEST_F(NPSFeedbackModelTests, ReasonIsCutTo500CharactersAndBlankIsNull) {
    EXPECT_EQ(NPSFeedbackModel::cleanedReason(std::string(600, 'r')), std::string(500, 'r'));
    EXPECT_EQ(NPSFeedbackModel::cleanedReason(" \n\t "), std::nullopt);
    std::string accented;
    for (int i = 0; i < 501; ++i) accented += "\u00e9";
    EXPECT_EQ(text::characterCount(*NPSFeedbackModel::cleanedReason(accented)), 500u);
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

TEST(SimplifiedCompletionModelTests, ShownOnceAndDoneCountsOnlyAnUnsubmittedCardAsDismissed) {
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
    EXPECT_TRUE(card.didDismiss());
    page.doneTapped();
    EXPECT_EQ(sink.count("nps_dismissed"), 2);
    EXPECT_EQ(done, 1);

    // After a submission, or during the pause that follows it, leaving is no
    // dismissal; the excluded surface asks nothing.
    for (const bool pauseEnded : {true, false}) {
        RecordingSink quiet;
        SimplifiedCompletionModel later(CompletionSurface::excluded, preferences, quiet, {}, {});
        EXPECT_FALSE(later.showsBuildIntentPrompt());
        later.appeared();
        later.seeRecommendationsTapped();
        if (pauseEnded) {
            later.npsSubmitted();
            EXPECT_FALSE(later.showNPS());
        } else {
            later.npsSubmitting();
        }
        later.doneTapped();
        EXPECT_EQ(quiet.names(), std::vector<std::string>{"nps_shown"}) << pauseEnded;
    }
}

}  // namespace
}  // namespace lumo
