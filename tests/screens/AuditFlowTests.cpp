#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/AuditStagePages.h"
#include "screens/FinalAuditReport.h"
#include "screens/StagedAuditFlow.h"
#include "shell/Preferences.h"

namespace lumo {
namespace {

using test::MemoryPreferences;
using test::RecordingSink;
using test::ScopedProduct;

std::string text(const JSONValue& value) { return std::get<std::string>(value.value); }
bool flag(const JSONValue& value) { return std::get<bool>(value.value); }
std::int64_t integer(const JSONValue& value) { return std::get<std::int64_t>(value.value); }

// A product with the audit's links and a next-step prompt, and one without.
const ProductConfig& auditProduct(bool withNextStep) {
    static const ProductConfig prompting = [] {
        ProductConfig p = test::promptingProduct();
        p.urls.commandLineTools = "https://example.com/commandlinetools";
        p.urls.macosUpgrade = "https://example.com/macos/upgrade";
        p.urls.warpAffiliate = "https://partner.example/warp?utm=audit";
        return p;
    }();
    static const ProductConfig plain = [] {
        ProductConfig p = prompting;
        p.nextStepPrompt.reset();
        return p;
    }();
    return withNextStep ? prompting : plain;
}

SystemProfile bareMac(Architecture architecture = Architecture::appleSilicon, int macOS = 26) {
    SystemProfile p;
    p.architecture = architecture;
    p.macosVersion = {macOS, 0, 0};
    p.shell = Shell::zsh();
    return p;
}

SystemProfile foundationsMac(Architecture architecture = Architecture::appleSilicon, int macOS = 26) {
    SystemProfile p = bareMac(architecture, macOS);
    p.homebrewPrefix = "/opt/homebrew/bin/brew";
    p.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    return p;
}

// Profile builds that the test completes by hand, as the worker would.
struct ManualBuilds {
    ProfileBuilding building() {
        return [this](std::function<void(SystemProfile)> done) { pending.push_back(std::move(done)); };
    }
    void finish(const SystemProfile& profile) {
        auto work = std::move(pending);
        pending.clear();
        for (auto& done : work) done(profile);
    }
    std::vector<std::function<void(SystemProfile)>> pending;
};

std::vector<std::string> stageOutcomes(const RecordingSink& sink) {
    std::vector<std::string> result;
    for (const auto& [name, data] : sink.events) {
        if (name == "audit_stage_outcome") result.push_back(text(data.at("stage_id")) + "=" + text(data.at("outcome")));
    }
    return result;
}

LumoAuditContext lumoContext(std::string nextStep, std::optional<std::string> goal = std::nullopt,
                             std::optional<OfferRoute> then = std::nullopt) {
    return LumoAuditContext{std::move(nextStep), std::move(goal), std::move(then)};
}

// --- Stage rules -------------------------------------------------------------

TEST(AuditStageTests, FoundationsJudgesMacOSByReleasesBehindOnlyOnAppleSilicon) {
    const Stage1Foundations stage;
    EXPECT_EQ(stage.id(), "stage_1_foundations");
    // Counted in releases: 15 is one behind 26, not eleven.
    const struct {
        Architecture architecture;
        int major;
        AuditStageOutcome expected;
    } rows[] = {
        {Architecture::appleSilicon, 26, AuditStageOutcome::skippedAlreadyOk},
        {Architecture::appleSilicon, 27, AuditStageOutcome::skippedAlreadyOk},  // newer than the table
        {Architecture::appleSilicon, 15, AuditStageOutcome::skippedAlreadyOk},
        {Architecture::appleSilicon, 14, AuditStageOutcome::rendered},
        {Architecture::appleSilicon, 11, AuditStageOutcome::rendered},
        {Architecture::appleSilicon, 0, AuditStageOutcome::skippedAlreadyOk},  // version unknown
        {Architecture::intel, 12, AuditStageOutcome::skippedAlreadyOk},
        {Architecture::unknown, 0, AuditStageOutcome::skippedAlreadyOk},
    };
    for (const auto& row : rows)
        EXPECT_EQ(stage.outcome(foundationsMac(row.architecture, row.major)), row.expected)
            << "macOS " << row.major << " on architecture " << static_cast<int>(row.architecture);

    SystemProfile noBrew = foundationsMac();
    noBrew.homebrewPrefix.reset();
    SystemProfile noTools = foundationsMac();
    noTools.xcodeCommandLineToolsPath.reset();
    EXPECT_EQ(stage.outcome(noBrew), AuditStageOutcome::rendered);
    EXPECT_EQ(stage.outcome(noTools), AuditStageOutcome::rendered);
    // Never blocked, even on a Mac with nothing at all.
    EXPECT_EQ(stage.outcome(bareMac(Architecture::intel, 10)), AuditStageOutcome::rendered);
}

TEST(AuditStageTests, TerminalRulesApplyInOrder) {
    SystemProfile withWarp = bareMac();
    withWarp.terminals.warp = true;
    const SystemProfile nonDeveloper = bareMac();
    SystemProfile developer = bareMac();
    developer.aiTooling.cursor = true;

    // Rule 1 beats every other.
    EXPECT_EQ(Stage2Terminal(lumoContext("build_software")).outcome(withWarp), AuditStageOutcome::skippedAlreadyOk);
    // Rule 2 comes before rule 5: no next-step context shows the page to anyone.
    EXPECT_EQ(Stage2Terminal().outcome(nonDeveloper), AuditStageOutcome::rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("build_software")).outcome(nonDeveloper), AuditStageOutcome::rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("not_sure", "school")).outcome(nonDeveloper), AuditStageOutcome::rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("course", "gaming")).outcome(nonDeveloper),
              AuditStageOutcome::skippedMissingBlocked);
    EXPECT_EQ(Stage2Terminal(lumoContext("course")).outcome(developer), AuditStageOutcome::rendered);
}

