// The diagnose flow's state machine and its telemetry, with profiles made by
// hand and blocking work run inline.
#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/DiagnoseViewModel.h"
#include "screens/DiagnosisDetailModel.h"
#include "screens/VerifyModels.h"
#include "simulated/SimulatedServices.h"
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
            return Verifier::Result{};
        };
        flow = std::make_unique<DiagnoseFlow>(options);
    }
    const State& state() const { return flow->viewModel().state(); }

    AppNavigation navigation;
    RecordingSink sink;
    int profilerRuns = 0;
    SystemProfile nextProfile;
    std::vector<std::optional<int>> verifiedMajors;
    std::unique_ptr<DiagnoseFlow> flow;
};

class DiagnoseFlowTest : public ::testing::Test {
protected:
    test::ScopedProduct product{ProductConfig::fixwellJava()};
};

// Appearing diagnoses once and records the JDKs in probe order (unknowns as
// null); only outside fixture mode does it profile, once per flow.
TEST_F(DiagnoseFlowTest, AppearingDiagnosesAndRecordsOnceProfilingOnlyOutsideFixtureMode) {
    Harness unset(profileWith({jdk("1.8.0_392", "/Users/alex/.sdkman/candidates/java/8/Home", ""),
                               jdk("garbage", "/Library/Java/JavaVirtualMachines/x.jdk/Contents/Home")},
                              "/Users/alex/.sdkman/candidates/java/8/Home"));
    unset.flow->appear();
    unset.flow->appear();
    EXPECT_EQ(unset.profilerRuns, 0);
    ASSERT_EQ(unset.sink.names(), std::vector<std::string>{"diagnosis_reached"});
    const JSONArray& jdks = std::get<JSONArray>(unset.sink.last().at("discovered_jdks").value);
    EXPECT_EQ(std::get<JSONObject>(jdks.at(1).value).at("major_version"), JSONValue(nullptr));

    Harness harness(profileWith({}), /*fixtureMode=*/false);
    harness.nextProfile = profileWith({jdk("21.0.5", "/j/21")});
    harness.flow->appear();
    harness.flow->appear();  // already has a fresh profile
    EXPECT_EQ(harness.profilerRuns, 1);
    EXPECT_TRUE(harness.state().is<State::Diagnosed>());
}

TEST_F(DiagnoseFlowTest, AJavaFixIsVerifiedAndFollowedUpToolInstallsCompleteAndFailuresShowAnError) {
    Harness harness(profileWith({}));  // no tooling at all: the installer package
    harness.flow->appear();
    harness.flow->installChosen(21);
    EXPECT_EQ(harness.flow->lastD1Remediation(), Remediation::installViaPKG(21));
    harness.flow->finish(RemediationOutcome::success("Installed."));
    harness.flow->verifyNow();
    EXPECT_EQ(harness.verifiedMajors, (std::vector<std::optional<int>>{21})) << "the chosen major is expected";

    // "Set JAVA_HOME" profiles again, even in fixture mode, and takes the first JDK in probe order.
    harness.nextProfile = profileWith({jdk("21.0.5", "/j/21"), jdk("25", "/j/25")});
    harness.flow->setJavaHome();
    EXPECT_EQ(harness.profilerRuns, 1);
    const Remediation expected = Remediation::writeJavaHomeToZprofile("/j/21");
    EXPECT_EQ(harness.state(), State::remediating(expected));
    EXPECT_EQ(harness.flow->lastDiagnosis(), Diagnosis::D2_HomeUnset(jdk("21.0.5", "/j/21")));
    // Nothing found: continue with the last diagnosis (the fix's D2).
    harness.flow->finish(RemediationOutcome::success(""));
    harness.flow->verified({"", 1, std::nullopt});
    harness.nextProfile = profileWith({});
    harness.flow->setJavaHome();
    EXPECT_EQ(harness.navigation.path(),
              std::vector{Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, std::nullopt})});

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

TEST_F(DiagnoseFlowTest, InstallDoesNothingWithoutAProfile) {
    Harness harness(std::nullopt);
    harness.flow->viewModel().setState(State::diagnosed(Diagnosis::D1_NoJDK(), std::nullopt, std::nullopt));
    harness.flow->installChosen(25);
    EXPECT_TRUE(harness.state().is<State::Diagnosed>());
    EXPECT_TRUE(harness.sink.events.empty());
}

// --- detail and verify pages

