// What the scenario walks cannot see, offscreen on simulated Macs: the sheet
// over the detail, the ~/.zprofile diff's toggle, the keyboard, Cancel, the
// follow-up card's Skip, failure footers, Try Again, links and the verify
// page's follow-up.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>

#include "DiagnoseView.h"
#include "DiagnosisDetailView.h"
#include "RemediationProgressView.h"
#include "Style.h"
#include "UITestSupport.h"
#include "VerifyViews.h"
#include "remediation/HomebrewInstaller.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo::ui {
namespace {

using test::click;
using test::shown;
using test::visible;

class NoDelay : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds, std::function<void()> work) override { work(); }
};

class JourneyUITest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(ProductConfig::fixwellJava()); }

    UIEnvironment environmentFor(const Scenario& mac, bool withProfile = true) {
        UIEnvironment environment{&navigation, makeSimulatedServices(mac), &silentTelemetry(), &profiles, opener,
                                  &scheduler};
        if (withProfile) profiles.publish(SystemProfiler(environment.services, [](const std::string&) {}).profile());
        return environment;
    }

    AppNavigation navigation;
    ProfileStore profiles;
    NoDelay scheduler;
    std::vector<std::string> opened;
    URLOpener opener = [this](const std::string& url) { opened.push_back(url); };
};

// The sheet comes over the detail, which stays inert under it; the diff shows
// only the changes until asked for the whole file.
TEST_F(JourneyUITest, TheZprofileSheetCoversTheDetailAndTogglesTheWholeFile) {
    DiagnoseView view(environmentFor(test::bundledScenario("java-home-unset.json")));
    view.show();
    WAIT_FOR(visible(view, "remediation-primary-button"));
    click(view, "remediation-primary-button");
    RemediationProgressView* sheet = view.sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->windowFlags().testFlag(Qt::Sheet));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_GE(sheet->minimumWidth(), 560);
    EXPECT_GE(sheet->minimumHeight(), 420);
    EXPECT_TRUE(visible(view, "diagnosis-detail-inert"));
    // The files are read on a worker; the diff appears when they have been.
    WAIT_FOR(visible(*sheet, "zprofile-diff"));
    const auto diff = [&] { return shown<QPlainTextEdit>(*sheet, "zprofile-diff")->toPlainText(); };
    EXPECT_TRUE(diff().contains(QStringLiteral("+ export JAVA_HOME=$(/usr/libexec/java_home -v 21)")));
    EXPECT_FALSE(diff().contains(QStringLiteral("brew shellenv")));
    click(*sheet, "zprofile-toggle-full-file");
    EXPECT_TRUE(diff().contains(QStringLiteral("brew shellenv")));
}

// The keyboard alone: Return presses each page's primary action, Escape
// cancels the running sheet; a failed verification goes Back to the choice.
TEST_F(JourneyUITest, ReturnAndEscapeDriveTheJourneyAndAFailedVerificationGoesBack) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.files["/opt/homebrew/bin/brew"] = ScenarioFile{{}, true, false};
    // The first run is long (it gets cancelled), the second one quick.
    mac.commands.push_back(ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"},
                                                      std::vector<std::string>(2000, "==> Downloading…"), 0, 2));
    mac.commands.push_back(ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"},
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
    for (std::size_t i = 1; i < tabStops.size(); ++i)
        EXPECT_GT(tabStops[i]->mapTo(&view, QPoint(0, 0)).y(), tabStops[i - 1]->mapTo(&view, QPoint(0, 0)).y())
            << tabStops[i]->objectName().toStdString();

    // A shortcut presses its button the way a click does, a moment later.
    QTest::keyClick(&view, Qt::Key_Return);
    WAIT_FOR(view.sheet() != nullptr);
    WAIT_FOR(shown<QPlainTextEdit>(*view.sheet(), "remediation-progress")->blockCount() > 1);
    QTest::keyClick(view.sheet(), Qt::Key_Escape);
    WAIT_FOR(view.sheet() == nullptr && visible(view, "diagnosis-d1-install-chosen"));

    ASSERT_TRUE(activate());
    QTest::keyClick(&view, Qt::Key_Return);
    WAIT_FOR(view.sheet() != nullptr);
    WAIT_FOR(visible(*view.sheet(), "remediation-continue"));
    QTest::keyClick(view.sheet(), Qt::Key_Return);
    WAIT_FOR(visible(view, "verify-result-fail"));
    ASSERT_TRUE(activate());
    QTest::keyClick(&view, Qt::Key_Return);  // Back
    WAIT_FOR(visible(view, "diagnosis-d1-install-chosen"));
}

