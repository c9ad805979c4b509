// The staged audit offscreen on simulated Macs: the real pages and the real
// remediation sheet, clicked by their accessibility identifiers.
#include <gtest/gtest.h>

#include <QLabel>

#include "../screens/ScreenTestSupport.h"
#include "FinalAuditReportView.h"
#include "JavaProduct.h"
#include "Stage1View.h"
#include "Stage2View.h"
#include "StagedAuditFlowView.h"
#include "UITestSupport.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"

namespace lumo::ui {
namespace {

using test::click;

class AuditUITest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void SetUp() override { ProductConfig::setCurrent(lumoraJava()); }

    // Opens the flow on a Mac without Homebrew and clicks its install; the sheet.
    QDialog* installHomebrew(const Scenario& mac) {
        environment.services = makeSimulatedServices(mac);
        environment.navigation = &navigation;
        environment.telemetry = &sink;
        environment.profile = &profiles;
        environment.scheduler = &scheduler;
        SystemProfile withoutHomebrew;
        withoutHomebrew.xcodeCommandLineToolsPath = "/Library/Developer/CommandLineTools";
        profiles.publish(withoutHomebrew);
        flow = std::make_unique<StagedAuditFlowView>(
            AuditContext{AuditEntry::buildIntent, CompletionSurface::excluded, std::nullopt}, environment);
        flow->resize(720, 700);
        flow->show();
        QApplication::processEvents();
        page = qobject_cast<Stage1View*>(flow->currentPage());
        if (page) click(*page, "audit-install-homebrew");
        return page ? page->sheet() : nullptr;
    }

    UIEnvironment environment;
    AppNavigation navigation;
    test::RecordingSink sink;
    ProfileStore profiles;
    test::ManualScheduler scheduler;
    std::unique_ptr<StagedAuditFlowView> flow;
    Stage1View* page = nullptr;
};

TEST_F(AuditUITest, CancellingTheHomebrewInstallStaysOnThePage) {
    Scenario mac;  // the install script is still running at the cancel
    mac.http.push_back(
        {kHomebrewInstallScriptURL, 200, "#!/bin/bash\necho '==> Checking for `sudo` access'\nsleep 60\n", {}});
    QDialog* sheet = installHomebrew(mac);
    ASSERT_NE(sheet, nullptr);
    WAIT_FOR(test::visible(*sheet, "remediation-cancel"));
    click(*sheet, "remediation-cancel");
    WAIT_FOR(page->sheet() == nullptr);

    EXPECT_EQ(flow->currentPage(), page);
    EXPECT_TRUE(test::shown(*page, "audit-install-homebrew")->isEnabled());
    EXPECT_EQ(sink.count("remediation_canceled"), 1);
}

TEST_F(AuditUITest, AFailedInstallMovesOnToWarpThroughHomebrew) {
    Scenario mac;  // the install script fails
    mac.http.push_back({kHomebrewInstallScriptURL, 200, "#!/bin/bash\necho 'Failed during: git fetch'\nexit 7\n", {}});
    QDialog* sheet = installHomebrew(mac);
    ASSERT_NE(sheet, nullptr);
    WAIT_FOR(test::visible(*sheet, "remediation-close"));
    click(*sheet, "remediation-close");
    WAIT_FOR(qobject_cast<Stage2View*>(flow->currentPage()) != nullptr);
    EXPECT_EQ(sink.count("remediation_failed"), 1);

    // "Maybe later", then the report shows the profile's rows.
    click(*flow->currentPage(), "audit-stage-skip");
    WAIT_FOR(qobject_cast<FinalAuditReportView*>(flow->currentPage()) != nullptr);
    const auto* homebrewRow = test::shown<QLabel>(*flow->currentPage(), "audit-final-report-row-1");
    ASSERT_NE(homebrewRow, nullptr);
    EXPECT_EQ(homebrewRow->text(), QStringLiteral("Homebrew missing"));
}

}  // namespace
}  // namespace lumo::ui