// --- The flow ----------------------------------------------------------------

struct FlowFixture : ::testing::Test {
    std::unique_ptr<StagedAuditFlowModel> makeFlow(AuditContext context, std::optional<SystemProfile> fallback,
                                                   bool fixture = true) {
        return std::make_unique<StagedAuditFlowModel>(std::move(context), navigation, std::move(fallback), fixture,
                                                      sink, builds.building());
    }
    ScopedProduct product{auditProduct(true)};
    AppNavigation navigation;
    RecordingSink sink;
    ManualBuilds builds;
};

TEST_F(FlowFixture, GateOpensForDevelopersOtherEntriesSkipItAndTheCompletionLeadsOn) {
    SystemProfile toolsOnly = bareMac();
    toolsOnly.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    toolsOnly.terminals.iterm = true;
    toolsOnly.aiTooling.zed = true;
    toolsOnly.aiTooling.cursor = true;
    auto gated = makeFlow({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}, toolsOnly);
    gated->appeared();
    EXPECT_EQ(gated->display(), StagedAuditFlowModel::Display::stage);
    const JSONObject& reached = sink.events[0].second;
    EXPECT_EQ(integer(reached.at("ai_tool_count")), 2);
    EXPECT_EQ(reached.at("ai_tools"), JSONValue(JSONArray{"cursor", "zed"}));
    EXPECT_EQ(reached.at("terminals"), JSONValue(JSONArray{"iterm2"}));
    EXPECT_TRUE(flag(sink.last("audit_gated").at("likely_developer")));

    sink.events.clear();
    auto open = makeFlow({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, bareMac());
    open->appeared();
    EXPECT_EQ(open->display(), StagedAuditFlowModel::Display::stage);
    EXPECT_EQ(sink.count("audit_gated"), 0);
    EXPECT_EQ(text(sink.events[0].second.at("entry")), "build_intent");

    // A non-developer gets the completion page; "See recommendations →"
    // enters the audit again, ungated, with no context.
    auto closed = makeFlow({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}, bareMac());
    closed->appeared();
    EXPECT_EQ(closed->display(), StagedAuditFlowModel::Display::completion);
    navigation.push(Screen::audit(closed->context()));
    closed->seeRecommendations();
    EXPECT_EQ(*navigation.path().back().auditContext(),
              (AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}));
    closed->completionDone();
    EXPECT_TRUE(navigation.path().empty());
}

