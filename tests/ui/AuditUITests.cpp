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

using test::click;

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
        profiles.publish(profile);
        auto flow = std::make_unique<StagedAuditFlowView>(
            AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, environment);
        flow->resize(720, 700);
        flow->show();
        QApplication::processEvents();
        return flow;
    }

    UIEnvironment environment;
    AppNavigation navigation;
    test::RecordingSink sink;
    ProfileStore profiles;
    test::ManualScheduler scheduler;
};

TEST_F(AuditUITest, CancellingTheHomebrewInstallStaysOnThePage) {
    Scenario mac;
    test::homebrewInstallScript(mac, {"==> Checking for `sudo` access"}, 0, 60'000);  // still running at the cancel
    auto flow = makeFlow(mac, macWithoutHomebrew());
    auto* page = qobject_cast<Stage1View*>(flow->currentPage());
    ASSERT_NE(page, nullptr);
    click(*page, "audit-install-homebrew");
    QDialog* sheet = page->sheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_GE(sheet->minimumWidth(), 560);
    WAIT_FOR(sheet->findChild<QPushButton*>(QStringLiteral("remediation-cancel"))->isVisible());
    click(*sheet, "remediation-cancel");
    WAIT_FOR(page->sheet() == nullptr);

    EXPECT_EQ(flow->currentPage(), page);
    EXPECT_TRUE(page->findChild<QPushButton*>(QStringLiteral("audit-install-homebrew"))->isEnabled());
    EXPECT_EQ(sink.count("remediation_canceled"), 1);
}

TEST_F(AuditUITest, AFailedInstallMovesOnToWarpThroughHomebrew) {
    Scenario mac;
    // Offline: the install script cannot be fetched.
    auto flow = makeFlow(mac, macWithoutHomebrew());
    auto* page = qobject_cast<Stage1View*>(flow->currentPage());
    ASSERT_NE(page, nullptr);
    click(*page, "audit-install-homebrew");
    QDialog* sheet = page->sheet();
    ASSERT_NE(sheet, nullptr);
    WAIT_FOR(sheet->findChild<QPushButton*>(QStringLiteral("remediation-close"))->isVisible());
    click(*sheet, "remediation-close");
    WAIT_FOR(qobject_cast<Stage2View*>(flow->currentPage()) != nullptr);
    EXPECT_EQ(sink.count("remediation_failed"), 1);

    // "Maybe later", then the report shows the profile's rows.
    click(*flow->currentPage(), "audit-stage-skip");
    WAIT_FOR(qobject_cast<FinalAuditReportView*>(flow->currentPage()) != nullptr);
    const auto* homebrewRow = flow->currentPage()->findChild<QLabel*>(QStringLiteral("audit-final-report-row-1"));
    ASSERT_NE(homebrewRow, nullptr);
    EXPECT_EQ(homebrewRow->text(), QStringLiteral("Homebrew missing"));
}

}  // namespace
}  // namespace lumo::ui
