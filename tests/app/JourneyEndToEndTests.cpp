// The whole journey in the real window, offscreen, on simulated Macs: every
// page clicked by its accessibility identifier, and the recorded events
// checked road by road.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <mutex>

#include "JavaProduct.h"
#include "LumoRootView.h"
#include "simulated/SimulatedServices.h"
#include "ui/UITestSupport.h"

namespace lumo::ui {
namespace {

// Events arrive from the main thread and from worker threads.
class Recorder : public TelemetrySink {
public:
    void emit(const std::string& name, const JSONObject& data) override {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.emplace_back(name, data);
    }
    std::vector<std::pair<std::string, JSONObject>> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& event : events()) result.push_back(event.first);
        return result;
    }
    // The properties of the `n`th event called `name`.
    JSONObject nth(const std::string& name, int n = 0) const {
        for (const auto& event : events())
            if (event.first == name && n-- == 0) return event.second;
        ADD_FAILURE() << "no " << name;
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, JSONObject>> events_;
};

std::string text(const JSONValue& value) {
    const auto* s = std::get_if<std::string>(&value.value);
    return s ? *s : "<not a string>";
}

class JourneyEndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void TearDown() override { ProductConfig::setCurrent(lumoraJava()); }

    // The window as the app opens it on a scenario.
    void open(const ProductConfig& product, const std::string& scenarioName) {
        ProductConfig::setCurrent(product);
        const auto scenario = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + scenarioName);
        ASSERT_TRUE(scenario) << scenario.error().description;
        LumoRootView::Options options;
        options.services = makeSimulatedServices(*scenario);
        runner = std::dynamic_pointer_cast<const SimulatedProcessRunner>(options.services.processRunner);
        fs = options.services.fs;
        options.initialProfile = SystemProfiler(options.services, [](const std::string&) {}).profile();
        options.telemetry = &recorder;
        options.openURL = [this](const std::string& url) { opened.push_back(url); };
        root = std::make_unique<LumoRootView>(options);
        root->resize(720, 720);
        root->show();
        QApplication::processEvents();
    }

    // The visible widget with this identifier, in the window or its sheets.
    template <class T = QWidget>
    T* shown(const char* identifier) const {
        for (T* widget : root->findChildren<T*>(QString::fromLatin1(identifier)))
            if (widget->isVisible()) return widget;
        return nullptr;
    }

    // Waits until the button is shown and enabled, then clicks it.
    void tap(const char* identifier) {
        QPushButton* target = nullptr;
        const bool ready = test::waitFor([&] {
            target = shown<QPushButton>(identifier);
            return target && target->isEnabled();
        });
        if (!ready) {
            std::string ran;
            if (runner)
                for (const auto& argv : runner->invocations()) ran += "\n  " + argv.back();
            FAIL() << "no button " << identifier << "; events so far: " << ::testing::PrintToString(recorder.names())
                   << "; commands run:" << ran;
        }
        target->click();
        QApplication::processEvents();
    }

    void waitFor(const char* identifier) {
        ASSERT_TRUE(test::waitFor([&] { return shown(identifier) != nullptr; })) << identifier << " never appeared";
    }

    void waitGone(const char* identifier) {
        ASSERT_TRUE(test::waitFor([&] { return shown(identifier) == nullptr; })) << identifier << " never went";
    }

    // The JDK `sdk install java 25-tem` leaves behind (its `current` link
    // stands as a plain directory: the simulated Mac has no links).
    void sdkmanInstallsJava25() const {
        const std::string home = "/Users/alex/.sdkman/candidates/java/current";
        ASSERT_TRUE(fs->createDirectory(home + "/bin", true).ok());
        ASSERT_TRUE(fs->write("JAVA_VERSION=\"25\"\n", home + "/release", false).ok());
        ASSERT_TRUE(fs->write("", home + "/bin/java", false).ok());
        ASSERT_TRUE(fs->setPosixPermissions(0755, home + "/bin/java").ok());
    }

    Recorder recorder;
    std::shared_ptr<const SimulatedProcessRunner> runner;
    std::shared_ptr<const FileSystemOperating> fs;
    std::vector<std::string> opened;
    std::unique_ptr<LumoRootView> root;
};

