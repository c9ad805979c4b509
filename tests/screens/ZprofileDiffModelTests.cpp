// The ~/.zprofile sheet's model on a simulated Mac: the diff, Apply and its
// confirmation, the already-set case, Cancel, the work off the main thread,
// errors, a stale review and the lines of later files it offers to turn off.
#include <gtest/gtest.h>

#include <deque>

#include "ScreenTestSupport.h"
#include "screens/ZprofileDiffModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using test::RecordingSink;

constexpr const char* kTemurin21 = "/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home";

// Holds the work until the test runs it, as a worker would later.
class HeldWork : public BackgroundWork {
public:
    void run(std::function<std::function<void()>()> work) override { held.push_back(std::move(work)); }
    void finishAll() {
        while (!held.empty()) {
            auto work = std::move(held.front());
            held.pop_front();
            work()();
        }
    }
    std::deque<std::function<std::function<void()>()>> held;
};

struct Sheet {
    explicit Sheet(Scenario mac, BackgroundWork* background = nullptr)
        : services(makeSimulatedServices(mac)),
          model(
              Remediation::writeJavaHomeToZprofile(kTemurin21), services, sink,
              [this](const RemediationOutcome& outcome) { outcomes.push_back(outcome); }, background) {}
    AppServices services;
    RecordingSink sink;
    std::vector<RemediationOutcome> outcomes;
    ZprofileDiffModel model;
};

TEST(ZprofileDiffTest, ApplyWritesAfterABackupSaysWhatItDidAndAlreadySetWritesNothing) {
    Scenario mac = test::bundledScenario("java-home-unset.json");
    Sheet sheet(mac);
    ZprofileDiffModel& model = sheet.model;
    model.load();
    ASSERT_TRUE(model.preview());
    const auto changes = model.diffLines();
    ASSERT_EQ(changes.size(), 3u);  // header comment and the two exports
    EXPECT_EQ(changes[1].text, "+ export JAVA_HOME=$(/usr/libexec/java_home -v 21)");
    model.toggleFullFile();
    const auto full = model.diffLines();
    EXPECT_EQ(full.front().text, "  eval \"$(/opt/homebrew/bin/brew shellenv)\"");
    EXPECT_FALSE(full.front().added);
    EXPECT_TRUE(full.back().added);

    model.continueToVerify();  // nothing applied yet
    EXPECT_TRUE(sheet.outcomes.empty());
    model.apply();
    EXPECT_TRUE(model.didApply());
    const auto fs = sheet.services.fs;
    EXPECT_EQ(*fs->readString("/Users/alex/.zprofile.bak"), "eval \"$(/opt/homebrew/bin/brew shellenv)\"\n");
    EXPECT_NE(fs->readString("/Users/alex/.zprofile")->find("export JAVA_HOME=$(/usr/libexec/java_home -v 21)"),
              std::string::npos);
    model.continueToVerify();
    ASSERT_EQ(sheet.outcomes.size(), 1u);
    EXPECT_EQ(sheet.outcomes[0], RemediationOutcome::success("JAVA_HOME set in ~/.zprofile."));
    EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_completed"});

    // A second sheet on that Mac finds the block and writes nothing.
    mac.files["/Users/alex/.zprofile"] = ScenarioFile{*fs->readString("/Users/alex/.zprofile"), false, false};
    Sheet again(mac);
    again.model.load();
    ASSERT_TRUE(again.model.nothingToDo());
    again.model.continueToVerify();
    EXPECT_EQ(again.outcomes.at(0), RemediationOutcome::success("JAVA_HOME already set in ~/.zprofile."));
    EXPECT_FALSE(again.services.fs->fileExists("/Users/alex/.zprofile.bak"));
    EXPECT_EQ(again.sink.names(), std::vector<std::string>{"remediation_completed"});

    Sheet canceled(mac);
    canceled.model.load();
    canceled.model.cancel();
    EXPECT_EQ(canceled.outcomes.back(), RemediationOutcome::canceled());
    EXPECT_EQ(canceled.sink.names(), std::vector<std::string>{"remediation_canceled"});
}

TEST(ZprofileDiffTest, ReadingAndWritingRunOffTheMainThreadWhileTheSheetIsBusy) {
    HeldWork worker;
    auto sheet = std::make_unique<Sheet>(test::bundledScenario("java-home-unset.json"), &worker);
    ZprofileDiffModel& model = sheet->model;
    model.load();
    EXPECT_TRUE(model.isBusy());
    EXPECT_EQ(model.busyText(), "Reading ~/.zprofile…");
    EXPECT_FALSE(model.canApply());
    worker.finishAll();
    EXPECT_FALSE(model.isBusy());
    ASSERT_TRUE(model.canApply());

    model.apply();
    EXPECT_TRUE(model.isApplying());
    model.cancel();  // not while writing
    EXPECT_TRUE(sheet->outcomes.empty());
    worker.finishAll();
    EXPECT_TRUE(model.didApply());

    // A sheet closed while its work runs takes no result.
    auto closed = std::make_unique<Sheet>(test::bundledScenario("java-home-unset.json"), &worker);
    closed->model.load();
    closed.reset();
    worker.finishAll();
}

