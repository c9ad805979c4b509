// The whole journey in the real window, offscreen, on simulated Macs: every
// page clicked by its accessibility identifier, every bundled scenario walked
// to the outcome it states, and the recorded events checked road by road.
#include <gtest/gtest.h>

#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <set>

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
    std::vector<std::string> names() const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> result;
        for (const auto& event : events_) result.push_back(event.first);
        return result;
    }
    // The text of `key` in the first event called `name`.
    std::string first(const std::string& name, const std::string& key) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [event, data] : events_)
            if (event == name) return std::get<std::string>(data.at(key).value);  // else the test fails by the throw
        return "<no " + name + ">";
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, JSONObject>> events_;
};

class JourneyEndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureOffscreenApplication(); }
    void TearDown() override { ProductConfig::setCurrent(lumoraJava()); }

    // The window as the app opens it on a scenario.
    void open(const ProductConfig& product, const std::string& scenarioName, bool asLiveMac = false) {
        ProductConfig::setCurrent(product);
        auto loaded = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + scenarioName);
        ASSERT_TRUE(loaded) << loaded.error().description;
        scenario = *loaded;
        services = makeSimulatedServices(scenario);
        services.isFixtureMode = !asLiveMac;  // a live Mac is looked at again after every change
        if (shellTimeLimit) services.host.loginShellTimeLimit = *shellTimeLimit;
        LumoRootView::Options options;
        options.services = services;
        options.initialProfile = profile();
        options.telemetry = &recorder;
        root = std::make_unique<LumoRootView>(options);
        root->resize(720, 720);
        root->show();
    }

    // What a fresh look at the Mac sees.
    SystemProfile profile() const {
        return SystemProfiler(services, [](const std::string&) {}).profile();
    }

    // Waits until one of the buttons is shown and enabled; the first one's
    // identifier, or nothing after the wait.
    std::optional<std::string> firstShown(std::initializer_list<const char*> identifiers, qint64 timeoutMs = 60000) {
        std::optional<std::string> found;
        const auto appeared = [&] {
            for (const char* identifier : identifiers)
                if (QPushButton* button = test::shown(*root, QString::fromLatin1(identifier));
                    !found && button && button->isVisible() && button->isEnabled())
                    found = identifier;
            return found.has_value();
        };
        test::waitFor(appeared, timeoutMs);
        return found;
    }

    // Waits until the button is shown and enabled, then clicks it.
    void tap(const char* identifier) {
        ASSERT_TRUE(firstShown({identifier}))
            << "no button " << identifier << "; events so far: " << ::testing::PrintToString(recorder.names());
        test::click(*root, identifier);
    }

    std::optional<std::chrono::milliseconds> shellTimeLimit;
    Recorder recorder;
    Scenario scenario;
    AppServices services;
    std::unique_ptr<LumoRootView> root;
};

// The real window journey on a bundled scenario, taking whatever the app
// recommends: the goal "gaming", the diagnosis' fix (with its diff or
// ~/.zshrc follow-up applied), verification, then "Set up my Mac to build
// software" and every fix the audit offers, to its report. A failed
// verification ends the walk. What it led to is read from the recorded events
// and, for the audit, from a fresh look at the Mac.
class ScenarioPromiseTest : public JourneyEndToEndTest, public ::testing::WithParamInterface<std::string> {
protected:
    // Taps `identifier` and waits for the sheet it opens to end; true when it succeeded.
    bool runSheet(const char* identifier) {
        tap(identifier);
        for (;;) {
            const auto next = firstShown({"zprofile-apply", "zprofile-continue", "remediation-zshrc-apply",
                                          "remediation-continue", "remediation-close", "zprofile-close"},
                                         120000);
            EXPECT_TRUE(next) << "the sheet never ended";
            if (!next) return false;
            tap(next->c_str());
            if (*next == "remediation-close" || *next == "zprofile-close") return false;
            if (*next == "remediation-continue" || *next == "zprofile-continue") return true;
        }
    }

    ScenarioExpectation walk() {
        ScenarioExpectation seen;
        for (const char* button : {"consent-continue", "goal-option-gaming", "goal-continue"}) tap(button);
        const auto action =
            firstShown({"diagnosis-d1-install-chosen", "diagnosis-d3-install-chosen", "remediation-primary-button",
                        "diagnosis-install-native-build", "continue-to-audit"});
        EXPECT_TRUE(action) << "no diagnosis";
        if (!action) return seen;
        seen.diagnosis = recorder.first("diagnosis_reached", "diagnosis");
        seen.verdict = "none";
        if (*action != "continue-to-audit") {
            const bool succeeded = runSheet(action->c_str());
            seen.fix = recorder.first("remediation_applied", "remediation_id");
            const auto verdict = succeeded ? firstShown({"continue-to-audit", "verify-back"}, 60000) : std::nullopt;
            seen.verdict = verdict && *verdict == "continue-to-audit" ? "passed" : "failed";
            if (seen.verdict == "failed") return withAudit(seen);
        }
        for (const char* button : {"continue-to-audit", "next-step-option-build_software", "next-step-continue"})
            tap(button);
        std::set<std::string> tried;
        for (int page = 0; page < 8; ++page) {
            const auto next =
                firstShown({"audit-install-homebrew", "audit-install-warp", "audit-report-done", "audit-stage-skip"});
            if (!next || *next == "audit-report-done") break;
            if (*next == "audit-stage-skip" || !tried.insert(*next).second)  // each fix tried once
                tap("audit-stage-skip");
            else
                runSheet(next->c_str());
        }
        EXPECT_TRUE(test::waitFor([&] { return test::visible(*root, "audit-final-report"); }));
        return withAudit(seen);
    }

