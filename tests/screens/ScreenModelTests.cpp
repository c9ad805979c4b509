#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/AICodingInterestModel.h"
#include "screens/ContentOfferModel.h"
#include "screens/GoalPromptModel.h"
#include "screens/GuidedHelpOfferModel.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/NextStepModel.h"
#include "shell/Preferences.h"
#include "simulated/SimulatedServices.h"

namespace lumo {
namespace {

using test::ManualScheduler;
using test::RecordingSink;
using test::ScopedProduct;

TEST(TextTests, HostAndPathTrimAndCut) {
    EXPECT_EQ(text::hostAndPath("https://example.com/lumo/privacy?x=1#y"), "example.com/lumo/privacy");
    EXPECT_EQ(text::hostAndPath("https://example.com"), "example.com");
    EXPECT_EQ(text::hostAndPath("file:///lumo/privacy"), "/lumo/privacy");
    EXPECT_EQ(text::trimmed(" \n\t\u00a0Minecraft server\u2028 "), "Minecraft server");
    EXPECT_EQ(text::prefix("héllo→", 2), "hé");
}

TEST(GoalPromptModelTests, DetailSurvivesBetweenDetailOptionsIsCutWhileTypingAndCleanedWhenSent) {
    RecordingSink sink;
    std::vector<std::string> continued;
    GoalPromptModel model{*test::promptingProduct().goalPrompt, sink,
                          [&](const std::string& key) { continued.push_back(key); }};
    model.continueTapped();  // nothing selected yet
    EXPECT_TRUE(sink.events.empty());
    model.select("work_app");
    model.setDetail(std::string(100, 'x'));  // cut to 80 as typed (the first-launch window test's)
    model.select("other");
    EXPECT_EQ(model.detail(), std::string(80, 'x'));
    model.select("gaming");
    EXPECT_FALSE(model.detailPrompt());
    EXPECT_EQ(model.detail(), "");

    model.select("other");
    const std::pair<std::string, JSONValue> rows[] = {{" \n  \n ", nullptr}, {"\tMy\x01 app\n", "My app"}};
    for (const auto& [typed, sent] : rows) {
        model.setDetail(typed);
        model.continueTapped();
        EXPECT_EQ(sink.last(), (JSONObject{{"goal", "other"}, {"detail", sent}, {"surface", "welcome"}})) << typed;
    }
    EXPECT_EQ(continued, (std::vector<std::string>{"other", "other"}));
}

// Where each option leads, and an event without a goal, are walked by the window's journeys.
TEST(NextStepModelTests, NeedsAKnownOptionAndCarriesTheGoal) {
    AppNavigation navigation;
    RecordingSink sink;
    NextStepModel model(*test::promptingProduct().nextStepPrompt, navigation, sink);
    model.continueTapped();
    model.select("no_such_option");
    model.continueTapped();
    EXPECT_TRUE(sink.events.empty());
    EXPECT_TRUE(navigation.path().empty());

    navigation.setSelectedGoal("gaming");
    model.select("goal_blocked");
    model.continueTapped();
    EXPECT_EQ(sink.last(), (JSONObject{{"next_step", "goal_blocked"},
                                       {"outcome", "still_blocked"},
                                       {"goal", "gaming"},
                                       {"surface", "post_verify"}}));
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

// The shared offer behaviour through the content offer, then what guided help
// and AI coding do differently.
TEST_F(OfferModelTests, ShownOncePrimaryOpensTheDestinationDismissRecordsGuidedHelpOnlyMeasuresInterest) {
    ContentOfferModel content("app_game_help", navigation, sink, opener);
    content.appeared();
    content.appeared();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"offer_shown"});
    EXPECT_EQ(sink.last().at("offer_id"), JSONValue("app_game_help"));
    content.primaryTapped();
    EXPECT_EQ(sink.last().at("action"), JSONValue("selected"));
    EXPECT_EQ(sink.last().at("result"), JSONValue(nullptr));
    EXPECT_EQ(opened, std::vector<std::string>{"https://example.com/soon"});
    EXPECT_TRUE(navigation.path().empty());

    navigation.push(Screen::nextStep());
    content.dismissTapped();
    EXPECT_EQ(sink.last().at("action"), JSONValue("dismissed"));
    EXPECT_TRUE(navigation.path().empty());

    sink.events.clear();
    ContentOfferModel unknown("nope", navigation, sink, opener);
    EXPECT_FALSE(unknown.hasPrimary());
    unknown.appeared();
    unknown.primaryTapped();
    EXPECT_FALSE(ContentOfferModel("guided_help_plan", navigation, sink, opener).hasPrimary()) << "no destination";
    EXPECT_TRUE(sink.events.empty());

