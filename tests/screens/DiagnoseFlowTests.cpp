// The diagnose flow's state machine and its telemetry, with profiles made by
// hand and blocking work run inline.
#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/DiagnoseViewModel.h"
#include "screens/DiagnosisDetailModel.h"
#include "screens/VerifyModels.h"
#include "support/JDKSupport.h"

namespace lumo {
namespace {

using test::RecordingSink;
using State = DiagnoseViewModel::State;

JDKInfo jdk(std::string version, std::string path, std::string vendor = "Eclipse Adoptium") {
    return test::makeJDK(std::move(version), std::move(vendor), "arm64", std::move(path));
}

SystemProfile profileWith(std::vector<JDKInfo> jdks, std::optional<std::string> javaHome = std::nullopt) {
    SystemProfile profile;
    profile.javaState.installedJDKs = std::move(jdks);
    profile.javaState.javaHomeInActiveShell = std::move(javaHome);
    return profile;
}

struct Harness {
    explicit Harness(std::optional<SystemProfile> profile, bool fixtureMode = true) {
        DiagnoseFlow::Options options;
        options.navigation = &navigation;
        options.telemetry = &sink;
        options.services.isFixtureMode = fixtureMode;
        options.fallbackProfile = profile;
        options.profileMachine = [this] {
            ++profilerRuns;
            return nextProfile;
        };
        options.verify = [this](std::optional<int> expectedMajor) {
            verifiedMajors.push_back(expectedMajor);
            return verifyResult;
        };
        flow = std::make_unique<DiagnoseFlow>(options);
    }
    const State& state() const { return flow->viewModel().state(); }