    // What the Mac has now, as the audit's report reads it.
    ScenarioExpectation withAudit(ScenarioExpectation seen) const {
        const SystemProfile now = profile();
        seen.audit = {now.xcodeCommandLineToolsPath.has_value(), now.homebrewPrefix.has_value(), now.terminals.warp};
        return seen;
    }
};

std::vector<std::string> walkedScenarios() {
    std::set<std::string> names;  // in order
    for (const auto& entry : std::filesystem::directory_iterator(std::string(LUMO_SOURCE_DIR) + "/scenarios"))
        if (entry.path().extension() == ".json") names.insert(entry.path().filename().string());
    return {names.begin(), names.end()};
}

TEST_P(ScenarioPromiseTest, TheJourneyEndsAsTheScenarioSays) {
    const bool hangs = GetParam() == "hanging-startup.json";
    if (hangs) shellTimeLimit = std::chrono::seconds(2);  // every look at the Mac waits this long
    open(lumoraJava(), GetParam(), /*asLiveMac=*/true);
    ASSERT_TRUE(scenario.expect);
    const ScenarioExpectation seen = walk();
    const ScenarioExpectation& expected = *scenario.expect;
    const auto facts = [](const ScenarioExpectation& e) {
        return std::tuple(e.diagnosis, e.fix, e.verdict, e.audit.commandLineTools, e.audit.homebrew, e.audit.warp);
    };
    EXPECT_EQ(facts(seen), facts(expected)) << "diagnosis, fix, verdict; Command Line Tools, Homebrew, Warp";
    if (GetParam() == "no-jdk.json") {  // the whole road, once
        EXPECT_EQ(recorder.names(),
                  (std::vector<std::string>{
                      "consent_given", "app_launched", "goal_selected", "diagnosis_reached", "chooser_shown",
                      "remediation_applied", "remediation_completed", "verify_passed", "verify_offered_followup",
                      "next_step_selected", "audit_reached", "audit_stage_outcome", "remediation_applied",
                      "remediation_completed", "audit_stage_outcome", "remediation_applied", "remediation_completed"}));
    }
    if (hangs) {
        EXPECT_NE(recorder.first("diagnosis_reached", "reason").find("took longer than 2 seconds"), std::string::npos);
    }
    // The Intel bundle replaced by the native one; a translated app installs the machine's build.
    if (GetParam() == "x86-jdk-apple-silicon.json" || GetParam() == "translated-app-no-jdk.json") {
        const auto jdks = profile().javaState.installedJDKs;
        ASSERT_EQ(jdks.size(), 1u);
        EXPECT_EQ(jdks[0].architecture, "arm64");
        EXPECT_TRUE(!scenario.translated || services.fs->fileExists("/opt/homebrew/bin/brew")) << "not /usr/local";
    }
}

INSTANTIATE_TEST_SUITE_P(BundledScenarios, ScenarioPromiseTest, ::testing::ValuesIn(walkedScenarios()),
                         [](const ::testing::TestParamInfo<std::string>& scenario) {
                             std::string name = scenario.param.substr(0, scenario.param.size() - 5);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Java already fine on a Mac with no developer signal, in the product
// without a next-step question: the score card is asked on the diagnosis,
// and the heuristic entry's gate shows the completion page without asking
// again.
TEST_F(JourneyEndToEndTest, NonDeveloperOnTheHeuristicEntryIsAskedForTheScoreOnce) {
    open(ProductConfig::fixwellJava(), "java-ok-no-dev-tools.json");
    for (const char* button :
         {"consent-continue", "welcome-diagnose-button", "nps-score-9", "nps-submit", "continue-to-audit"})
        tap(button);
    WAIT_FOR(test::visible(*root, "completion-view"));
    EXPECT_FALSE(test::visible(*root, "nps-card"));
    EXPECT_EQ(recorder.names(),
              (std::vector<std::string>{"consent_given", "app_launched", "diagnosis_reached", "nps_shown",
                                        "nps_submitted", "audit_reached", "audit_gated", "build_intent_prompt_shown"}));
}

}  // namespace
}  // namespace lumo::ui