TEST_F(FlowFixture, TheReportsDoneButtonIsNamedForWhereItLeads) {
    const std::optional<OfferRoute> routes[] = {std::nullopt, OfferRoute::content("course_readiness"),
                                                OfferRoute::aiCodingInterest(), OfferRoute::guidedHelpWTP(),
                                                OfferRoute::audit(std::nullopt)};
    for (const auto& route : routes) {
        navigation.setPath({Screen::audit({})});
        auto flow = makeFlow({AuditEntry::nextStepCourse, CompletionSurface::excluded,
                              LumoAuditContext{"course", std::nullopt, route}},
                             bareMac());
        const std::string title = flow->finishTitle();
        flow->finished();
        EXPECT_EQ(title == "Done — back to home", navigation.path().empty()) << title;
        EXPECT_TRUE(title == "Done — back to home" || title == "Continue") << title;
    }
}

TEST_F(FlowFixture, SelfSkippingStagesRecordOnceAndReachTheReport) {
    SystemProfile done = foundationsMac();
    done.terminals.warp = true;
    auto flow =
        makeFlow({AuditEntry::nextStepCourse, CompletionSurface::excluded, lumoContext("course")}, std::nullopt);
    flow->appeared();
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::loading);
    EXPECT_TRUE(sink.events.empty());

    flow->setFallbackProfile(done);
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::finalReport);
    EXPECT_EQ(stageOutcomes(sink), (std::vector<std::string>{"stage_1_foundations=skipped_already_ok",
                                                             "stage_2_terminal=skipped_already_ok"}));
    // A later profile never records anything again.
    SystemProfile other = done;
    other.terminals.warp = false;
    flow->setFallbackProfile(other);
    flow->advanceFrom(1);
    EXPECT_EQ(sink.count("audit_reached"), 1);
    EXPECT_EQ(sink.count("audit_stage_outcome"), 2);
    EXPECT_EQ(flow->currentIndex(), 2);
}

TEST_F(FlowFixture, StagesWaitForTheFreshProfileOutsideFixtureModeAndOnlyTheCurrentOneAdvances) {
    auto flow = makeFlow({AuditEntry::nextStepNotSure, CompletionSurface::excluded, lumoContext("not_sure", "school")},
                         foundationsMac(), /*fixture=*/false);
    flow->appeared();
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::loading);
    EXPECT_TRUE(sink.events.empty());
    ASSERT_EQ(builds.pending.size(), 1u);
    builds.finish(bareMac());  // the Mac changed since start-up
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::stage);
    EXPECT_EQ(flow->currentIndex(), 0);
    EXPECT_EQ(stageOutcomes(sink), std::vector<std::string>{"stage_1_foundations=rendered"});
    flow->advanceFrom(0);
    flow->advanceFrom(0);  // a late second call from the first page
    EXPECT_EQ(flow->currentIndex(), 1);
    flow->advanceFrom(1);
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::finalReport);

    // Fixture mode never builds one.
    ManualBuilds none;
    StagedAuditFlowModel fixture({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, navigation,
                                 bareMac(), true, sink, none.building());
    fixture.appeared();
    EXPECT_TRUE(none.pending.empty());
}

// --- Stage pages -------------------------------------------------------------

struct PageFixture : ::testing::Test {
    ScopedProduct product{auditProduct(true)};
    RecordingSink sink;
    std::vector<std::string> opened;
    URLOpener opener = [this](const std::string& url) { opened.push_back(url); };
    int advances = 0;
};

