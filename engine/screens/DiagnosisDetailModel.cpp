#include "screens/DiagnosisDetailModel.h"

#include "config/ProductConfig.h"
#include "profiling/JDKDiscovery.h"
#include "profiling/MachineArchitecture.h"
#include "screens/VerifyModels.h"
#include "shell/Preferences.h"

namespace lumo {

JavaVersionChoice javaVersionChoice(int major) {
    JavaVersionChoice choice{major, "Java " + std::to_string(major), {}};
    switch (major) {
        case 25:
            choice.label += " (recommended)";
            choice.description = "Current LTS (long-term support). Recommended for most users.";
            break;
        case 21:
            choice.description = "Previous LTS, good until 2031. Used in some workplaces and university courses.";
            break;
        case 17:
            choice.description = "Older LTS, good until 2029. Used in some workplaces and university courses.";
            break;
        default: break;
    }
    return choice;
}

std::vector<JavaVersionChoice> javaVersionChoices() {
    std::vector<JavaVersionChoice> choices;
    for (int major : kOfferedJavaMajors) choices.push_back(javaVersionChoice(major));
    return choices;
}

std::string jdkSourceName(const std::string& source) {
    if (source == jdk_source::kSystem) return "macOS (system-wide)";
    if (source == jdk_source::kHomebrew) return "Homebrew";
    if (source == jdk_source::kSDKMAN) return "SDKMAN";
    if (source == jdk_source::kMise) return "Mise";
    if (source == jdk_source::kAsdf) return "asdf";
    if (source == jdk_source::kJenv) return "jEnv";
    return {};
}

JDKFacts jdkFacts(const Diagnosis& diagnosis, const std::optional<SystemProfile>& profile) {
    JDKFacts facts;
    const auto& jdk = diagnosis.detectedJDK();
    if (!jdk) return facts;
    if (const std::string name = jdkSourceName(jdk->source); !name.empty()) facts.source = "Source: " + name;
    if (!profile || profile->architecture != Architecture::appleSilicon || !runsOnlyUnderRosetta(*jdk, kArm64))
        return facts;
    facts.rosettaWarning =
        "This Java is built for Intel Macs: on this Apple silicon Mac it runs only under Rosetta, more slowly. " +
        std::string(profile->rosettaInstalled ? "Rosetta is installed."
                                              : "Rosetta isn't installed, so this Java doesn't run at all yet.");
    if (diagnosis.kind() == Diagnosis::Case::D3_LegacyOnly) return facts;
    if (const auto major = nativeBuildMajor(*jdk, *profile)) {
        facts.nativeBuild = installRemediation(*major, *profile);
        facts.nativeTitle = "Install the Apple silicon build of Java " + std::to_string(*major);
    }
    return facts;
}

DiagnosisDetailModel::DiagnosisDetailModel(Diagnosis diagnosis, std::optional<Remediation> d1Remediation,
                                           std::optional<Remediation> d2Remediation, Callbacks callbacks,
                                           const KeyValueStoring& preferences, TelemetrySink* telemetry, JDKFacts facts,
                                           std::string userShellName, ScoreCardSession* scoreCards)
    : m_diagnosis(std::move(diagnosis)),
      m_d1Remediation(std::move(d1Remediation)),
      m_d2Remediation(std::move(d2Remediation)),
      m_callbacks(std::move(callbacks)),
      m_telemetry(telemetry),
      m_facts(std::move(facts)),
      m_userShellName(std::move(userShellName)),
      m_scoreCards(scoreCards) {
    m_showNPSOnNoErrors = !preferences.boolean(preference_keys::npsSubmitted(ProductConfig::current())) &&
                          !(m_scoreCards && m_scoreCards->asked);
}

DiagnosisDetailModel::Layout DiagnosisDetailModel::layout() const {
    switch (m_diagnosis.kind()) {
        case Diagnosis::Case::D1_NoJDK: return Layout::noJDK;
        case Diagnosis::Case::D2_HomeUnset: return Layout::homeUnset;
        case Diagnosis::Case::D3_LegacyOnly: return Layout::legacyOnly;
        case Diagnosis::Case::D4_ModernHomeSet:
        case Diagnosis::Case::noErrorsFound: return Layout::allGood;
        case Diagnosis::Case::unknown: return Layout::unknown;
    }
    return Layout::unknown;
}

std::string DiagnosisDetailModel::chooserContext() const {
    switch (layout()) {
        case Layout::noJDK: return "d1";
        case Layout::legacyOnly: return "d3";
        default: return {};
    }
}

std::optional<std::string> DiagnosisDetailModel::shellNote() const {
    switch (layout()) {
        case Layout::homeUnset:
            if (m_d2Remediation) return unsupportedShellNote(*m_d2Remediation, m_userShellName);
            return std::nullopt;
        case Layout::legacyOnly:
            if (const auto& jdk = m_diagnosis.detectedJDK())
                return unsupportedShellNote(Remediation::keepCurrentLegacyJava(jdk->path), m_userShellName);
            return std::nullopt;
        default: return std::nullopt;
    }
}

void DiagnosisDetailModel::choose(int major) {
    if (layout() == Layout::legacyOnly) {
        m_d3ChosenMajor = major;
    } else {
        m_d1ChosenMajor = major;
    }
    changed();
}

void DiagnosisDetailModel::appeared() {
    if (!m_telemetry) return;
    const std::string context = chooserContext();
    if (!context.empty())
        m_telemetry->emit("chooser_shown", {{"screen", context}, {"default_offered", kRecommendedJavaMajor}});
    if (layout() == Layout::allGood && m_showNPSOnNoErrors && !m_didEmitNPSShownOnNoErrors) {
        m_didEmitNPSShownOnNoErrors = true;
        if (m_scoreCards) m_scoreCards->asked = true;
        m_telemetry->emit("nps_shown", {});
    }
}

void DiagnosisDetailModel::npsSubmitted() {
    m_didSubmitNPSOnNoErrors = true;
    changed();
}

void DiagnosisDetailModel::install() {
    if (m_callbacks.onInstallChosen) m_callbacks.onInstallChosen(chosenMajor());
}

void DiagnosisDetailModel::installNativeBuild() {
    if (m_facts.nativeBuild && m_callbacks.onRemediate) m_callbacks.onRemediate(*m_facts.nativeBuild);
}

void DiagnosisDetailModel::remediate() {
    if (m_d2Remediation && m_callbacks.onRemediate) m_callbacks.onRemediate(*m_d2Remediation);
}

void DiagnosisDetailModel::keepLegacy() {
    if (m_callbacks.onKeepLegacy) m_callbacks.onKeepLegacy();
}

void DiagnosisDetailModel::continueOn() {
    if (m_callbacks.onContinue) m_callbacks.onContinue();
}

}  // namespace lumo