    AppNavigation navigation;
    RecordingSink sink;
    int profilerRuns = 0;
    SystemProfile nextProfile;
    Verifier::Result verifyResult;
    std::vector<std::optional<int>> verifiedMajors;
    std::unique_ptr<DiagnoseFlow> flow;
};

// What a new Terminal window gives when JAVA_HOME, if set, is a JDK.
Verifier::Result verifiedWith(std::string output, std::optional<std::string> javaHome) {
    Verifier::Result result{std::move(output), 0, std::move(javaHome)};
    result.terminal.javaHomeHasJava = result.javaHomeValue.has_value();
    return result;
}

class DiagnoseFlowTest : public ::testing::Test {
protected:
    test::ScopedProduct product{ProductConfig::fixwellJava()};
};

TEST_F(DiagnoseFlowTest, EntersDiagnosedWithOnlyTheJavaHomeFixForD2) {
    Harness unset(profileWith({jdk("21.0.5", "/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home")}));
    unset.flow->appear();
    const auto* diagnosed = unset.state().as<State::Diagnosed>();
    ASSERT_NE(diagnosed, nullptr);
    EXPECT_EQ(diagnosed->diagnosis.kind(), Diagnosis::Case::D2_HomeUnset);
    EXPECT_FALSE(diagnosed->d1Remediation);
    EXPECT_EQ(diagnosed->d2Remediation,
              Remediation::writeJavaHomeToZprofile("/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home"));
    // Fixture mode with a fallback profile: no profiler ran.
    EXPECT_EQ(unset.profilerRuns, 0);
}

TEST_F(DiagnoseFlowTest, OutsideFixtureModeProfilesOnEveryNewFlow) {
    Harness harness(profileWith({}), /*fixtureMode=*/false);
    harness.nextProfile = profileWith({jdk("25", "/j/25")}, "/j/25");
    harness.flow->appear();
    harness.flow->appear();  // already has a fresh profile
    EXPECT_EQ(harness.profilerRuns, 1);
    EXPECT_EQ(harness.state().as<State::Diagnosed>()->diagnosis.kind(), Diagnosis::Case::D4_ModernHomeSet);
}

TEST_F(DiagnoseFlowTest, DiagnosisReachedCarriesShortenedPathsInProbeOrder) {
    Harness harness(profileWith({jdk("1.8.0_392", "/Users/alex/.sdkman/candidates/java/8/Home", ""),
                                 jdk("garbage", "/Library/Java/JavaVirtualMachines/x.jdk/Contents/Home")},
                                "/Users/alex/.sdkman/candidates/java/8/Home"));
    harness.flow->appear();
    ASSERT_EQ(harness.sink.names(), std::vector<std::string>{"diagnosis_reached"});
    const JSONObject& data = harness.sink.last();
    EXPECT_EQ(data.at("java_major_version"), JSONValue(8));
    EXPECT_EQ(data.at("current_java_home"), JSONValue("/Users/~/.sdkman/candidates/java/8/Home"));
    const JSONArray& jdks = std::get<JSONArray>(data.at("discovered_jdks").value);
    ASSERT_EQ(jdks.size(), 2u);
    const auto& first = std::get<JSONObject>(jdks[0].value);
    EXPECT_EQ(first.at("path"), JSONValue("/Users/~/.sdkman/candidates/java/8/Home"));
    EXPECT_EQ(first.at("major_version"), JSONValue(8));
    EXPECT_EQ(first.at("vendor"), JSONValue(nullptr));
    const auto& second = std::get<JSONObject>(jdks[1].value);
    EXPECT_EQ(second.at("major_version"), JSONValue(nullptr));
    EXPECT_EQ(second.at("vendor"), JSONValue("Eclipse Adoptium"));
}

TEST_F(DiagnoseFlowTest, CancellingKeepLegacyReturnsToTheSameD3WithItsFixRemembered) {
    Harness harness(profileWith({jdk("17.0.2", "/Library/Java/JavaVirtualMachines/temurin-17.jdk/Contents/Home")}));
    harness.flow->appear();
    const State before = harness.state();
    harness.flow->keepLegacy();
    const Remediation keep =
        Remediation::keepCurrentLegacyJava("/Library/Java/JavaVirtualMachines/temurin-17.jdk/Contents/Home");
    EXPECT_EQ(harness.state(), State::remediating(keep));
    EXPECT_EQ(harness.flow->sheetRemediation(), keep);
    EXPECT_EQ(harness.sink.last().at("method"), JSONValue(keep.telemetryMethod()));

    harness.flow->finish(RemediationOutcome::canceled());
    EXPECT_FALSE(harness.flow->sheetRemediation());
    // The same D3, now with the keep-legacy fix remembered as its JAVA_HOME fix.
    EXPECT_EQ(harness.state(), State::diagnosed(before.as<State::Diagnosed>()->diagnosis, std::nullopt, keep));
    EXPECT_EQ(harness.flow->lastD2Remediation(), keep);
    EXPECT_FALSE(harness.flow->lastD1Remediation());
}

TEST_F(DiagnoseFlowTest, SuccessVerifiesJavaFixesButCompletesToolInstalls) {
    Harness harness(profileWith({}));  // no tooling at all: the installer package
    harness.flow->appear();
    harness.flow->installChosen(21);
    EXPECT_EQ(harness.flow->lastD1Remediation(), Remediation::installViaPKG(21));
    harness.flow->finish(RemediationOutcome::success("Installed."));
    harness.flow->verifyNow();
    EXPECT_EQ(harness.verifiedMajors, (std::vector<std::optional<int>>{21})) << "the chosen major is expected";

    for (const Remediation& tool : {Remediation::installWarpViaBrew("warp"), Remediation::installHomebrew(),
                                    Remediation::installHomebrewThenWarp("warp")}) {
        harness.flow->backToDiagnosis();
        harness.flow->remediate(tool);
        harness.flow->finish(RemediationOutcome::success("Warp is installed."));
        EXPECT_EQ(harness.state(), State::completed("Warp is installed."));
    }
    harness.flow->backToDiagnosis();
    harness.flow->installChosen(25);
    harness.flow->finish(RemediationOutcome::failure("Install failed (exit code 3)."));
    EXPECT_EQ(harness.state(), State::error("Install failed (exit code 3)."));
    harness.flow->backToDiagnosis();
    EXPECT_TRUE(harness.state().is<State::Diagnosed>());
}

TEST_F(DiagnoseFlowTest, SetJavaHomeFollowUpTakesTheFirstJDKInProbeOrder) {
    Harness harness(profileWith({}));
    harness.flow->appear();
    harness.flow->installChosen(21);
    harness.flow->finish(RemediationOutcome::success(""));
    harness.flow->verified({"openjdk version \"21\"", 0, std::nullopt});
    harness.nextProfile = profileWith({jdk("21.0.5", "/j/21"), jdk("25", "/j/25")});
    harness.flow->setJavaHome();  // profiles again, even in fixture mode
    EXPECT_EQ(harness.profilerRuns, 1);
    const Remediation expected = Remediation::writeJavaHomeToZprofile("/j/21");
    EXPECT_EQ(harness.state(), State::remediating(expected));
    EXPECT_EQ(harness.flow->lastDiagnosis(), Diagnosis::D2_HomeUnset(jdk("21.0.5", "/j/21")));
    EXPECT_EQ(harness.flow->lastD2Remediation(), expected);
    EXPECT_FALSE(harness.flow->lastD1Remediation());

    // Nothing found: continue with the last diagnosis (the fix's D2).
    harness.flow->finish(RemediationOutcome::success(""));
    harness.flow->verified({"", 1, std::nullopt});
    harness.nextProfile = profileWith({});
    harness.flow->setJavaHome();
    ASSERT_EQ(harness.navigation.path().size(), 1u);
    EXPECT_EQ(harness.navigation.path()[0],
              Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt}));
}