TEST(ZprofileDiffTest, ReadErrorsAndRefusalsEndTheSheetAsFailures) {
    struct Case {
        ScenarioFile zprofile;
        std::string said;
    };
    const Case cases[] = {
        {ScenarioFile{std::string("export A=\xff\n"), false, false}, "Couldn't read ~/.zprofile: "},
        {ScenarioFile{{}, false, true}, "~/.zprofile is a folder, so it was left as it is."},
    };
    for (const Case& c : cases) {
        Scenario mac = test::bundledScenario("java-home-unset.json");
        mac.files["/Users/alex/.zprofile"] = c.zprofile;
        Sheet sheet(mac);
        sheet.model.load();
        ASSERT_TRUE(sheet.model.loadError()) << c.said;
        EXPECT_EQ(sheet.model.loadErrorText().rfind(c.said, 0), 0u) << sheet.model.loadErrorText();
        sheet.model.closeAfterLoadError();
        EXPECT_EQ(sheet.outcomes.at(0), RemediationOutcome::failure(sheet.model.loadErrorText()));
        EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_failed"});
    }
}

TEST(ZprofileDiffTest, AFileChangedSinceTheReviewIsReviewedAgainBeforeAnythingIsWritten) {
    Sheet sheet(test::bundledScenario("java-home-unset.json"));
    ZprofileDiffModel& model = sheet.model;
    model.load();
    const auto fs = sheet.services.fs;
    ASSERT_TRUE(fs->write("export EDITOR=vi\n", "/Users/alex/.zprofile", true).ok());
    model.apply();
    EXPECT_FALSE(model.didApply());
    ASSERT_TRUE(model.applyError());
    EXPECT_NE(model.applyError()->find("changed since it was reviewed"), std::string::npos);
    EXPECT_EQ(*fs->readString("/Users/alex/.zprofile"), "export EDITOR=vi\n");
    ASSERT_TRUE(model.preview());
    EXPECT_EQ(model.preview()->profile.originalContents, "export EDITOR=vi\n") << "the diff shows the file as it is";
    EXPECT_TRUE(sheet.sink.events.empty());

    model.apply();
    EXPECT_TRUE(model.didApply());
    EXPECT_EQ(*fs->readString("/Users/alex/.zprofile.bak"), "export EDITOR=vi\n");
    EXPECT_EQ(sheet.sink.names(), std::vector<std::string>{"remediation_completed"});
}

TEST(ZprofileDiffTest, ALaterLineThatUndoesTheChangeIsShownAndTurnedOffOnlyWhenTicked) {
    Scenario mac = test::bundledScenario("java-home-unset.json");
    mac.files["/Users/alex/.zshrc"] = ScenarioFile{"export JAVA_HOME=/opt/old-jdk\n", false, false};
    for (const bool ticked : {false, true}) {
        Sheet sheet(mac);
        ZprofileDiffModel& model = sheet.model;
        model.load();
        EXPECT_EQ(model.laterFileTexts().size(), 1u);
        EXPECT_TRUE(model.commentOutLater()) << "offered ticked, in plain view";
        EXPECT_EQ(model.backupText(), "Backups: `~/.zprofile.bak`, `~/.zshrc.bak`");
        const auto lines = model.diffLines();
        ASSERT_EQ(lines.size(), 8u);
        EXPECT_EQ(lines[5].text, "- export JAVA_HOME=/opt/old-jdk");
        EXPECT_TRUE(lines[5].removed);
        EXPECT_EQ(lines[7].text, "+ : # export JAVA_HOME=/opt/old-jdk");

        model.setCommentOutLater(ticked);
        if (!ticked) {
            EXPECT_EQ(model.diffLines().size(), 3u);
        }
        model.apply();
        ASSERT_TRUE(model.didApply());
        const std::string zshrc = *sheet.services.fs->readString("/Users/alex/.zshrc");
        if (ticked) {
            EXPECT_NE(zshrc.find(": # export JAVA_HOME=/opt/old-jdk"), std::string::npos);
            EXPECT_EQ(*sheet.services.fs->readString("/Users/alex/.zshrc.bak"), "export JAVA_HOME=/opt/old-jdk\n");
        } else {
            EXPECT_EQ(zshrc, "export JAVA_HOME=/opt/old-jdk\n");
            EXPECT_EQ(model.confirmationLines().size(), 1u);
        }
    }
}

}  // namespace
}  // namespace lumo
