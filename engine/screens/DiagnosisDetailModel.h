// The diagnosis detail: which layout a diagnosis gets, the Java version
// chooser's rows and selections, and the events the page records. It raises
// callbacks; the diagnose flow owns every transition.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/Diagnosis.h"
#include "diagnosis/Remediation.h"
#include "platform/KeyValueStoring.h"
#include "profiling/SystemProfile.h"
#include "screens/NPSFeedbackModel.h"
#include "screens/ScreenModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

struct JavaVersionChoice {
    int major = 0;
    std::string label;        // "Java 25 (recommended)"
    std::string description;  // empty for a major outside the table
};

// The rows of the chooser, top to bottom: 25, 21, 17.
std::vector<JavaVersionChoice> javaVersionChoices();
JavaVersionChoice javaVersionChoice(int major);

// What the detail tells about the diagnosed JDK besides the diagnosis' copy.
struct JDKFacts {
    std::string source;          // "Source: SDKMAN"; empty without a JDK or a known source
    std::string rosettaWarning;  // set for an Intel-only JDK on Apple silicon
    // The install of the native (arm64) build the page offers beside the
    // JAVA_HOME fix or the all-good page, with its button title ("Install the
    // Apple silicon build of Java 21"). The too-old page offers installs anyway.
    std::optional<Remediation> nativeBuild;
    std::string nativeTitle;
    friend bool operator==(const JDKFacts&, const JDKFacts&) = default;
};

// "macOS (system-wide)", "Homebrew", "SDKMAN", "Mise", "asdf", "jEnv"; empty
// for an unknown source.
std::string jdkSourceName(const std::string& source);

// The facts for the JDK `diagnosis` names, judged against the Mac of
// `profile` (without a profile: the source only).
JDKFacts jdkFacts(const Diagnosis& diagnosis, const std::optional<SystemProfile>& profile);

class DiagnosisDetailModel : public ScreenModel {
public:
    enum class Layout { noJDK, homeUnset, legacyOnly, allGood, unknown };

    struct Callbacks {
        std::function<void(const Remediation&)> onRemediate;
        std::function<void(int)> onInstallChosen;
        std::function<void()> onKeepLegacy;
        std::function<void()> onContinue;
    };

    // An inert detail (shown under the remediation sheet) has no callbacks.
    // `userShellName` is the account's login shell ("zsh", "bash"...; empty when unknown).
    // The score card shows unless a score was ever submitted or a page of
    // this window (`scoreCards`) already asked.
    DiagnosisDetailModel(Diagnosis diagnosis, std::optional<Remediation> d1Remediation,
                         std::optional<Remediation> d2Remediation, Callbacks callbacks,
                         const KeyValueStoring& preferences, TelemetrySink* telemetry, JDKFacts facts = {},
                         std::string userShellName = {}, ScoreCardSession* scoreCards = nullptr);

    const Diagnosis& diagnosis() const { return m_diagnosis; }
    const JDKFacts& facts() const { return m_facts; }
    const std::optional<Remediation>& d2Remediation() const { return m_d2Remediation; }
    Layout layout() const;
    // "d1" or "d3" for the chooser layouts; empty otherwise.
    std::string chooserContext() const;
    // What the page's zsh-only fix (the JAVA_HOME fix, or keeping a legacy
    // Java) cannot do yet for a user of another shell; nothing otherwise.
    std::optional<std::string> shellNote() const;

    int d1ChosenMajor() const { return m_d1ChosenMajor; }
    int d3ChosenMajor() const { return m_d3ChosenMajor; }
    int chosenMajor() const { return layout() == Layout::legacyOnly ? m_d3ChosenMajor : m_d1ChosenMajor; }
    void choose(int major);
    // "Install Java " + the chosen major.
    std::string installTitle() const { return "Install Java " + std::to_string(chosenMajor()); }

    bool showNPSOnNoErrors() const { return m_showNPSOnNoErrors; }
    bool didSubmitNPS() const { return m_didSubmitNPSOnNoErrors; }

    // The page appeared: "chooser_shown" for D1 and D3, "nps_shown" the first
    // time the score card shows.
    void appeared();
    void npsSubmitted();

    void install();
    // Starts the native build's install the facts offer (through onRemediate).
    void installNativeBuild();
    void remediate();
    void keepLegacy();
    void continueOn();

private:
    Diagnosis m_diagnosis;
    std::optional<Remediation> m_d1Remediation;
    std::optional<Remediation> m_d2Remediation;
    Callbacks m_callbacks;
    TelemetrySink* m_telemetry;
    JDKFacts m_facts;
    std::string m_userShellName;
    ScoreCardSession* m_scoreCards;
    int m_d1ChosenMajor = kRecommendedJavaMajor;
    int m_d3ChosenMajor = kRecommendedJavaMajor;
    bool m_showNPSOnNoErrors = true;
    bool m_didEmitNPSShownOnNoErrors = false;
    bool m_didSubmitNPSOnNoErrors = false;
};

}  // namespace lumo
