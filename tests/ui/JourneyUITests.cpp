// The Java journey end to end on simulated Macs, offscreen: the diagnose
// screen, the remediation sheet with its streamed log, the ~/.zprofile diff,
// the follow-up card, Cancel, and the verify pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include "../screens/ScreenTestSupport.h"
#include "DiagnoseView.h"
#include "RemediationProgressView.h"
#include "StreamingRemediationView.h"
#include "UITestSupport.h"
#include "VerifyViews.h"
#include "ZprofileDiffSheet.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/MiseRunner.h"
#include "remediation/Verifier.h"
#include "screens/ScreenModel.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo::ui {
namespace {

using test::streamed;

class NoDelay : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds, std::function<void()> work) override { work(); }
};

class JourneyUITest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(ProductConfig::fixwellJava()); }

    UIEnvironment environmentFor(const Scenario& mac, bool withProfile = true) {
        UIEnvironment environment;
        environment.services = makeSimulatedServices(mac);
        environment.navigation = &navigation;
        environment.telemetry = &sink;
        environment.profile = &profiles;
        environment.scheduler = &scheduler;
        environment.openURL = [this](const std::string& url) { opened.push_back(url); };
        if (withProfile) profiles.publish(SystemProfiler(environment.services, [](const std::string&) {}).profile());
        return environment;
    }

    template <class T = QPushButton>
    static T* find(QWidget& root, const QString& identifier) {
        return root.findChild<T*>(identifier);
    }
    static bool visible(QWidget& root, const QString& identifier) {
        QWidget* widget = root.findChild<QWidget*>(identifier);
        return widget && widget->isVisible();
    }
    static void click(QWidget& root, const QString& identifier) {
        QPushButton* target = find(root, identifier);
        ASSERT_NE(target, nullptr) << identifier.toStdString();
        ASSERT_TRUE(target->isVisible()) << identifier.toStdString();
        target->click();
        QApplication::processEvents();
    }

    AppNavigation navigation;
    test::RecordingSink sink;
    ProfileStore profiles;
    NoDelay scheduler;
    std::vector<std::string> opened;
};

TEST_F(JourneyUITest, NoJDKInstallsJava25ThroughHomebrewAndVerifies) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile::program("brew");
    DiagnoseView view(environmentFor(mac));
    view.resize(720, 700);
    view.show();
    WAIT_FOR(visible(view, "diagnosis-d1-install-chosen"));
    EXPECT_EQ(find(view, "diagnosis-d1-install-chosen")->text(), QStringLiteral("Install Java 25"));
    click(view, "diagnosis-d1-install-chosen");

    RemediationProgressView* sheet = view.sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->windowFlags().testFlag(Qt::Sheet));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_GE(sheet->minimumWidth(), 560);
    EXPECT_GE(sheet->minimumHeight(), 420);
    EXPECT_TRUE(visible(view, "diagnosis-detail-inert"));  // the detail stays under the sheet
    WAIT_FOR(visible(*sheet, "remediation-continue"));
    const QString log = find<QPlainTextEdit>(*sheet, "remediation-progress")->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("==> Installing Cask")));
    EXPECT_TRUE(log.endsWith(QStringLiteral("temurin@25 was successfully installed!")));
    EXPECT_EQ(find(*sheet, "remediation-continue")->text(), QStringLiteral("Continue to verify"));
    click(*sheet, "remediation-continue");

    WAIT_FOR(visible(view, "verify-result-pass"));
    EXPECT_EQ(view.sheet(), nullptr);
    // Java runs; JAVA_HOME is still unset, so the page offers to set it.
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"diagnosis_reached", "chooser_shown", "remediation_applied",
                                                      "remediation_completed", "verify_passed",
                                                      "verify_offered_followup"}));
    EXPECT_EQ(sink.events[4].second.at("java_major_version"), JSONValue(25));

    click(view, "continue-to-audit");
    ASSERT_EQ(navigation.path().size(), 1u);
    EXPECT_EQ(navigation.path()[0], Screen::audit({AuditEntry::heuristic, CompletionSurface::promptPostFix, {}}));
}

TEST_F(JourneyUITest, HomeUnsetAppliesTheReviewedZprofileChangeThenVerifies) {
    Scenario mac = test::bundledScenario("java-home-unset.json");
    UIEnvironment environment = environmentFor(mac);
    const auto fs = environment.services.fs;
    const std::string before = *fs->readString("/Users/alex/.zprofile");
    DiagnoseView view(environment);
    view.show();
    WAIT_FOR(visible(view, "remediation-primary-button"));
    click(view, "remediation-primary-button");
    RemediationProgressView* sheet = view.sheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_NE(sheet->diff(), nullptr);
    const QString diff = find<QPlainTextEdit>(*sheet, "zprofile-diff")->toPlainText();
    EXPECT_TRUE(diff.contains(QStringLiteral("+ export JAVA_HOME=$(/usr/libexec/java_home)")));
    EXPECT_FALSE(diff.contains(QStringLiteral("brew shellenv")));  // only the changes by default
    click(*sheet, "zprofile-toggle-full-file");
    EXPECT_TRUE(find<QPlainTextEdit>(*sheet, "zprofile-diff")->toPlainText().contains(QStringLiteral("brew shellenv")));

    click(*sheet, "zprofile-apply");
    EXPECT_EQ(*fs->readString("/Users/alex/.zprofile.bak"), before);
    EXPECT_NE(fs->readString("/Users/alex/.zprofile")->find("export JAVA_HOME=$(/usr/libexec/java_home)"),
              std::string::npos);
    EXPECT_FALSE(visible(*sheet, "zprofile-apply"));
    click(*sheet, "zprofile-continue");
    WAIT_FOR(visible(view, "verify-result-pass"));
    EXPECT_EQ(find<QLabel>(view, "verify-title")->text(), QStringLiteral("Java configured"));
    EXPECT_EQ(sink.count("remediation_completed"), 1);
    EXPECT_EQ(sink.count("verify_passed"), 1);
}

