// The ~/.zprofile sheet's model on a simulated Mac: its outcomes, Cancel, the
// work off the main thread and the lines of later files it offers to turn off.
// The writer's own tests prove what is written, the backups and the refusals;
// the window's journeys show the diff and a failed read.
#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "screens/ZprofileDiffModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo {
namespace {

using test::HeldWork;
using test::RecordingSink;

Scenario homeUnset() { return test::bundledScenario("java-home-unset.json"); }

struct Sheet {
    explicit Sheet(Scenario mac = homeUnset(), BackgroundWork* background = nullptr)
        : services(makeSimulatedServices(mac)),
          model(
              Remediation::writeJavaHomeToZprofile("/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home"),
              services, sink, [this](const RemediationOutcome& outcome) { outcomes.push_back(outcome); }, background) {
        model.load();
    }
    std::string zprofile() const { return *services.fs->readString("/Users/alex/.zprofile"); }
    AppServices services;
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    ZprofileDiffModel model;
};

// Whether a file changed since the review, already holds the block or has later
// lines is the writer's to decide; the sheet shows it and reports each end once.
TEST(ZprofileDiffTest, ApplyAfterAStaleReviewShowsTheFileAgainAndEachEndIsReportedOnce) {
    Sheet sheet;
    ZprofileDiffModel& model = sheet.model;
    model.continueToVerify();  // nothing applied yet
    EXPECT_TRUE(sheet.outcomes.empty());
    // A file changed since the review is reviewed again before anything is written.
    ASSERT_TRUE(sheet.services.fs->write("export EDITOR=vi\n", "/Users/alex/.zprofile", true).ok());
    model.apply();
    ASSERT_TRUE(model.applyError());
    EXPECT_EQ(model.preview()->profile.originalContents, "export EDITOR=vi\n") << "the diff shows the file as it is";
    model.apply();
    model.continueToVerify();
    EXPECT_EQ(sheet.outcomes, std::vector{RemediationOutcome::success("JAVA_HOME set in ~/.zprofile.")});
    EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_completed"});

    // A second sheet on that Mac finds the block.
    Scenario mac = homeUnset();
    mac.files["/Users/alex/.zprofile"] = ScenarioFile{sheet.zprofile(), false, false};
    Sheet again(mac);
    ASSERT_TRUE(again.model.nothingToDo());
    again.model.continueToVerify();
    EXPECT_EQ(again.outcomes, std::vector{RemediationOutcome::success("JAVA_HOME already set in ~/.zprofile.")});

    Sheet canceled(mac);
    canceled.model.cancel();
    EXPECT_EQ(canceled.outcomes, std::vector{RemediationOutcome::canceled()});
    EXPECT_EQ(canceled.sink.names(), std::vector<std::string>{"remediation_canceled"});
}

TEST(ZprofileDiffTest, ReadingAndWritingRunOffTheMainThreadWhileTheSheetIsBusy) {
    HeldWork worker;
    Sheet sheet(homeUnset(), &worker);
    ZprofileDiffModel& model = sheet.model;
    EXPECT_TRUE(model.isBusy());
    EXPECT_FALSE(model.canApply());
    worker.finishAll();
    ASSERT_TRUE(model.canApply());

    model.apply();
    EXPECT_TRUE(model.isApplying());
    model.cancel();  // not while writing
    EXPECT_TRUE(sheet.outcomes.empty());
    worker.finishAll();
    EXPECT_TRUE(model.didApply());

    // A sheet closed while its work runs takes no result.
    auto closed = std::make_unique<Sheet>(homeUnset(), &worker);
    closed.reset();
    worker.finishAll();
}

TEST(ZprofileDiffTest, ALaterLineThatUndoesTheChangeIsOfferedTickedAndTurnedOff) {
    Scenario mac = homeUnset();
    mac.files["/Users/alex/.zshrc"] = ScenarioFile{"export JAVA_HOME=/opt/old-jdk\n", false, false};
    Sheet sheet(mac);
    ZprofileDiffModel& model = sheet.model;
    EXPECT_EQ(model.laterFileTexts().size(), 1u);
    EXPECT_TRUE(model.commentOutLater()) << "offered ticked";
    EXPECT_EQ(model.diffLines().back().text, "+ : # export JAVA_HOME=/opt/old-jdk") << "in plain view";
    model.apply();
    ASSERT_TRUE(model.didApply());
    EXPECT_NE(sheet.services.fs->readString("/Users/alex/.zshrc")->find(": # export JAVA_HOME"), std::string::npos);
}

}  // namespace
}  // namespace lumo