TEST_F(DiagnoseFlowTest, InstallDoesNothingWithoutAProfile) {
    Harness harness(std::nullopt);
    harness.flow->viewModel().setState(State::diagnosed(Diagnosis::D1_NoJDK(), std::nullopt, std::nullopt));
    harness.flow->installChosen(25);
    EXPECT_TRUE(harness.state().is<State::Diagnosed>());
    EXPECT_TRUE(harness.sink.events.empty());
}

// --- detail and verify pages

TEST(DiagnosisDetailTest, ChooserDefaultsRecordsAndScoreCardFlag) {
    test::ScopedProduct product{ProductConfig::fixwellJava()};
    test::MemoryPreferences preferences;
    RecordingSink sink;
    std::vector<int> installed;
    DiagnosisDetailModel::Callbacks callbacks;
    callbacks.onInstallChosen = [&](int major) { installed.push_back(major); };
    DiagnosisDetailModel d1(Diagnosis::D1_NoJDK(), std::nullopt, std::nullopt, callbacks, preferences, &sink);
    d1.install();
    DiagnosisDetailModel d3(Diagnosis::D3_LegacyOnly(jdk("17", "/j/17")), std::nullopt, std::nullopt, callbacks,
                            preferences, &sink);
    d3.choose(17);
    d3.install();
    EXPECT_EQ(installed, (std::vector<int>{25, 17}));
    d1.appeared();
    d1.appeared();
    EXPECT_EQ(sink.count("chooser_shown"), 2);
    EXPECT_EQ(sink.last().at("screen"), JSONValue("d1"));

    DiagnosisDetailModel good(Diagnosis::noErrorsFound(), std::nullopt, std::nullopt, {}, preferences, &sink);
    good.appeared();
    good.appeared();
    EXPECT_EQ(sink.count("nps_shown"), 1);
    preferences.set(PreferenceValue(true), ProductConfig::current().userDefaultsPrefix + ".nps_submitted");
    DiagnosisDetailModel after(Diagnosis::noErrorsFound(), std::nullopt, std::nullopt, {}, preferences, &sink);
    EXPECT_FALSE(after.showNPSOnNoErrors());
}

