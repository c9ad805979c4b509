// The Java journey end to end on simulated Macs, offscreen: the diagnose
// screen, the remediation sheet with its streamed log, the ~/.zprofile diff,
// the follow-up card, Cancel, and the verify pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "../screens/ScreenTestSupport.h"
#include "DiagnoseView.h"
#include "DiagnosisDetailView.h"
#include "RemediationProgressView.h"
#include "StreamingRemediationView.h"
#include "Style.h"
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

TEST_F(JourneyUITest, AnIntelOnlyJDKOnAppleSiliconIsFlaggedAndItsNativeBuildOffered) {
    DiagnoseView view(environmentFor(test::bundledScenario("x86-jdk-apple-silicon.json")));
    view.show();
    WAIT_FOR(visible(view, "diagnosis-rosetta-warning"));
    EXPECT_EQ(find<QLabel>(view, "diagnosis-jdk-source")->text(), QStringLiteral("Source: macOS (system-wide)"));
    EXPECT_TRUE(
        find<QLabel>(view, "diagnosis-rosetta-warning")->text().contains(QStringLiteral("runs only under Rosetta")));
    click(view, "diagnosis-install-native-build");  // no Homebrew: Adoptium's package
    ASSERT_NE(view.sheet(), nullptr);
    EXPECT_TRUE(view.sheet()->windowTitle().startsWith(QStringLiteral("Installing Temurin 21")))
        << view.sheet()->windowTitle().toStdString();
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
    // The files are read on a worker; the diff appears when they have been.
    WAIT_FOR(visible(*sheet, "zprofile-diff"));
    const QString diff = find<QPlainTextEdit>(*sheet, "zprofile-diff")->toPlainText();
    EXPECT_TRUE(diff.contains(QStringLiteral("+ export JAVA_HOME=$(/usr/libexec/java_home -v 21)")));
    EXPECT_FALSE(diff.contains(QStringLiteral("brew shellenv")));  // only the changes by default
    click(*sheet, "zprofile-toggle-full-file");
    EXPECT_TRUE(find<QPlainTextEdit>(*sheet, "zprofile-diff")->toPlainText().contains(QStringLiteral("brew shellenv")));

    click(*sheet, "zprofile-apply");
    WAIT_FOR(visible(*sheet, "zprofile-continue"));
    EXPECT_EQ(find<QLabel>(*sheet, "zprofile-confirmation")->text(),
              QStringLiteral("Updated ~/.zprofile; backup at ~/.zprofile.bak."));
    EXPECT_EQ(*fs->readString("/Users/alex/.zprofile.bak"), before);
    EXPECT_NE(fs->readString("/Users/alex/.zprofile")->find("export JAVA_HOME=$(/usr/libexec/java_home -v 21)"),
              std::string::npos);
    EXPECT_FALSE(visible(*sheet, "zprofile-apply"));
    click(*sheet, "zprofile-continue");
    WAIT_FOR(visible(view, "verify-result-pass"));
    EXPECT_EQ(find<QLabel>(view, "verify-title")->text(), QStringLiteral("Java configured"));
    EXPECT_EQ(sink.count("remediation_completed"), 1);
    EXPECT_EQ(sink.count("verify_passed"), 1);
}