// The window's journey installs D1's default and asks for the score on the
// all-good page; the chooser's other rows are the model's.
TEST(DiagnosisDetailTest, InstallsTheChosenMajorAndRecordsEachAppearance) {
    test::ScopedProduct product{ProductConfig::fixwellJava()};
    InMemoryKeyValueStore preferences;
    RecordingSink sink;
    int installed = 0;
    DiagnosisDetailModel::Callbacks callbacks;
    callbacks.onInstallChosen = [&](int major) { installed = major; };
    DiagnosisDetailModel d3(Diagnosis::D3_LegacyOnly(jdk("17", "/j/17")), std::nullopt, std::nullopt, callbacks,
                            preferences, &sink);
    d3.choose(17);
    d3.install();
    EXPECT_EQ(installed, 17);
    d3.appeared();
    d3.appeared();
    EXPECT_EQ(sink.count("chooser_shown"), 2);
    EXPECT_EQ(sink.last().at("screen"), JSONValue("d3"));
}

TEST(DiagnosisDetailTest, AnIntelOnlyJDKOnAppleSiliconWarnsAboutRosetta) {
    JDKInfo intel = jdk("21.0.5", "/Users/alex/.sdkman/candidates/java/21.0.5-tem");
    intel.architecture = "x86_64";
    intel.source = "sdkman";
    SystemProfile silicon;
    silicon.architecture = Architecture::appleSilicon;
    const Diagnosis diagnosis = Diagnosis::D2_HomeUnset(intel);

    EXPECT_NE(jdkFacts(diagnosis, silicon).rosettaWarning.find("Rosetta isn't installed"), std::string::npos);
    silicon.rosettaInstalled = true;
    EXPECT_NE(jdkFacts(diagnosis, silicon).rosettaWarning.find("Rosetta is installed."), std::string::npos);
    EXPECT_EQ(jdkFacts(diagnosis, std::nullopt), (JDKFacts{"Source: SDKMAN", "", std::nullopt, ""}));
    EXPECT_FALSE(jdkFacts(Diagnosis::D3_LegacyOnly(intel), silicon).nativeBuild) << "the page offers installs anyway";
}

// Whether a result passes for a fix is the verifier's (its tests hold the
// table); the verdict adds the follow-up, the legacy warning and the shell.
TEST(VerifyVerdictTest, KindAndEventFollowTheFixTheOutputAndTheShell) {
    using Kind = VerifyVerdict::Kind;
    const Remediation install = Remediation::installTemurinViaBrew("temurin@25");
    const Remediation keep = Remediation::keepCurrentLegacyJava("/Users/alex/jdk8/Home");
    const Verifier::Result bannerNoHome{"openjdk version \"25\" 2025-09-16\n", 0, std::nullopt};
    Verifier::Result legacy{"openjdk version \"1.8.0_392\"\n", 0, "/Users/alex/jdk8/Home"};
    legacy.terminal.javaHomeHasJava = true;
    const struct {
        const char* name;
        Remediation fix;
        Verifier::Result result;
        std::string shell;
        Kind kind;
        std::string event;
    } rows[] = {
        {"configuration without JAVA_HOME", Remediation::setJavaHomeViaMise("temurin-25"), bannerNoHome, "",
         Kind::failed, "verify_failed"},
        {"kept legacy Java", keep, legacy, "zsh", Kind::passed, "verify_passed_with_legacy"},
        // A ~/.zprofile fix for a bash user is never reported as done, whatever zsh would say.
        {"zsh-only fix for bash", keep, legacy, "bash", Kind::failed, "verify_failed"},
    };
    for (const auto& row : rows) {
        const VerifyVerdict verdict = VerifyVerdict::of(row.fix, row.result, row.shell);
        EXPECT_EQ(verdict.kind, row.kind) << row.name;
        EXPECT_EQ(verificationEvent(row.fix, row.result, row.shell).first, row.event) << row.name;
        EXPECT_EQ(verdict.shellNote.has_value(), row.shell == "bash") << row.name;
    }
    EXPECT_NE(VerifyVerdict::of(keep, legacy).legacyWarning->find("Java 8 cannot run"), std::string::npos);
    EXPECT_EQ(verificationEvent(keep, legacy).second.at("chosen_path"), JSONValue("/Users/~/jdk8/Home"));
    EXPECT_EQ(verificationEvent(install, {"", 127, std::nullopt}).second.at("exit_code"), JSONValue(127));
}

TEST(VerifyVerdictTest, ExcerptPicksTheVersionLineAndCutsIt) {
    EXPECT_EQ(javaVersionExcerpt("\nPicked up JAVA_TOOL_OPTIONS\nopenjdk version \"21\"\nmore"),
              "openjdk version \"21\"");
    EXPECT_EQ(javaVersionExcerpt("\n\nzsh: command not found: java\n"), "zsh: command not found: java");
    EXPECT_EQ(javaVersionExcerpt(std::string(300, 'x') + "\n"), std::string(200, 'x'));
}

}  // namespace
}  // namespace lumo