TEST_F(JourneyUITest, LinksInExplanationsOpenThroughTheOpener) {
    UIEnvironment environment = environmentFor(test::bundledScenario("no-jdk.json"), false);
    const std::string url = "https://brimwell.example/java/unable-to-locate";
    ErrorScaffold page(
        QString::fromStdString("Install failed (exit code 1). The article at [Brimwell](" + url + ") may help."), [] {},
        environment);
    page.resize(720, 500);
    page.show();
    QApplication::processEvents();
    auto* message = shown<QLabel>(page, "error-message");
    ASSERT_NE(message, nullptr);
    // The link is where the label draws in the link colour.
    const QImage picture = message->grab().toImage();
    const QColor link = message->palette().color(QPalette::Link);
    const auto near = [&](QColor c) {
        return std::abs(c.red() - link.red()) + std::abs(c.green() - link.green()) + std::abs(c.blue() - link.blue()) <
               40;
    };
    std::optional<QPoint> onLink;
    for (int y = 0; y < picture.height() && !onLink; ++y)
        for (int x = 0; x < picture.width() && !onLink; ++x)
            if (near(picture.pixelColor(x, y))) onLink = QPoint(x, y);
    ASSERT_TRUE(onLink) << "no link drawn";
    QTest::mouseClick(message, Qt::LeftButton, {}, *onLink);
    EXPECT_EQ(opened, std::vector<std::string>{url});
    // The message can be selected and copied from the first press on.
    EXPECT_TRUE(message->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
}

struct SheetHarness {
    SheetHarness(const UIEnvironment& environment, const Remediation& fix) {
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
    click(sheet, "remediation-zshrc-skip");
    const QString log = shown<QPlainTextEdit>(sheet, "remediation-progress")->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Skipped ~/.zshrc edit."))) << log.toStdString();
    click(sheet, "remediation-continue");
    EXPECT_EQ(harness.outcomes, std::vector{RemediationOutcome::success("Installed Temurin via Mise.")});
}

// Failure footers: the diff sheet's read error, shown as an error, closes with
// the failure; after a failed install the article opens and Escape closes.
TEST_F(JourneyUITest, FailureFootersCloseWithTheFailure) {
    Scenario unreadable = test::bundledScenario("java-home-unset.json");
    unreadable.files["/Users/alex/.zprofile"] = ScenarioFile{std::string("export A=\xff\n"), false, false};
    SheetHarness diff(environmentFor(unreadable, false),
                      Remediation::writeJavaHomeToZprofile("/Library/Java/JavaVirtualMachines/temurin-21.jdk"));
    WAIT_FOR(visible(*diff.sheet, "zprofile-close"));
    const QLabel* status = shown<QLabel>(*diff.sheet, "zprofile-status");
    EXPECT_TRUE(status->text().startsWith(QStringLiteral("Couldn't read ~/.zprofile: ")))
        << status->text().toStdString();
    EXPECT_EQ(status->palette().color(QPalette::WindowText), errorColor());
    EXPECT_FALSE(visible(*diff.sheet, "zprofile-apply"));
    click(*diff.sheet, "zprofile-close");
    ASSERT_EQ(diff.outcomes.size(), 1u);
    EXPECT_EQ(diff.outcomes[0].kind, RemediationOutcome::Kind::failure);

    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.http.push_back({kHomebrewInstallScriptURL, 200, "#!/bin/bash\nexit 1\n", {}});  // the install script fails
    SheetHarness harness(environmentFor(mac, false), Remediation::installHomebrewThenTemurin("temurin@25"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-close"));
    click(sheet, "remediation-open-article");
    EXPECT_EQ(opened, std::vector<std::string>{ProductConfig::current().urls.javaDownload});
    QTest::keyClick(&sheet, Qt::Key_Escape);
    ASSERT_EQ(harness.outcomes.size(), 1u);
    EXPECT_EQ(harness.outcomes[0].kind, RemediationOutcome::Kind::failure);
    EXPECT_EQ(harness.outcomes[0].message.rfind("Install failed (exit code 1). The article at [Brimwell](", 0), 0u);
}

TEST_F(JourneyUITest, AFailedRunSaysWhatFailedAndTryAgainRunsItAfresh) {
    Scenario mac = test::bundledScenario("no-jdk.json");
    mac.commands.push_back(
        ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "install", "--cask", "warp"},
                                   {"==> Installing Cask warp", "🍺  warp was successfully installed!"}, 0));
    UIEnvironment environment = environmentFor(mac, false);
    SheetHarness harness(environment, Remediation::installWarpViaBrew("warp"));
    QWidget& sheet = *harness.sheet;
    WAIT_FOR(visible(sheet, "remediation-try-again"));
    EXPECT_TRUE(shown<QLabel>(sheet, "remediation-title")->text().endsWith(QStringLiteral("failed")));
    ASSERT_TRUE(visible(sheet, "remediation-status"));
    EXPECT_TRUE(shown<QLabel>(sheet, "remediation-status")->text().contains(QStringLiteral("Homebrew not found in")));

    // The user installs Homebrew meanwhile, then tries again.
    ASSERT_TRUE(environment.services.fs->createDirectory("/opt/homebrew/bin", true));
    ASSERT_TRUE(environment.services.fs->write("", "/opt/homebrew/bin/brew", true));
    ASSERT_TRUE(environment.services.fs->setPosixPermissions(0755, "/opt/homebrew/bin/brew"));
    click(sheet, "remediation-try-again");
    WAIT_FOR(visible(sheet, "remediation-continue"));
    EXPECT_FALSE(visible(sheet, "remediation-status"));
    const QString log = shown<QPlainTextEdit>(sheet, "remediation-progress")->toPlainText();
    EXPECT_TRUE(log.startsWith(QStringLiteral("Homebrew not found in"))) << log.toStdString();  // the log stays
    EXPECT_TRUE(log.endsWith(QStringLiteral("warp was successfully installed!"))) << log.toStdString();
}

// The version managers' copy names the real identifier, never a placeholder.
TEST_F(JourneyUITest, NoPlaceholderReachesTheScreen) {
    UIEnvironment environment = environmentFor(test::bundledScenario("no-jdk.json"), false);
    const QRegularExpression placeholder(QStringLiteral("<[A-Za-z][A-Za-z ]*>"));
    const auto check = [&](QWidget& screen, const Remediation& fix) {
        for (QWidget* widget : screen.findChildren<QWidget*>()) {  // labels' and buttons' text
            const QString text = widget->property("text").toString();
            EXPECT_FALSE(text.contains(placeholder)) << fix.id() << ": " << text.toStdString();
        }
    };
    const JDKInfo jdk{"21.0.5", {}, {}, "/Users/alex/.sdkman/candidates/java/21.0.5-tem", {}, {}};  // version, path
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
    int setHome = 0;
    VerifyResultView::Actions actions;
    actions.onSetJavaHome = [&] { ++setHome; };
    VerifyResultView view(Remediation::installViaPKG(25), {"openjdk version \"25\"\n", 0, std::nullopt}, actions,
                          environmentFor(test::bundledScenario("no-jdk.json"), false));
    view.show();
    click(view, "verify-set-java-home");
    EXPECT_EQ(setHome, 1);
}

}  // namespace
}  // namespace lumo::ui
