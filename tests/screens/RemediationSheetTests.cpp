// The remediation sheet's models on simulated Macs: the streamed steps, the
// chaining, Cancel, the ~/.zshrc follow-up, the ~/.zprofile diff and the one
// terminal event per sheet.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ScreenTestSupport.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/MiseRunner.h"
#include "screens/StreamingRemediationModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::RecordingSink;
using test::streamed;
using Footer = StreamingRemediationModel::Footer;

std::vector<std::string> brewInstall(const std::string& cask) {
    return {"/opt/homebrew/bin/brew", "install", "--cask", cask};
}

struct Sheet {
    Sheet(const Scenario& mac, const Remediation& fix) : services(makeSimulatedServices(mac)) {
        model = std::make_unique<StreamingRemediationModel>(
            fix, services, sink, [this](const RemediationOutcome& outcome) { outcomes.push_back(outcome); });
    }
    // Pumps until the run has ended (or `until` holds).
    void run(const std::function<bool()>& until = {}) {
        model->start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (model->phase() != StreamingRemediationModel::Phase::ended && (!until || !until()) &&
               std::chrono::steady_clock::now() < deadline) {
            model->pump();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    const SimulatedProcessRunner& processes() const {
        return static_cast<const SimulatedProcessRunner&>(*services.processRunner);
    }
    AppServices services;
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    std::unique_ptr<StreamingRemediationModel> model;
};

TEST(StreamingRemediationTest, HomebrewTemurinStreamsItsLinesAndContinuesToVerify) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile{{}, true, false};
    mac.commands.push_back(
        streamed(brewInstall("temurin@25"), {"==> Downloading temurin", "==> Installing Cask temurin@25"}, 0, 1));
    Sheet sheet(mac, Remediation::installTemurinViaBrew("temurin@25"));
    sheet.run();
    EXPECT_EQ(sheet.model->lines(),
              (std::vector<std::string>{"==> Downloading temurin", "==> Installing Cask temurin@25"}));
    EXPECT_EQ(sheet.model->footer(), Footer::continueButton);
    EXPECT_EQ(sheet.model->continueTitle(), "Continue to verify");
    EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_completed"});
    sheet.model->continueAfterSuccess();
    sheet.model->continueAfterSuccess();
    ASSERT_EQ(sheet.outcomes.size(), 1u);
    EXPECT_EQ(sheet.outcomes[0], RemediationOutcome::success("Temurin installed."));
}

TEST(StreamingRemediationTest, MissingBrewEndsWithMinusOneAndTheFailureFooter) {
    Sheet sheet(test::bundledScenario("no-jdk.json"), Remediation::installWarpViaBrew("warp"));
    sheet.run();
    EXPECT_EQ(sheet.model->lines(),
              std::vector<std::string>{"Homebrew not found in /opt/homebrew/bin or /usr/local/bin."});
    EXPECT_EQ(sheet.model->exitCode(), -1);
    EXPECT_EQ(sheet.model->footer(), Footer::failure);
    EXPECT_EQ(sheet.sink.last().at("reason"), JSONValue("exit code -1"));
    sheet.model->closeAfterFailure();
    ASSERT_EQ(sheet.outcomes.size(), 1u);
    EXPECT_EQ(sheet.outcomes[0].kind, RemediationOutcome::Kind::failure);
    EXPECT_NE(sheet.outcomes[0].message.find("Install failed (exit code -1). The article at [Brimwell]("),
              std::string::npos);
}

TEST(StreamingRemediationTest, HomebrewThenTemurinNeverStartsTheSecondPhaseAfterAFailure) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.http.push_back(  // the install script fails
        {kHomebrewInstallScriptURL, 200, "#!/bin/bash\necho '==> Checking for sudo'\nexit 7\n", {}});
    mac.commands.push_back(streamed(brewInstall("temurin@25"), {"never"}, 0));
    Sheet sheet(mac, Remediation::installHomebrewThenTemurin("temurin@25"));
    sheet.run();
    EXPECT_EQ(sheet.model->lines().front(), "Running: " + homebrewInstallCommand());
    EXPECT_EQ(sheet.model->exitCode(), 7);
    for (const auto& argv : sheet.processes().invocations()) EXPECT_NE(argv, brewInstall("temurin@25"));
    for (const auto& line : sheet.model->lines()) EXPECT_EQ(line.find("Now installing Temurin"), std::string::npos);
    EXPECT_EQ(sheet.model->failureMessage().rfind("Install failed (exit code 7).", 0), 0u);
}

TEST(StreamingRemediationTest, CancelRecordsOneCanceledEventWhileTheChildStillPrints) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile{{}, true, false};
    std::vector<std::string> many(400, "==> still downloading");
    mac.commands.push_back(streamed(brewInstall("temurin@25"), many, 0, 5));
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

