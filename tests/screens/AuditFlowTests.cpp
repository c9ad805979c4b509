// The staged audit's rules, flow, pages and report. The window's journeys
// walk a developer's audit end to end and a non-developer's gate.
#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/AuditStagePages.h"
#include "screens/FinalAuditReport.h"
#include "screens/StagedAuditFlow.h"
#include "simulated/SimulatedServices.h"

namespace lumo {
namespace {

using test::RecordingSink;
using test::ScopedProduct;

std::string text(const JSONValue& value) { return std::get<std::string>(value.value); }

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

TEST(AuditStageTests, FoundationsRendersForMissingToolsOrAMacOSTwoReleasesBehindOnAppleSilicon) {
    // Counted in releases: 15 is one behind 26, not eleven.
    const struct {
        Architecture architecture;
        int major;
        bool brew, tools, rendered;
    } rows[] = {
        {Architecture::appleSilicon, 27, true, true, false},  // newer than the table
        {Architecture::appleSilicon, 15, true, true, false}, {Architecture::appleSilicon, 14, true, true, true},
        {Architecture::appleSilicon, 0, true, true, false},  // version unknown
        {Architecture::intel, 12, true, true, false},        {Architecture::appleSilicon, 26, false, true, true},
        {Architecture::appleSilicon, 26, true, false, true},
    };
    for (const auto& row : rows) {
        SystemProfile mac = foundationsMac(row.architecture, row.major);
        if (!row.brew) mac.homebrewPrefix.reset();
        if (!row.tools) mac.xcodeCommandLineToolsPath.reset();
        EXPECT_EQ(Stage1Foundations().outcome(mac) == AuditStageOutcome::rendered, row.rendered)
            << "macOS " << row.major << ", architecture " << static_cast<int>(row.architecture) << ", Homebrew "
            << row.brew << ", tools " << row.tools;
    }
}

TEST(AuditStageTests, TerminalRulesApplyInOrder) {
    SystemProfile withWarp = bareMac();
    withWarp.terminals.warp = true;
    const SystemProfile nonDeveloper = bareMac();
    SystemProfile developer = bareMac();
    developer.aiTooling.cursor = true;
    const auto rendered = AuditStageOutcome::rendered;

    EXPECT_EQ(Stage2Terminal(lumoContext("build_software")).outcome(withWarp), AuditStageOutcome::skippedAlreadyOk);
    EXPECT_EQ(Stage2Terminal().outcome(nonDeveloper), rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("build_software")).outcome(nonDeveloper), rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("not_sure", "school")).outcome(nonDeveloper), rendered);
    EXPECT_EQ(Stage2Terminal(lumoContext("course", "gaming")).outcome(nonDeveloper),
              AuditStageOutcome::skippedMissingBlocked);
    EXPECT_EQ(Stage2Terminal(lumoContext("course")).outcome(developer), rendered);
}

// --- The flow and its pages ---------------------------------------------------

struct AuditFixture : ::testing::Test {
    std::unique_ptr<StagedAuditFlowModel> makeFlow(AuditContext context, std::optional<SystemProfile> fallback,
                                                   bool fixture = true) {
        return std::make_unique<StagedAuditFlowModel>(std::move(context), navigation, std::move(fallback), fixture,
                                                      sink, builds.building());
    }
    ScopedProduct product{test::promptingProduct()};
    AppNavigation navigation;
    RecordingSink sink;
    ManualBuilds builds;
    int advances = 0;
    std::function<void()> advance = [this] { ++advances; };
};