TEST_F(PageFixture, FoundationsBlocksFollowTheProfile) {
    FoundationsPageModel missingBrew(
        bareMac(Architecture::appleSilicon, 14), [] {}, {}, sink, opener);
    EXPECT_TRUE(missingBrew.showsHomebrewBlock());
    EXPECT_FALSE(missingBrew.showsToolsBlock());
    EXPECT_TRUE(missingBrew.showsMacOSBlock());

    SystemProfile noTools = foundationsMac(Architecture::intel, 11);
    noTools.xcodeCommandLineToolsPath.reset();
    FoundationsPageModel tools(
        noTools, [] {}, {}, sink, opener);
    EXPECT_FALSE(tools.showsHomebrewBlock());
    EXPECT_TRUE(tools.showsToolsBlock());
    EXPECT_FALSE(tools.showsMacOSBlock());
    tools.toolsGuideTapped();
    tools.macOSGuideTapped();
    EXPECT_EQ(opened,
              (std::vector<std::string>{"https://example.com/commandlinetools", "https://example.com/macos/upgrade"}));
    EXPECT_EQ(text(sink.last().at("url")), "https://example.com/macos/upgrade");
}

TEST_F(PageFixture, FailedInstallAdvancesAndMaybeLaterRecordsTheStage) {
    FoundationsPageModel failed(
        bareMac(), [this] { ++advances; }, {}, sink, opener);
    failed.installHomebrewTapped();
    failed.sheetFinished(SheetOutcome::failure);
    EXPECT_EQ(advances, 1);
    failed.sheetFinished(SheetOutcome::failure);  // no sheet: nothing
    EXPECT_EQ(advances, 1);

    FoundationsPageModel later(
        bareMac(), [this] { ++advances; }, {}, sink, opener);
    later.maybeLaterTapped();
    later.maybeLaterTapped();
    EXPECT_EQ(advances, 2);
    EXPECT_EQ(sink.count("audit_stage_skipped_by_user"), 1);
    EXPECT_EQ(text(sink.last().at("stage_id")), "stage_1_foundations");
}

TEST_F(PageFixture, TerminalPageChoosesWarpRouteAndLinks) {
    TerminalPageModel withoutBrew(
        bareMac(), [this] { ++advances; }, sink, opener);
    EXPECT_EQ(withoutBrew.installRemediation(), Remediation::installHomebrewThenWarp("warp"));
    withoutBrew.installTapped();
    withoutBrew.sheetFinished(SheetOutcome::canceled);
    EXPECT_EQ(advances, 0);
    withoutBrew.installTapped();
    withoutBrew.sheetFinished(SheetOutcome::success);
    EXPECT_EQ(advances, 1);

    TerminalPageModel withBrew(
        foundationsMac(), [this] { ++advances; }, sink, opener);
    EXPECT_EQ(withBrew.installRemediation(), Remediation::installWarpViaBrew("warp", "/opt/homebrew/bin/brew"));
    withBrew.learnMoreTapped();
    EXPECT_EQ(advances, 2);
    EXPECT_EQ(opened, std::vector<std::string>{"https://partner.example/warp?utm=audit"});
    EXPECT_EQ(sink.last(), (JSONObject{{"tool", "Warp"}, {"url", "https://partner.example/warp?utm=audit"}}));
    EXPECT_EQ(TerminalPageModel::disclosure(),
              "We may earn a commission if you install Warp through Test for Java. Our recommendation is editorial.");
}

