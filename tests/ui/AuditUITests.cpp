// The staged audit offscreen on simulated Macs: the real pages and the real
// remediation sheet, clicked by their accessibility identifiers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "../screens/ScreenTestSupport.h"
#include "FinalAuditReportView.h"
#include "JavaProduct.h"
#include "Stage1View.h"
#include "Stage2View.h"
#include "StagedAuditFlowView.h"
#include "UITestSupport.h"
#include "remediation/HomebrewInstaller.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo::ui {
namespace {

SystemProfile macWithoutHomebrew() {
    SystemProfile p;
    p.architecture = Architecture::appleSilicon;
    p.macosVersion = {15, 2, 0};
    p.shell = Shell::zsh();
    p.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
    return p;
}

class AuditUITest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(lumoraJava()); }

    std::unique_ptr<StagedAuditFlowView> makeFlow(const Scenario& mac, const SystemProfile& profile) {
        environment.services = makeSimulatedServices(mac);
        environment.navigation = &navigation;
        environment.telemetry = &sink;
        environment.profile = &profiles;
        environment.scheduler = &scheduler;
        environment.openURL = [this](const std::string& url) { opened.push_back(url); };
        profiles.publish(profile);
        auto flow = std::make_unique<StagedAuditFlowView>(
            AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, environment);
        flow->resize(720, 700);
        flow->show();
        QApplication::processEvents();
        return flow;
    }

    static void click(QWidget& root, const char* identifier) {
        auto* target = root.findChild<QPushButton*>(QString::fromLatin1(identifier));
        ASSERT_NE(target, nullptr) << identifier;
        ASSERT_TRUE(target->isVisible() && target->isEnabled()) << identifier;
        target->click();
        QApplication::processEvents();
    }

    UIEnvironment environment;
    AppNavigation navigation;
    test::RecordingSink sink;
    ProfileStore profiles;
    test::ManualScheduler scheduler;
    std::vector<std::string> opened;
};

TEST_F(AuditUITest, CancellingTheHomebrewInstallStaysOnThePage) {
    Scenario mac;  // the install script takes its time
    mac.http.push_back({kHomebrewInstallScriptURL, 200,
                        "#!/bin/bash\necho '==> Checking for `sudo` access'\necho '==> Downloading Command Line "
                        "Tools'\nsleep 60\n",
                        {}});
    auto flow = makeFlow(mac, macWithoutHomebrew());
    auto* page = qobject_cast<Stage1View*>(flow->currentPage());
    ASSERT_NE(page, nullptr);
    click(*page, "audit-install-homebrew");
    ASSERT_NE(page->sheet(), nullptr);
    EXPECT_GE(page->sheet()->minimumWidth(), 560);
    EXPECT_GE(page->sheet()->minimumHeight(), 420);
    QDialog* sheet = page->sheet();
    WAIT_FOR(sheet->findChild<QPushButton*>(QStringLiteral("remediation-cancel"))->isVisible());
    click(*sheet, "remediation-cancel");
    WAIT_FOR(page->sheet() == nullptr);

    EXPECT_EQ(flow->currentPage(), page);
    EXPECT_EQ(flow->model().currentIndex(), 0);
    EXPECT_FALSE(page->model().sheetRemediation());
    EXPECT_TRUE(page->findChild<QPushButton*>(QStringLiteral("audit-install-homebrew"))->isEnabled());
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"audit_reached", "audit_stage_outcome", "remediation_applied",
                                                      "remediation_canceled"}));
}

TEST_F(AuditUITest, AFailedInstallMovesOnToWarpThroughHomebrew) {
    Scenario mac;  // the install script fails
    mac.http.push_back({kHomebrewInstallScriptURL, 200, "#!/bin/bash\necho 'Failed during: git fetch'\nexit 7\n", {}});
    auto flow = makeFlow(mac, macWithoutHomebrew());
    auto* page = qobject_cast<Stage1View*>(flow->currentPage());
    ASSERT_NE(page, nullptr);
    click(*page, "audit-install-homebrew");
    QDialog* sheet = page->sheet();
    ASSERT_NE(sheet, nullptr);
    WAIT_FOR(sheet->findChild<QPushButton*>(QStringLiteral("remediation-close"))->isVisible());
    click(*sheet, "remediation-close");
    WAIT_FOR(qobject_cast<Stage2View*>(flow->currentPage()) != nullptr);

    auto* terminal = qobject_cast<Stage2View*>(flow->currentPage());
    EXPECT_EQ(terminal->model().installRemediation(), Remediation::installHomebrewThenWarp("warp"));
    EXPECT_NE(terminal->findChild<QLabel*>(QStringLiteral("audit-warp-disclosure")), nullptr);
    EXPECT_EQ(sink.names(), (std::vector<std::string>{"audit_reached", "audit_stage_outcome", "remediation_applied",
                                                      "remediation_failed", "audit_stage_outcome"}));

    // "Maybe later", then the report's done returns home (no next-step context).
    navigation.setPath({Screen::audit(flow->model().context())});
    click(*terminal, "audit-stage-skip");
    WAIT_FOR(qobject_cast<FinalAuditReportView*>(flow->currentPage()) != nullptr);
    const auto* homebrewRow = flow->currentPage()->findChild<QLabel*>(QStringLiteral("audit-final-report-row-1"));
    ASSERT_NE(homebrewRow, nullptr);
    EXPECT_EQ(homebrewRow->text(), QStringLiteral("Homebrew missing"));
    click(*flow->currentPage(), "audit-report-done");
    EXPECT_TRUE(navigation.path().empty());
    EXPECT_EQ(sink.count("audit_stage_skipped_by_user"), 1);
}

}  // namespace
}  // namespace lumo::ui