// A non-developer's gate and its completion page are the journeys'.
TEST_F(AuditFixture, GateOpensForDevelopersAndOtherEntriesSkipIt) {
    SystemProfile toolsOnly = bareMac();
    toolsOnly.aiTooling.zed = true;
    toolsOnly.aiTooling.cursor = true;
    auto gated = makeFlow({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}, toolsOnly);
    gated->appeared();
    EXPECT_EQ(gated->display(), StagedAuditFlowModel::Display::stage);
    EXPECT_EQ(sink.events[0].second.at("ai_tools"), JSONValue(JSONArray{"cursor", "zed"}));
    EXPECT_EQ(sink.last("audit_gated").at("likely_developer"), JSONValue(true));

    makeFlow({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, bareMac())->appeared();
    EXPECT_EQ(sink.count("audit_gated"), 1);
}

TEST_F(AuditFixture, StagesWaitForAProfileRecordOnceAndSkipThemselves) {
    SystemProfile done = foundationsMac();
    done.terminals.warp = true;
    auto skipping = makeFlow({AuditEntry::nextStepCourse, CompletionSurface::excluded, lumoContext("course")}, {});
    skipping->appeared();
    EXPECT_EQ(skipping->display(), StagedAuditFlowModel::Display::loading);
    skipping->setFallbackProfile(done);
    EXPECT_EQ(skipping->display(), StagedAuditFlowModel::Display::finalReport);
    EXPECT_EQ(stageOutcomes(sink), (std::vector<std::string>{"stage_1_foundations=skipped_already_ok",
                                                             "stage_2_terminal=skipped_already_ok"}));
    skipping->setFallbackProfile(bareMac());  // a later profile never records anything again
    EXPECT_EQ(sink.events.size(), 3u);
}

// A failed install moving on is the audit window's test.
TEST_F(AuditFixture, FoundationsBlocksFollowTheProfileAndMaybeLaterAdvancesOnce) {
    FoundationsPageModel missingBrew(bareMac(Architecture::appleSilicon, 14), advance, {}, sink, nullptr);
    EXPECT_TRUE(missingBrew.showsHomebrewBlock());
    EXPECT_FALSE(missingBrew.showsToolsBlock());
    EXPECT_TRUE(missingBrew.showsMacOSBlock());
    SystemProfile noTools = foundationsMac(Architecture::intel, 11);
    noTools.xcodeCommandLineToolsPath.reset();
    FoundationsPageModel tools(noTools, advance, {}, sink, nullptr);
    EXPECT_FALSE(tools.showsHomebrewBlock());
    EXPECT_TRUE(tools.showsToolsBlock());
    EXPECT_FALSE(tools.showsMacOSBlock());

    missingBrew.sheetFinished(SheetOutcome::failure);  // no sheet: nothing
    tools.maybeLaterTapped();
    tools.maybeLaterTapped();
    EXPECT_EQ(advances, 1);
    EXPECT_EQ(sink.count("audit_stage_skipped_by_user"), 1);
}

// Its two install routes are walked by the scenarios and the audit window's test.
TEST_F(AuditFixture, TerminalPageAdvancesOnlyAfterSuccess) {
    TerminalPageModel withoutBrew(bareMac(), advance, sink, nullptr);
    withoutBrew.installTapped();
    withoutBrew.sheetFinished(SheetOutcome::canceled);
    EXPECT_EQ(advances, 0);
    withoutBrew.installTapped();
    withoutBrew.sheetFinished(SheetOutcome::success);
    EXPECT_EQ(advances, 1);
}

// Outside fixture mode the stages wait for the fresh profile. A refresh that
// finds Homebrew and the tools makes the first stage skippable; the flow still
// lands on the terminal stage, and the page is inert meanwhile. (The audit's
// widget test cancels the install and stays.)
TEST_F(AuditFixture, HomebrewInstallAwaitsTheRefreshThenLandsOnTheTerminalStage) {
    auto flow = makeFlow({AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, foundationsMac(),
                         /*fixture=*/false);
    flow->appeared();
    EXPECT_EQ(flow->display(), StagedAuditFlowModel::Display::loading);
    builds.finish(bareMac());  // the Mac changed since start-up
    EXPECT_EQ(stageOutcomes(sink), std::vector<std::string>{"stage_1_foundations=rendered"});
    FoundationsPageModel page(
        *flow->profileInUse(), [&] { flow->advanceFrom(0); }, flow->foundations().onProfileRefresh, sink, nullptr);
    page.installHomebrewTapped();
    page.sheetFinished(SheetOutcome::success);
    EXPECT_TRUE(page.isRefreshing());
    page.continueTapped();  // inert while the refresh runs
    page.maybeLaterTapped();
    EXPECT_EQ(flow->currentIndex(), 0);
    ASSERT_EQ(builds.pending.size(), 1u);
    builds.finish(foundationsMac());
    flow->advanceFrom(0);  // a late second call from the first page
    EXPECT_EQ(flow->currentIndex(), 1);
    EXPECT_EQ(sink.count("audit_stage_skipped_by_user"), 0);
}

// --- Final report ------------------------------------------------------------

TEST(FinalAuditReportTests, RowsFollowTheRebuiltProfileAndTheScoreCardIsAsked) {
    ScopedProduct product(ProductConfig::fixwellJava());
    InMemoryKeyValueStore preferences;
    RecordingSink sink;
    ManualBuilds builds;
    FinalAuditReportModel report(bareMac(), {}, false, preferences, sink, builds.building());
    using Row = FinalAuditReportModel::Row;
    EXPECT_EQ(report.rows()[2].tone, Row::Tone::suggestion);
    report.appeared();
    report.appeared();
    ASSERT_EQ(builds.pending.size(), 1u);
    SystemProfile after = foundationsMac();
    after.terminals.warp = true;
    builds.finish(after);
    for (const Row& row : report.rows()) EXPECT_EQ(row.tone, Row::Tone::present) << row.text;
    report.doneTapped();
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"nps_shown", "nps_dismissed"}));
}

}  // namespace
}  // namespace lumo
