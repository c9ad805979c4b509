// The remediation sheet's models on simulated Macs: the streamed steps, the
// chaining, Cancel, the ~/.zshrc follow-up and the one terminal event per
// sheet.
#include <gtest/gtest.h>

#include <thread>

#include "ScreenTestSupport.h"
#include "profiling/SystemProfile.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/MiseRunner.h"
#include "remediation/Verifier.h"
#include "screens/DiagnoseViewModel.h"
#include "screens/StreamingRemediationModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::RecordingSink;
using Footer = StreamingRemediationModel::Footer;

std::vector<std::string> brewInstall(const std::string& cask, const std::string& brew = "/opt/homebrew/bin/brew") {
    return {brew, "install", "--cask", cask};
}

struct Sheet {
    Sheet(const Scenario& mac, const Remediation& fix, const std::function<void(HostInfo&)>& host = {})
        : services(makeSimulatedServices(mac)) {
        if (host) host(services.host);
        model = std::make_unique<StreamingRemediationModel>(
            fix, services, sink, [this](const RemediationOutcome& outcome) { outcomes.push_back(outcome); });
    }
    // Pumps until the run has ended (or `until` holds).
    void run(const std::function<bool()>& until = {}) {
        model->start();
        test::eventually([&] {
            model->pump();
            return model->phase() == StreamingRemediationModel::Phase::ended || (until && until());
        });
    }
    const SimulatedProcessRunner& processes() const {
        return static_cast<const SimulatedProcessRunner&>(*services.processRunner);
    }
    AppServices services;
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    std::unique_ptr<StreamingRemediationModel> model;
};

// The window's journeys show the streamed log, the failure and the log kept
// across a retry; the events, the brew the fix names and the one outcome are
// the model's.
TEST(StreamingRemediationTest, MissingBrewFailsWithMinusOneAndTryingAgainRecordsAFreshRun) {
    const std::string brew = "/Users/alex/homebrew/bin/brew";  // a Homebrew in a prefix of its own
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.commands.push_back(ScenarioCommand::streaming(brewInstall("warp", brew), {"==> Installing Cask warp"}, 0));
    Sheet sheet(mac, Remediation::installWarpViaBrew("warp", brew));
    sheet.run();
    EXPECT_EQ(sheet.model->footer(), Footer::failure);
    EXPECT_EQ(sheet.sink.last().at("reason"), JSONValue("exit code -1"));

    ASSERT_TRUE(sheet.services.fs->createDirectory("/Users/alex/homebrew/bin", true));
    ASSERT_TRUE(sheet.services.fs->write("", brew, true));
    ASSERT_TRUE(sheet.services.fs->setPosixPermissions(0755, brew));
    sheet.model->retry();
    sheet.run();
    EXPECT_EQ(sheet.sink.names(),
              (std::vector<std::string>{"remediation_failed", "remediation_applied", "remediation_completed"}));
    sheet.model->continueAfterSuccess();
    sheet.model->continueAfterSuccess();
    ASSERT_EQ(sheet.outcomes.size(), 1u);
    EXPECT_EQ(sheet.outcomes[0].kind, RemediationOutcome::Kind::success);
}

TEST(StreamingRemediationTest, HomebrewThenTemurinNeverStartsTheSecondPhaseAfterAFailure) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.http.push_back(  // the install script fails
        {kHomebrewInstallScriptURL, 200, "#!/bin/bash\necho '==> Checking for sudo'\nexit 7\n", {}});
    mac.commands.push_back(ScenarioCommand::streaming(brewInstall("temurin@25"), {"never"}, 0));
    Sheet sheet(mac, Remediation::installHomebrewThenTemurin("temurin@25"));
    sheet.run();  // the failure's message is the window journey's
    EXPECT_EQ(sheet.model->exitCode(), 7);
    for (const auto& argv : sheet.processes().invocations()) EXPECT_NE(argv, brewInstall("temurin@25"));
    for (const auto& line : sheet.model->lines()) EXPECT_EQ(line.find("Now installing Temurin"), std::string::npos);
}

TEST(StreamingRemediationTest, CancelRecordsOneCanceledEventWhileTheChildStillPrints) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile{{}, true, false};
    // 20 s of output: the cancel always comes while the child still prints.
    std::vector<std::string> many(4000, "==> still downloading");
    mac.commands.push_back(ScenarioCommand::streaming(brewInstall("temurin@25"), many, 0, 5));
    Sheet sheet(mac, Remediation::installTemurinViaBrew("temurin@25"));
    sheet.run([&] { return sheet.model->lines().size() >= 3; });
    sheet.model->cancel();
    EXPECT_EQ(sheet.model->footer(), Footer::canceling);
    sheet.model->cancel();
    sheet.run();
    EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_canceled"});
    ASSERT_EQ(sheet.outcomes.size(), 1u);
    EXPECT_EQ(sheet.outcomes[0], RemediationOutcome::canceled());
    EXPECT_LT(sheet.model->lines().size(), many.size());
}