struct SheetHarness {
    SheetHarness(const UIEnvironment& environment, const Remediation& fix) {
        host.resize(700, 600);
        host.show();
        sheet = new RemediationProgressView(
            fix, environment, [this](const RemediationOutcome& outcome) { outcomes.push_back(outcome); }, &host);
        sheet->present();
        QApplication::processEvents();
    }
    QWidget host;
    QPointer<RemediationProgressView> sheet;
    std::vector<RemediationOutcome> outcomes;
};

TEST_F(JourneyUITest, MiseFollowUpCardSkipKeepsItsLineInTheLog) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/usr/local/bin/mise"] = ScenarioFile::program("mise");  // on a login shell's PATH
    SheetHarness harness(environmentFor(mac, false), Remediation::installViaMise("temurin-25"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-zshrc-card"));
    EXPECT_TRUE(visible(sheet, "remediation-zshrc-apply"));
    EXPECT_FALSE(visible(sheet, "remediation-continue"));
    click(sheet, "remediation-zshrc-skip");
    EXPECT_FALSE(visible(sheet, "remediation-zshrc-card"));
    EXPECT_TRUE(find<QPlainTextEdit>(sheet, "remediation-progress")
                    ->toPlainText()
                    .endsWith(QStringLiteral("Skipped ~/.zshrc edit. JAVA_HOME may stay unset in fresh shells until "
                                             "you add the line manually.")));
    click(sheet, "remediation-continue");
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0], RemediationOutcome::success("Installed Temurin via Mise."));
    WAIT_FOR(harness.sheet.isNull());
}

TEST_F(JourneyUITest, CancelWhileTheChildStillPrintsRecordsOneCanceledEvent) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile::emptyExecutable();
    mac.commands.push_back(streamed({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"},
                                    std::vector<std::string>(2000, "==> Downloading…"), 0, 2));
    SheetHarness harness(environmentFor(mac, false), Remediation::installTemurinViaBrew("temurin@25"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(find<QPlainTextEdit>(sheet, "remediation-progress")->blockCount() > 5);
    click(sheet, "remediation-cancel");
    EXPECT_TRUE(harness.sheet.isNull() || visible(*harness.sheet, "remediation-canceling"));
    WAIT_FOR(harness.outcomes.size() == std::size_t(1));
    EXPECT_EQ(harness.outcomes[0], RemediationOutcome::canceled());
    QApplication::processEvents();
    EXPECT_EQ(sink.names(), std::vector<std::string>{"remediation_canceled"});
}

TEST_F(JourneyUITest, HomebrewThenTemurinStopsAfterAFailedFirstPhase) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.http.push_back({kHomebrewInstallScriptURL, 200,  // the install script fails
                        "#!/bin/bash\necho '==> Checking for `sudo` access'\necho 'Failed during: /usr/bin/sudo -n'\n"
                        "exit 1\n",
                        {}});
    mac.commands.push_back(streamed({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"}, {"never"}, 0));
    UIEnvironment environment = environmentFor(mac, false);
    SheetHarness harness(environment, Remediation::installHomebrewThenTemurin("temurin@25"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-close"));
    EXPECT_FALSE(find<QPlainTextEdit>(sheet, "remediation-progress")->toPlainText().contains(QStringLiteral("never")));
    const auto& runner = static_cast<const SimulatedProcessRunner&>(*environment.services.processRunner);
    for (const auto& argv : runner.invocations()) EXPECT_NE(argv.front(), "/opt/homebrew/bin/brew");
    click(sheet, "remediation-open-article");
    EXPECT_EQ(opened, std::vector<std::string>{ProductConfig::current().urls.javaDownload});
    click(sheet, "remediation-close");
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0].kind, RemediationOutcome::Kind::failure);
    EXPECT_EQ(harness.outcomes[0].message.rfind("Install failed (exit code 1). The article at [Brimwell](", 0), 0u);
    EXPECT_EQ(sink.count("remediation_failed"), 1);
}

TEST_F(JourneyUITest, NeedsJavaHomeVerdictOffersTheFollowUp) {
    UIEnvironment environment = environmentFor(test::bundledScenario("no-jdk.json"), false);
    int setHome = 0;
    VerifyResultView::Actions actions;
    actions.onSetJavaHome = [&] { ++setHome; };
    const Remediation fix = Remediation::installViaPKG(25);
    VerifyResultView view(fix, {"openjdk version \"25\"\n", 0, std::nullopt}, actions, environment);
    view.show();
    EXPECT_TRUE(visible(view, "verify-result-pass"));
    EXPECT_EQ(find<QLabel>(view, "verify-title")->text(), QStringLiteral("Java installed"));
    EXPECT_TRUE(visible(view, "continue-to-audit"));
    click(view, "verify-set-java-home");
    EXPECT_EQ(setHome, 1);
    ASSERT_EQ(sink.names(), std::vector<std::string>{"verify_offered_followup"});
    EXPECT_EQ(sink.events[0].second.at("first_remediation_id"), JSONValue(fix.id()));
}

}  // namespace
}  // namespace lumo::ui