// The keyboard alone: Return presses each page's primary action, Escape
// cancels the running sheet; a failed verification goes Back to the choice.
TEST_F(JourneyUITest, ReturnAndEscapeDriveTheJourneyAndAFailedVerificationGoesBack) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile{{}, true, false};
    // The first run is long (it gets cancelled), the second one quick.
    mac.commands.push_back(streamed({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"},
                                    std::vector<std::string>(2000, "==> Downloading…"), 0, 2));
    mac.commands.push_back(streamed({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"},
                                    {"==> Installing Cask temurin@25"}, 0));
    // No verification answers: the fresh shell finds no java.
    DiagnoseView view(environmentFor(mac));
    view.resize(720, 700);
    view.show();
    // Key presses reach the active window (once a sheet has gone, the window again).
    const auto activate = [&view] {
        view.activateWindow();
        return QTest::qWaitForWindowActive(&view);
    };
    ASSERT_TRUE(activate());
    WAIT_FOR(visible(view, "diagnosis-d1-install-chosen"));

    // Tab walks the page top to bottom: into the chooser at its selected row
    // (arrows move within it), then Install and the links.
    std::vector<QWidget*> tabStops;
    for (QWidget* w = view.nextInFocusChain(); w != &view; w = w->nextInFocusChain())
        if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) tabStops.push_back(w);
    ASSERT_EQ(tabStops.size(), 4u);
    EXPECT_EQ(tabStops[0]->objectName(), QStringLiteral("diagnosis-d1-pick-java-25"));
    EXPECT_EQ(tabStops[1]->objectName(), QStringLiteral("diagnosis-d1-install-chosen"));
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        EXPECT_GT(tabStops[i]->mapTo(&view, QPoint(0, 0)).y(), tabStops[i - 1]->mapTo(&view, QPoint(0, 0)).y())
            << tabStops[i]->objectName().toStdString();

    // A shortcut presses its button the way a click does, a moment later.
    QTest::keyClick(&view, Qt::Key_Return);
    WAIT_FOR(view.sheet() != nullptr);
    WAIT_FOR(find<QPlainTextEdit>(*view.sheet(), "remediation-progress")->blockCount() > 1);
    QTest::keyClick(view.sheet(), Qt::Key_Escape);
    WAIT_FOR(view.sheet() == nullptr && visible(view, "diagnosis-d1-install-chosen"));
    EXPECT_EQ(sink.count("remediation_canceled"), 1);

    ASSERT_TRUE(activate());
    QTest::keyClick(&view, Qt::Key_Return);
    WAIT_FOR(view.sheet() != nullptr);
    WAIT_FOR(visible(*view.sheet(), "remediation-continue"));
    QTest::keyClick(view.sheet(), Qt::Key_Return);
    WAIT_FOR(visible(view, "verify-result-fail"));
    EXPECT_EQ(find<QLabel>(view, "verify-title")->text(), QStringLiteral("Java install incomplete"));
    EXPECT_TRUE(visible(view, "verify-symbol-fail"));
    EXPECT_FALSE(visible(view, "verify-symbol-pass"));
    ASSERT_TRUE(activate());
    QTest::keyClick(&view, Qt::Key_Return);  // Back
    WAIT_FOR(visible(view, "diagnosis-d1-install-chosen"));
    EXPECT_EQ(sink.count("verify_failed"), 1);
}

TEST_F(JourneyUITest, LinksInExplanationsOpenThroughTheOpener) {
    UIEnvironment environment = environmentFor(test::bundledScenario("no-jdk.json"), false);
    const std::string url = "https://brimwell.example/java/unable-to-locate";
    ErrorScaffold page(QString::fromStdString("Install failed (exit code 1). The article at [Brimwell](" + url +
                                              ") may help."),
                       [] {}, environment);
    page.resize(720, 500);
    page.show();
    QApplication::processEvents();
    auto* message = find<QLabel>(page, "error-message");
    ASSERT_NE(message, nullptr);
    // The link is where the label draws in the link colour.
    const QImage picture = message->grab().toImage();
    const QColor link = message->palette().color(QPalette::Link);
    std::optional<QPoint> onLink;
    for (int y = 0; y < picture.height() && !onLink; ++y)
        for (int x = 0; x < picture.width() && !onLink; ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (std::abs(pixel.red() - link.red()) + std::abs(pixel.green() - link.green()) +
                    std::abs(pixel.blue() - link.blue()) <
                40)
                onLink = QPoint(x, y);
        }
    ASSERT_TRUE(onLink) << "no link drawn";
    QTest::mouseClick(message, Qt::LeftButton, {}, *onLink);
    EXPECT_EQ(opened, std::vector<std::string>{url});
    // The message can be selected and copied from the first press on.
    EXPECT_TRUE(message->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
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

TEST_F(JourneyUITest, ZprofileReadErrorLooksLikeAnErrorAndCloseReportsIt) {
    Scenario mac = test::bundledScenario("java-home-unset.json");
    mac.files["/Users/alex/.zprofile"] = ScenarioFile{std::string("export A=\xff\n"), false, false};
    SheetHarness harness(environmentFor(mac, false),
                         Remediation::writeJavaHomeToZprofile("/Library/Java/JavaVirtualMachines/temurin-21.jdk"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "zprofile-close"));
    const QLabel* status = find<QLabel>(sheet, "zprofile-status");
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Couldn't read ~/.zprofile: ")))
        << status->text().toStdString();
    EXPECT_EQ(status->palette().color(QPalette::WindowText), errorColor());
    EXPECT_FALSE(visible(sheet, "zprofile-apply"));
    click(sheet, "zprofile-close");
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0].kind, RemediationOutcome::Kind::failure);
}