TEST(StreamingRemediationTest, MiseFollowUpAppliesOnAWorkerAndIsNotOfferedWhenActivated) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    const MiseRunner mise("/opt/homebrew/bin/mise", ShellRunner(nullptr, LoginShell::forHost({})), nullptr);
    mac.files["/opt/homebrew/bin/mise"] = ScenarioFile::program("mise");
    // The write runs on a worker; Apply and Skip wait for it.
    test::HeldWork background;
    Sheet sheet(mac, Remediation::installViaMise("temurin-25"));
    sheet.model->setBackground(&background);
    sheet.run();
    ASSERT_EQ(sheet.model->footer(), Footer::followUp);
    sheet.model->applyZshrc();
    sheet.model->skipZshrc();
    sheet.model->applyZshrc();
    EXPECT_TRUE(sheet.model->zshrcApplying());
    ASSERT_EQ(background.held.size(), 1u);
    const auto then = background.held[0]();
    EXPECT_NE(sheet.services.fs->readString("/Users/alex/.zshrc")->find(mise.activationLine()), std::string::npos);
    then();
    EXPECT_FALSE(sheet.model->zshrcApplying());
    EXPECT_EQ(sheet.model->footer(), Footer::continueButton);
    // A write that ends after the sheet closed reports to nobody.
    {
        Sheet closing(mac, Remediation::installViaMise("temurin-25"));
        closing.model->setBackground(&background);
        closing.run();
        closing.model->applyZshrc();
        closing.model.reset();
    }
    background.held.back()()();

    // Already activated: no card, straight to continue.
    mac.files["/Users/alex/.zshrc"] = ScenarioFile{"eval \"$(mise activate zsh)\"\n", false, false};
    Sheet activated(mac, Remediation::installViaMise("temurin-25"));
    activated.run();
    EXPECT_EQ(activated.model->footer(), Footer::continueButton);
}

// A translated app installs, profiles and verifies with native shells (one
// started as x86_64 would see Intel Homebrew's PATH and `uname -m` x86_64).
// Its package install is the translated scenario's.
TEST(StreamingRemediationTest, ATranslatedAppRunsNativeShellsAndInstallsForTheMachinesProcessor) {
    Scenario mac = test::bundledScenario("sdkman-no-homebrew.json");
    const auto translated = [](HostInfo& host) {
        host.machineArchitecture = "arm64";
        host.runsTranslated = true;
    };
    Sheet sdkman(mac, Remediation::setJavaHomeViaSDKMAN("25.0.1-tem"), translated);
    sdkman.run();
    SystemProfiler(sdkman.services, nullptr).profile();
    Verifier(sdkman.services).verify(25);
    std::size_t shells = 0;
    for (const auto& argv : sdkman.processes().invocations()) {
        ASSERT_GE(argv.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(argv.begin(), argv.begin() + 2),
                  (std::vector<std::string>{"/usr/bin/arch", "-arm64"}))
            << testing::PrintToString(argv);
        shells += argv[2] == "/bin/zsh";
    }
    EXPECT_GE(shells, 4u) << "the fix's, the Terminal and Dock views, and the verifier's";
}

TEST(StreamingRemediationTest, ARunWithoutExitCodeAndLongReasonsInTelemetry) {
    RecordingSink sink;
    StreamingRemediationModel model(
        Remediation::setJavaHomeViaMise("temurin-21"), {}, sink, [](const RemediationOutcome&) {},
        [](const Remediation&, const CancelToken&) {
            auto [events, producer] = makeEventStream<RemediationRunEvent>();
            producer.yield(run_event::Subtitle{"Running `sdk install java 21.0.6-tem` via your login zsh."});
            producer.yield(run_event::Ended{});
            producer.finish();
            return RemediationRun{std::move(events), std::thread()};
        });
    model.start();
    model.pump();
    EXPECT_TRUE(StreamingRemediationModel::isRetryLine("Retrying with `brew reinstall --cask temurin@21`…"));
    EXPECT_EQ(model.subtitle(), "Running `sdk install java 21.0.6-tem` via your login zsh.");
    EXPECT_EQ(sink.names(), std::vector<std::string>{"remediation_failed"});
    EXPECT_EQ(sink.last().at("exit_code"), JSONValue(1));
    EXPECT_EQ(sink.last().at("reason"), JSONValue("process ended without exit code"));
    EXPECT_EQ(model.footer(), Footer::failure);

    RecordingSink longSink;
    TerminalEvent event(longSink, "zprofile:/x");
    event.failed(1, std::string(161, 'e'));
    event.failed(1, "second");
    event.completed();
    ASSERT_EQ(longSink.events.size(), 1u);
    EXPECT_EQ(longSink.last().at("reason"), JSONValue(std::string(160, 'e')));
}

}  // namespace
}  // namespace lumo