TEST(DiagnosisDetailTest, AnIntelOnlyJDKOnAppleSiliconWarnsAboutRosetta) {
    JDKInfo intel = jdk("21.0.5", "/Users/alex/.sdkman/candidates/java/21.0.5-tem");
    intel.architecture = "x86_64";
    intel.source = "sdkman";
    SystemProfile silicon;
    silicon.architecture = Architecture::appleSilicon;
    const Diagnosis diagnosis = Diagnosis::D2_HomeUnset(intel);

    const JDKFacts facts = jdkFacts(diagnosis, silicon);
    EXPECT_EQ(facts.source, "Source: SDKMAN");
    EXPECT_NE(facts.rosettaWarning.find("runs only under Rosetta"), std::string::npos);
    EXPECT_NE(facts.rosettaWarning.find("Rosetta isn't installed"), std::string::npos);
    silicon.rosettaInstalled = true;
    EXPECT_NE(jdkFacts(diagnosis, silicon).rosettaWarning.find("Rosetta is installed."), std::string::npos);
    EXPECT_EQ(jdkFacts(diagnosis, std::nullopt), (JDKFacts{"Source: SDKMAN", "", std::nullopt, ""}));
    EXPECT_FALSE(jdkFacts(Diagnosis::D3_LegacyOnly(intel), silicon).nativeBuild) << "the page offers installs anyway";
}

TEST(VerifyVerdictTest, KindsEventsAndWarnings) {
    const Verifier::Result bannerNoHome{"openjdk version \"25\" 2025-09-16\n", 0, std::nullopt};
    const Remediation install = Remediation::installTemurinViaBrew("temurin@25");
    auto verdict = VerifyVerdict::of(install, bannerNoHome);
    EXPECT_EQ(verdict.kind, VerifyVerdict::Kind::needsJavaHome);
    EXPECT_EQ(verdict.javaHomeText, "(unset)");

    verdict = VerifyVerdict::of(Remediation::setJavaHomeViaMise("temurin-25"), bannerNoHome);
    EXPECT_EQ(verdict.kind, VerifyVerdict::Kind::failed);

    const Remediation keep = Remediation::keepCurrentLegacyJava("/Users/alex/jdk8/Home");
    verdict = VerifyVerdict::of(keep, verifiedWith("openjdk version \"1.8.0_392\"\n", "/Users/alex/jdk8/Home"));
    EXPECT_EQ(verdict.kind, VerifyVerdict::Kind::passed);
    EXPECT_EQ(verdict.legacyWarning,
              "JAVA_HOME is now set, but Java 8 cannot run software that requires a newer Java.");
    auto [name, data] = verificationEvent(keep, verifiedWith("openjdk version \"1.8.0_392\"\n", "/x"));
    EXPECT_EQ(name, "verify_passed_with_legacy");
    EXPECT_EQ(data.at("chosen_path"), JSONValue("/Users/~/jdk8/Home"));
    EXPECT_EQ(data.at("java_major_version"), JSONValue(8));

    verdict = VerifyVerdict::of(install, {"", 127, std::nullopt});
    EXPECT_FALSE(verdict.passed);
    std::tie(name, data) = verificationEvent(install, {"", 127, std::nullopt});
    EXPECT_EQ(name, "verify_failed");
    EXPECT_EQ(data.at("exit_code"), JSONValue(127));
    EXPECT_EQ(data.at("java_version_excerpt"), JSONValue(""));

    // A ~/.zprofile fix for a bash user is never reported as done, whatever zsh would say.
    verdict = VerifyVerdict::of(keep, verifiedWith("openjdk version \"1.8.0_392\"\n", "/x"), "bash");
    EXPECT_EQ(verdict.kind, VerifyVerdict::Kind::failed);
    ASSERT_TRUE(verdict.shellNote);
    EXPECT_NE(verdict.shellNote->find("~/.zprofile, which only zsh reads"), std::string::npos);
    EXPECT_FALSE(VerifyVerdict::of(install, bannerNoHome, "fish").shellNote)
        << "an install does not depend on the shell";
}

TEST(VerifyVerdictTest, ExcerptPicksTheVersionLineAndCutsIt) {
    EXPECT_EQ(javaVersionExcerpt("\nPicked up JAVA_TOOL_OPTIONS\nopenjdk version \"21\"\nmore"),
              "openjdk version \"21\"");
    EXPECT_EQ(javaVersionExcerpt("\n\nzsh: command not found: java\n"), "zsh: command not found: java");
    EXPECT_EQ(javaVersionExcerpt(std::string(300, 'x') + "\n"), std::string(200, 'x'));
}

}  // namespace
}  // namespace lumo