    // Guided help measures interest (its page is the window's test); AI coding opens its page.
    GuidedHelpOfferModel(navigation, sink, opener).primaryTapped();
    EXPECT_EQ(sink.last().at("result"), JSONValue("interest_no_fulfillment"));

    AICodingInterestModel(navigation, sink, opener).primaryTapped();
    EXPECT_EQ(sink.last().at("result"), JSONValue("interest"));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.com/soon", "https://example.com/ai"}));

    ScopedProduct plain(ProductConfig::fixwellJava());
    EXPECT_FALSE(AICodingInterestModel(navigation, sink, opener).hasPrimary());
    GuidedHelpOfferModel(navigation, sink, opener).primaryTapped();
    EXPECT_EQ(sink.events.size(), 2u);
}

class NPSFeedbackModelTests : public ::testing::Test {
protected:
    ScopedProduct product{ProductConfig::fixwellJava()};
    InMemoryKeyValueStore preferences;
    RecordingSink sink;
    ManualScheduler scheduler;
    int submittedCalls = 0;
    NPSFeedbackModel card{preferences, sink, scheduler, [this] { ++submittedCalls; }};
    using Phase = NPSFeedbackModel::Phase;
};

TEST_F(NPSFeedbackModelTests, PhasesFromChoiceToThanksWithTheReasonCleaned) {
    card.submit();  // nothing chosen: nothing happens
    EXPECT_TRUE(sink.events.empty());
    card.choose(3);
    card.choose(0);
    EXPECT_EQ(card.phase(), Phase::scored(0));
    card.setReasonText("  Quick and clear.\n");
    card.submit();
    EXPECT_EQ(card.phase(), Phase::submitting());
    EXPECT_EQ(sink.last(), (JSONObject{{"score", 0}, {"reason", "Quick and clear."}}));
    EXPECT_TRUE(preferences.boolean(preference_keys::npsSubmitted(ProductConfig::fixwellJava())));

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

    EXPECT_EQ(NPSFeedbackModel::cleanedReason(std::string(600, 'r')), std::string(500, 'r'));
    EXPECT_EQ(NPSFeedbackModel::cleanedReason(" \n\t "), std::nullopt);
}

TEST_F(NPSFeedbackModelTests, DismissRecordsAndAPauseEndingAfterTheCardIsGoneDoesNothing) {
    card.dismiss();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"nps_dismissed"});
    auto temporary = std::make_unique<NPSFeedbackModel>(preferences, sink, scheduler, [this] { ++submittedCalls; });
    temporary->choose(7);
    temporary->submit();
    temporary.reset();
    scheduler.runAll();
    EXPECT_EQ(submittedCalls, 0);
}

// The pages that end a pass share the card's visit: shown unless the product
// asks the next step, a score was stored or the window already asked; leaving
// a shown card unsubmitted is a dismissal.
TEST(ScoreCardVisitTests, ShowsAndRecordsOnlyWhereItShould) {
    enum End { left, submitting, submitted };
    const struct {
        const char* name;
        const ProductConfig& product;
        bool stored, asked;
        End end;
        std::vector<std::string> expected;
    } rows[] = {
        {"left untouched", ProductConfig::fixwellJava(), false, false, left, {"nps_shown", "nps_dismissed"}},
        {"submitted", ProductConfig::fixwellJava(), false, false, submitted, {"nps_shown"}},
        {"left during the pause", ProductConfig::fixwellJava(), false, false, submitting, {"nps_shown"}},
        {"stored on an earlier launch", ProductConfig::fixwellJava(), true, false, left, {}},
        {"asked in this window", ProductConfig::fixwellJava(), false, true, left, {}},
        {"next-step prompt", test::promptingProduct(), false, false, left, {}},
    };
    for (const auto& row : rows) {
        ScopedProduct product(row.product);
        InMemoryKeyValueStore preferences;
        if (row.stored) preferences.set(PreferenceValue(true), preference_keys::npsSubmitted(row.product));
        ScoreCardSession session{row.asked};
        RecordingSink sink;
        ScoreCardVisit visit(preferences, &session);
        visit.appeared(sink);
        visit.appeared(sink);
        if (row.end == submitting) visit.submitting();
        if (row.end == submitted) visit.submitted();
        EXPECT_EQ(visit.shows(), !row.expected.empty() && row.end != submitted) << row.name;
        visit.leaving(sink);
        EXPECT_EQ(sink.names(), row.expected) << row.name;
        EXPECT_TRUE(session.asked || row.expected.empty()) << row.name;
    }
}

}  // namespace
}  // namespace lumo
