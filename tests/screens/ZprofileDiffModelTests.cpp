// The ~/.zprofile sheet's model on a simulated Mac: the diff, Apply, the
// already-set case and Cancel.
#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/ZprofileDiffModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::RecordingSink;

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