// The whole flow with its pages: a refresh that finds Homebrew and the tools
// makes the first stage skippable; the flow still lands on the terminal stage.
TEST_F(FlowFixture, HomebrewInstallAwaitsTheRefreshThenLandsOnTheTerminalStage) {
    auto flow = makeFlow({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, bareMac(),
                         /*fixture=*/false);
    flow->appeared();
    builds.finish(bareMac());
    ASSERT_EQ(flow->currentIndex(), 0);
    FoundationsPageModel page(
        *flow->profileInUse(), [&] { flow->advanceFrom(0); }, flow->foundations().onProfileRefresh, sink, nullptr);
    page.installHomebrewTapped();
    ASSERT_TRUE(page.sheetRemediation());
    EXPECT_EQ(*page.sheetRemediation(), Remediation::installHomebrew());
    EXPECT_EQ(sink.last(), (JSONObject{{"remediation_id", "homebrew"}, {"method", "homebrew"}}));
    page.sheetFinished(SheetOutcome::canceled);  // stays, may try again
    EXPECT_FALSE(page.sheetRemediation());
    page.installHomebrewTapped();
    page.sheetFinished(SheetOutcome::success);
    EXPECT_TRUE(page.isRefreshing());
    page.continueTapped();  // inert while the refresh runs
    page.maybeLaterTapped();
    EXPECT_EQ(flow->currentIndex(), 0);
    ASSERT_EQ(builds.pending.size(), 1u);
    builds.finish(foundationsMac());
    EXPECT_EQ(flow->currentIndex(), 1);
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::stage);
    EXPECT_TRUE(flow->profileInUse()->homebrewPrefix);
    EXPECT_EQ(stageOutcomes(sink),
              (std::vector<std::string>{"stage_1_foundations=rendered", "stage_2_terminal=rendered"}));
    EXPECT_EQ(sink.count("remediation_applied"), 2);
    EXPECT_EQ(sink.count("audit_stage_skipped_by_user"), 0);
}

// --- Final report ------------------------------------------------------------

TEST(FinalAuditReportTests, RowsFollowTheRebuiltProfile) {
    ScopedProduct product(auditProduct(true));
    MemoryPreferences preferences;
    RecordingSink sink;
    ManualBuilds builds;
    FinalAuditReportModel report(bareMac(), {}, false, preferences, sink, builds.building());
    using Tone = FinalAuditReportModel::Row::Tone;
    EXPECT_EQ(report.rows(),
              (std::vector<FinalAuditReportModel::Row>{{Tone::absent, "✗", "Xcode Command Line Tools missing"},
                                                       {Tone::absent, "✗", "Homebrew missing"},
                                                       {Tone::suggestion, "→", "Try Warp — we recommend it"}}));
    report.appeared();
    report.appeared();
    ASSERT_EQ(builds.pending.size(), 1u);
    SystemProfile after = foundationsMac();
    after.terminals.warp = true;
    builds.finish(after);
    EXPECT_EQ(report.rows(),
              (std::vector<FinalAuditReportModel::Row>{{Tone::present, "✓", "Xcode Command Line Tools installed"},
                                                       {Tone::present, "✓", "Homebrew installed"},
                                                       {Tone::present, "✓", "Warp installed"}}));
    // A product with a next-step prompt: no card, no score events.
    EXPECT_FALSE(report.showNPS());
    report.doneTapped();
    EXPECT_TRUE(sink.events.empty());
}

TEST(FinalAuditReportTests, ScoreCardShownThenDismissedOnlyWhenLeftUnsubmitted) {
    ScopedProduct product(auditProduct(false));
    MemoryPreferences preferences;
    int done = 0;
    const std::pair<int, std::vector<std::string>> endings[] = {
        {0, {"nps_shown", "nps_dismissed"}},  // Done with the card untouched
        {1, {"nps_shown"}},                   // submitted
        {2, {"nps_shown"}},                   // during the pause after a submission
    };
    for (const auto& [ending, expected] : endings) {
        RecordingSink sink;
        FinalAuditReportModel report(bareMac(), [&] { ++done; }, true, preferences, sink, {});
        EXPECT_TRUE(report.showNPS());
        report.appeared();
        if (ending == 1) report.npsSubmitted();
        if (ending == 2) report.npsSubmitting();
        report.doneTapped();
        EXPECT_EQ(sink.names(), expected) << "ending " << ending;
    }
    EXPECT_EQ(done, 3);
    // A score stored on an earlier launch: no card.
    preferences.set(PreferenceValue(true), preference_keys::npsSubmitted(ProductConfig::current()));
    RecordingSink sink;
    FinalAuditReportModel later(bareMac(), {}, true, preferences, sink, {});
    later.appeared();
    EXPECT_FALSE(later.showNPS());
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
}  // namespace lumo