// Java missing on a developer's Mac without Homebrew: install through SDKMAN,
// verify, "Set up my Mac to build software", the audit installs Homebrew,
// the Warp stage, the report, the AI-coding offer, home.
TEST_F(JourneyEndToEndTest, NoJDKToBuildSoftwareThroughTheAuditAndTheAICodingOffer) {
    open(lumoraJava(), "sdkman-no-homebrew.json");
    tap("consent-continue");
    tap("goal-option-gaming");
    tap("goal-continue");
    tap("diagnosis-d1-install-chosen");
    sdkmanInstallsJava25();
    tap("remediation-continue");  // the SDKMAN install, then "Continue to verify"
    waitFor("verify-result-pass");
    // Named for where they lead: the next-step question, then the offer.
    EXPECT_EQ(shown<QPushButton>("continue-to-audit")->text(), QStringLiteral("Continue"));
    tap("continue-to-audit");
    tap("next-step-option-build_software");
    tap("next-step-continue");

    waitFor("audit-stage-foundations");
    tap("audit-install-homebrew");
    tap("remediation-continue");
    waitFor("audit-stage-terminal");
    tap("audit-stage-skip");  // "Maybe later"
    waitFor("audit-final-report");
    EXPECT_EQ(shown("nps-card"), nullptr);  // a product with a next-step question
    EXPECT_EQ(shown<QPushButton>("audit-report-done")->text(), QStringLiteral("Continue"));
    tap("audit-report-done");
    waitFor("ai-coding-offer-view");
    tap("offer-ai_coding_setup-dismiss");
    EXPECT_TRUE(root->navigation().path().empty());

    EXPECT_EQ(recorder.names(),
              (std::vector<std::string>{"consent_given", "app_launched", "goal_selected", "diagnosis_reached",
                                        "chooser_shown", "remediation_applied", "remediation_completed",
                                        "verify_passed", "next_step_selected", "audit_reached", "audit_stage_outcome",
                                        "remediation_applied", "remediation_completed", "audit_stage_outcome",
                                        "audit_stage_skipped_by_user", "offer_shown", "offer_action"}));
    EXPECT_EQ(text(recorder.nth("audit_reached").at("entry")), "next_step_build_software");
    EXPECT_EQ(text(recorder.nth("audit_stage_outcome", 0).at("outcome")), "rendered");
    EXPECT_EQ(text(recorder.nth("audit_stage_outcome", 1).at("stage_id")), "stage_2_terminal");
    EXPECT_EQ(text(recorder.nth("remediation_applied", 1).at("remediation_id")), "homebrew");
    EXPECT_EQ(text(recorder.nth("remediation_completed", 1).at("remediation_id")), "homebrew");
    EXPECT_EQ(text(recorder.nth("remediation_applied", 0).at("method")), "sdkman");
    EXPECT_EQ(text(recorder.nth("next_step_selected").at("next_step")), "build_software");
    EXPECT_EQ(text(recorder.nth("offer_shown").at("offer_id")), "ai_coding_setup");
}

// Java already fine on a Mac with no developer signal, in the product
// without a next-step question: the score card is asked on the diagnosis,
// and the heuristic entry's gate shows the completion page without asking
// again.
TEST_F(JourneyEndToEndTest, NonDeveloperOnTheHeuristicEntryIsAskedForTheScoreOnce) {
    open(ProductConfig::fixwellJava(), "java-ok-no-dev-tools.json");
    tap("consent-continue");
    tap("welcome-diagnose-button");
    tap("nps-score-9");
    tap("nps-submit");
    tap("continue-to-audit");
    waitFor("completion-view");
    EXPECT_EQ(shown("audit-stage-foundations"), nullptr);
    EXPECT_EQ(shown("nps-card"), nullptr);
    tap("completion-done");
    EXPECT_TRUE(root->navigation().path().empty());

    EXPECT_EQ(recorder.names(), (std::vector<std::string>{"consent_given", "app_launched", "diagnosis_reached",
                                                          "nps_shown", "nps_submitted", "audit_reached",
                                                          "audit_gated", "build_intent_prompt_shown"}));
    EXPECT_EQ(text(recorder.nth("audit_reached").at("entry")), "heuristic");
    EXPECT_EQ(recorder.nth("audit_gated").at("likely_developer"), JSONValue(false));
    EXPECT_EQ(text(recorder.nth("build_intent_prompt_shown").at("surface")), "modern_home_set");
    EXPECT_EQ(recorder.nth("nps_submitted").at("score"), JSONValue(9));
}

}  // namespace
}  // namespace lumo::ui