TEST_F(JourneyUITest, AfterAFailureTheArticleOpensAndEscapeClosesWithTheFailure) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.http.push_back({kHomebrewInstallScriptURL, 200,  // the install script fails
                        "#!/bin/bash\necho '==> Checking for `sudo` access'\necho 'Failed during: /usr/bin/sudo -n'\n"
                        "exit 1\n",
                        {}});
    SheetHarness harness(environmentFor(mac, false), Remediation::installHomebrewThenTemurin("temurin@25"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-close"));
    click(sheet, "remediation-open-article");
    EXPECT_EQ(opened, std::vector<std::string>{ProductConfig::current().urls.javaDownload});
    QTest::keyClick(&sheet, Qt::Key_Escape);
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0].kind, RemediationOutcome::Kind::failure);
    EXPECT_EQ(harness.outcomes[0].message.rfind("Install failed (exit code 1). The article at [Brimwell](", 0), 0u);
    EXPECT_EQ(sink.count("remediation_failed"), 1);
}

TEST_F(JourneyUITest, AFailedRunSaysWhatFailedAndTryAgainRunsItAfresh) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.commands.push_back(streamed({"/opt/homebrew/bin/brew", "install", "--cask", "warp"},
                                    {"==> Installing Cask warp", "🍺  warp was successfully installed!"}, 0));
    UIEnvironment environment = environmentFor(mac, false);
    SheetHarness harness(environment, Remediation::installWarpViaBrew("warp"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-try-again"));
    EXPECT_EQ(find<QLabel>(sheet, "remediation-title")->text(), QStringLiteral("Installing Warp via Homebrew failed"));
    ASSERT_TRUE(visible(sheet, "remediation-status"));
    const QString status = find<QLabel>(sheet, "remediation-status")->text();
    EXPECT_TRUE(status.contains(QStringLiteral("exit code -1"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("Homebrew not found in"))) << status.toStdString();
    EXPECT_TRUE(visible(sheet, "remediation-close"));

    // The user installs Homebrew meanwhile, then tries again.
    ASSERT_TRUE(environment.services.fs->createDirectory("/opt/homebrew/bin", true));
    ASSERT_TRUE(environment.services.fs->write("", "/opt/homebrew/bin/brew", true));
    ASSERT_TRUE(environment.services.fs->setPosixPermissions(0755, "/opt/homebrew/bin/brew"));
    click(sheet, "remediation-try-again");
    WAIT_FOR(visible(sheet, "remediation-continue"));
    EXPECT_EQ(find<QLabel>(sheet, "remediation-title")->text(), QStringLiteral("Installing Warp via Homebrew"));
    EXPECT_FALSE(visible(sheet, "remediation-status"));
    const QString log = find<QPlainTextEdit>(sheet, "remediation-progress")->toPlainText();
    EXPECT_TRUE(log.startsWith(QStringLiteral("Homebrew not found in"))) << log.toStdString();  // the log stays
    EXPECT_TRUE(log.endsWith(QStringLiteral("warp was successfully installed!"))) << log.toStdString();
    QTest::keyClick(&sheet, Qt::Key_Return);
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0].kind, RemediationOutcome::Kind::success);
}

// The version managers' copy names the real identifier, never a placeholder.
TEST_F(JourneyUITest, NoPlaceholderReachesTheScreen) {
    UIEnvironment environment = environmentFor(test::bundledScenario("no-jdk.json"), false);
    const QRegularExpression placeholder(QStringLiteral("<[A-Za-z][A-Za-z ]*>"));
    const auto check = [&](QWidget& screen, const Remediation& fix) {
        for (QLabel* text : screen.findChildren<QLabel*>())
            EXPECT_FALSE(text->text().contains(placeholder)) << fix.id() << ": " << text->text().toStdString();
        for (QPushButton* action : screen.findChildren<QPushButton*>())
            EXPECT_FALSE(action->text().contains(placeholder)) << fix.id() << ": " << action->text().toStdString();
    };
    JDKInfo jdk;
    jdk.path = "/Users/alex/.sdkman/candidates/java/21.0.5-tem";
    jdk.version = "21.0.5";
    for (const Remediation& fix :
         {Remediation::installViaSDKMAN(25), Remediation::setJavaHomeViaSDKMAN("21.0.5-tem"),
          Remediation::installViaMise("temurin-25"), Remediation::setJavaHomeViaMise("temurin-21.0.5")}) {
        RemediationProgressView sheet(fix, environment, {}, nullptr);  // not shown: nothing runs
        check(sheet, fix);
        DiagnosisDetailView detail(Diagnosis::D2_HomeUnset(jdk), std::nullopt, fix, {}, environment);
        check(detail, fix);
    }
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
