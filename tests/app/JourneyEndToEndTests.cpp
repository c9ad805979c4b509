// The whole journey in the real window, offscreen, on simulated Macs: every
// page clicked by its accessibility identifier, every bundled scenario walked
// to the outcome it states, and the recorded events checked road by road.
#include <gtest/gtest.h>

#include <QApplication>
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
    void open(const ProductConfig& product, const std::string& scenarioName, bool asLiveMac = false) {
        ProductConfig::setCurrent(product);
        const auto scenario = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + scenarioName);
        ASSERT_TRUE(scenario) << scenario.error().description;
        LumoRootView::Options options;
        options.services = makeSimulatedServices(*scenario);
        options.services.isFixtureMode = !asLiveMac;  // a live Mac is looked at again after every change
        if (shellTimeLimit) options.services.host.loginShellTimeLimit = *shellTimeLimit;
        services = options.services;
        runner = std::dynamic_pointer_cast<const SimulatedProcessRunner>(options.services.processRunner);
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

    std::optional<std::chrono::milliseconds> shellTimeLimit;
    Recorder recorder;
    AppServices services;
    std::shared_ptr<const SimulatedProcessRunner> runner;
    std::vector<std::string> opened;
    std::unique_ptr<LumoRootView> root;
};

// Waits until one of the buttons is shown and enabled; its identifier, or
// nothing after the wait.
template <class Root>
std::optional<std::string> firstShown(const Root& root, std::initializer_list<const char*> identifiers,
                                      qint64 timeoutMs = 60000) {
    std::optional<std::string> found;
    test::waitFor(
        [&] {
            for (const char* identifier : identifiers) {
                for (auto* button : root.template findChildren<QPushButton*>(QString::fromLatin1(identifier))) {
                    if (button->isVisible() && button->isEnabled()) {
                        found = identifier;
                        return true;
                    }
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

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
            const auto next = firstShown(*root, {"zprofile-apply", "zprofile-continue", "remediation-zshrc-apply",
                                                 "remediation-continue", "remediation-close", "zprofile-close"},
                                         120000);
            if (!next) {
                ADD_FAILURE() << "the sheet never ended";
                return false;
            }
            if (*next == "remediation-close" || *next == "zprofile-close") {
                tap(next->c_str());
                return false;
            }
            tap(next->c_str());
            if (*next == "remediation-continue" || *next == "zprofile-continue") return true;
        }
    }

    ScenarioExpectation walk() {
        ScenarioExpectation seen;
        tap("consent-continue");
        tap("goal-option-gaming");
        tap("goal-continue");
        const auto action =
            firstShown(*root, {"diagnosis-d1-install-chosen", "diagnosis-d3-install-chosen", "remediation-primary-button",
                               "diagnosis-install-native-build", "continue-to-audit"});
        if (!action) {
            ADD_FAILURE() << "no diagnosis";
            return seen;
        }
        seen.diagnosis = text(recorder.nth("diagnosis_reached").at("diagnosis"));
        seen.verdict = "none";
        if (*action != "continue-to-audit") {
            const bool succeeded = runSheet(action->c_str());
            seen.fix = text(recorder.nth("remediation_applied").at("remediation_id"));
            const auto verdict = succeeded ? firstShown(*root, {"continue-to-audit", "verify-back"}, 60000) : std::nullopt;
            seen.verdict = verdict && *verdict == "continue-to-audit" ? "passed" : "failed";
            if (seen.verdict == "failed") return withAudit(seen);
        }
        tap("continue-to-audit");
        tap("next-step-option-build_software");
        tap("next-step-continue");
        std::set<std::string> tried;
        for (int page = 0; page < 8; ++page) {
            const auto next = firstShown(*root, {"audit-install-homebrew", "audit-install-warp", "audit-report-done",
                                                 "audit-stage-skip"});
            if (!next || *next == "audit-report-done") break;
            if (*next == "audit-stage-skip" || tried.count(*next)) {
                tap("audit-stage-skip");
            } else {
                tried.insert(*next);
                runSheet(next->c_str());
            }
        }
        waitFor("audit-final-report");
        return withAudit(seen);
    }

    // What the Mac has now, as the audit's report reads it.
    ScenarioExpectation withAudit(ScenarioExpectation seen) const {
        const SystemProfile profile = SystemProfiler(services, [](const std::string&) {}).profile();
        seen.audit.commandLineTools = profile.xcodeCommandLineToolsPath.has_value();
        seen.audit.homebrew = profile.homebrewPrefix.has_value();
        seen.audit.warp = profile.terminals.warp;
        return seen;
    }
};

std::vector<std::string> walkedScenarios() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(LUMO_SOURCE_DIR) + "/scenarios"))
        if (entry.path().extension() == ".json") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_P(ScenarioPromiseTest, TheJourneyEndsAsTheScenarioSays) {
    const bool hangs = GetParam() == "hanging-startup.json";
    if (hangs) shellTimeLimit = std::chrono::seconds(2);  // every look at the Mac waits this long
    open(lumoraJava(), GetParam(), /*asLiveMac=*/true);
    const auto scenario = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + GetParam());
    ASSERT_TRUE(scenario && scenario->expect);
    const ScenarioExpectation seen = walk();
    const ScenarioExpectation& expected = *scenario->expect;
    EXPECT_EQ(seen.diagnosis, expected.diagnosis);
    EXPECT_EQ(seen.fix, expected.fix);
    EXPECT_EQ(seen.verdict, expected.verdict);
    EXPECT_EQ(seen.audit.commandLineTools, expected.audit.commandLineTools) << "Command Line Tools";
    EXPECT_EQ(seen.audit.homebrew, expected.audit.homebrew) << "Homebrew";
    EXPECT_EQ(seen.audit.warp, expected.audit.warp) << "Warp";
    if (GetParam() == "no-jdk.json") {  // the whole road, once
        EXPECT_EQ(recorder.names(),
                  (std::vector<std::string>{"consent_given", "app_launched", "goal_selected", "diagnosis_reached",
                                            "chooser_shown", "remediation_applied", "remediation_completed",
                                            "verify_passed", "verify_offered_followup", "next_step_selected",
                                            "audit_reached",
                                            "audit_stage_outcome", "remediation_applied", "remediation_completed",
                                            "audit_stage_outcome", "remediation_applied", "remediation_completed"}));
        EXPECT_EQ(text(recorder.nth("remediation_applied", 1).at("remediation_id")), "homebrew");
        EXPECT_EQ(text(recorder.nth("remediation_applied", 2).at("method")), "brew");
    }
    if (hangs) {
        EXPECT_NE(text(recorder.nth("diagnosis_reached").at("reason")).find("took longer than 2 seconds to start"),
                  std::string::npos);
    }
    if (GetParam() == "sdkman-no-homebrew.json") {  // installed by SDKMAN's own identifier
        const auto runs = runner->invocations();
        EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const std::vector<std::string>& argv) {
            return argv.back().find("sdk install java \"25.0.1-tem\" </dev/null") != std::string::npos;
        }));
    }
    // The Intel bundle replaced by the native one; a translated app installs the machine's build.
    if (GetParam() == "x86-jdk-apple-silicon.json" || GetParam() == "translated-app-no-jdk.json") {
        const auto jdks = SystemProfiler(services, [](const std::string&) {}).profile().javaState.installedJDKs;
        ASSERT_EQ(jdks.size(), 1u);
        EXPECT_EQ(jdks[0].architecture, "arm64");
        if (scenario->translated) {
            EXPECT_TRUE(services.fs->fileExists("/opt/homebrew/bin/brew"));  // not Intel's /usr/local
        }
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