TEST(StreamingRemediationTest, MiseFollowUpCardSkipAndApply) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/usr/local/bin/mise"] = ScenarioFile::program("mise");  // on a login shell's PATH
    {
        Sheet sheet(mac, Remediation::installViaMise("temurin-25"));
        sheet.run();
        EXPECT_EQ(sheet.model->lines().front(), "Running: mise install java@temurin-25 && mise use -g java@temurin-25");
        ASSERT_TRUE(sheet.model->followUpPending());
        EXPECT_EQ(sheet.model->footer(), Footer::followUp);
        EXPECT_EQ(sheet.model->followUpIntro(),
                  "One more thing: we need to append to `/Users/alex/.zshrc` so JAVA_HOME gets set in fresh shells.");
        sheet.model->continueAfterSuccess();  // not offered yet
        EXPECT_TRUE(sheet.outcomes.empty());
        sheet.model->skipZshrc();
        EXPECT_EQ(sheet.model->lines().back(),
                  "Skipped ~/.zshrc edit. JAVA_HOME may stay unset in fresh shells until you add the line manually.");
        EXPECT_EQ(sheet.model->footer(), Footer::continueButton);
        EXPECT_EQ(*sheet.services.fs->readString("/Users/alex/.zshrc"), "# Created by newuser for 5.9\n");
    }
    Sheet sheet(mac, Remediation::installViaMise("temurin-25"));
    sheet.run();
    sheet.model->applyZshrc();
    EXPECT_EQ(sheet.model->lines().back(), "Updated /Users/alex/.zshrc. Backup at /Users/alex/.zshrc.bak.");
    EXPECT_NE(sheet.services.fs->readString("/Users/alex/.zshrc")->find(MiseRunner::kActivationLine),
              std::string::npos);
    EXPECT_TRUE(sheet.services.fs->fileExists("/Users/alex/.zshrc.bak"));

    // Already activated: no card, straight to continue.
    mac.files["/Users/alex/.zshrc"] = ScenarioFile{"eval \"$(mise activate zsh)\"\n", false, false};
    Sheet activated(mac, Remediation::installViaMise("temurin-25"));
    activated.run();
    EXPECT_EQ(activated.model->footer(), Footer::continueButton);
}

TEST(StreamingRemediationTest, ARunWithoutExitCodeAndLongReasonsInTelemetry) {
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    StreamingRemediationModel model(
        Remediation::setJavaHomeViaMise("temurin-21"), {}, sink,
        [&](const RemediationOutcome& outcome) { outcomes.push_back(outcome); },
        [](const Remediation&, const CancelToken&) {
            auto [events, producer] = makeEventStream<RemediationRunEvent>();
            producer.yield(run_event::Line{"Retrying with `brew reinstall --cask temurin@21`…"});
            producer.yield(run_event::Ended{});
            producer.finish();
            return RemediationRun{std::move(events), std::thread()};
        });
    model.start();
    model.pump();
    EXPECT_TRUE(StreamingRemediationModel::isRetryLine(model.lines()[0]));
    EXPECT_TRUE(StreamingRemediationModel::isRetryLine(
        "Homebrew reports temurin is already installed, but the JDK is missing from "
        "/Library/Java/JavaVirtualMachines/. Retrying with `brew reinstall --cask temurin`…"));
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

TEST(ZprofileDiffTest, ApplyWritesAfterABackupAndAlreadySetWritesNothing) {
    Scenario mac = test::bundledScenario("java-home-unset.json");
    AppServices services = makeSimulatedServices(mac);
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    const Remediation fix = Remediation::writeJavaHomeToZprofile("/j/21");
    ZprofileDiffModel model(fix, services.fs, sink, [&](const RemediationOutcome& o) { outcomes.push_back(o); });
    model.load();
    ASSERT_TRUE(model.preview());
    const auto changes = model.diffLines();
    ASSERT_EQ(changes.size(), 3u);  // header comment and the two exports
    EXPECT_EQ(changes[1].text, "+ export JAVA_HOME=$(/usr/libexec/java_home)");
    model.toggleFullFile();
    EXPECT_EQ(model.toggleTitle(), "Show only changes");
    const auto full = model.diffLines();
    EXPECT_EQ(full.front().text, "  eval \"$(/opt/homebrew/bin/brew shellenv)\"");
    EXPECT_FALSE(full.front().added);
    EXPECT_TRUE(full.back().added);

    model.continueToVerify();  // nothing applied yet
    EXPECT_TRUE(outcomes.empty());
    model.apply();
    EXPECT_TRUE(model.didApply());
    EXPECT_EQ(*services.fs->readString("/Users/alex/.zprofile.bak"), "eval \"$(/opt/homebrew/bin/brew shellenv)\"\n");
    EXPECT_NE(services.fs->readString("/Users/alex/.zprofile")->find("export JAVA_HOME="), std::string::npos);
    model.continueToVerify();
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0], RemediationOutcome::success("JAVA_HOME set in ~/.zprofile."));
    EXPECT_EQ(sink.names(), std::vector<std::string>{"remediation_completed"});

    // A second sheet finds the block and writes nothing.
    const std::string written = *services.fs->readString("/Users/alex/.zprofile");
    RecordingSink again;
    std::vector<RemediationOutcome> second;
    ZprofileDiffModel already(fix, services.fs, again, [&](const RemediationOutcome& o) { second.push_back(o); });
    already.load();
    ASSERT_TRUE(already.preview() && already.preview()->alreadySet);
    already.continueToVerify();
    EXPECT_EQ(second.at(0), RemediationOutcome::success("JAVA_HOME already set in ~/.zprofile."));
    EXPECT_EQ(*services.fs->readString("/Users/alex/.zprofile"), written);
    EXPECT_EQ(again.names(), std::vector<std::string>{"remediation_completed"});

    RecordingSink canceled;
    ZprofileDiffModel cancel(fix, services.fs, canceled, [&](const RemediationOutcome& o) { second.push_back(o); });
    cancel.load();
    cancel.cancel();
    EXPECT_EQ(second.back(), RemediationOutcome::canceled());
    EXPECT_EQ(canceled.names(), std::vector<std::string>{"remediation_canceled"});
}

}  // namespace
}  // namespace lumo
