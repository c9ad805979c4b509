#include "screens/DiagnoseViewModel.h"

#include "config/ProductConfig.h"
#include "telemetry/HomePath.h"

namespace lumo {

// --- DiagnoseViewModel

void DiagnoseViewModel::setState(State state) {
    if (state == m_state) return;
    m_state = std::move(state);
    changed();
}

void DiagnoseViewModel::diagnose(const SystemProfile& profile, TelemetrySink* telemetry) {
    const ProductConfig& product = ProductConfig::current();
    Diagnosis diagnosis = product.diagnosisProfile ? product.diagnosisProfile->diagnose(profile.javaState)
                                                   : Diagnosis::unknown("No diagnosis rules are configured.");
    std::optional<Remediation> d2;
    if (diagnosis.kind() == Diagnosis::Case::D2_HomeUnset && diagnosis.detectedJDK()) {
        d2 = homeRemediation(*diagnosis.detectedJDK(), profile);
    }
    // Recorded before the detail appears, so it precedes the detail's own events.
    if (telemetry) telemetry->emit("diagnosis_reached", diagnosisReachedProperties(diagnosis, profile.javaState));
    setState(State::diagnosed(std::move(diagnosis), std::nullopt, std::move(d2)));
}

JSONObject diagnosisReachedProperties(const Diagnosis& diagnosis, const ProbeBundle& bundle) {
    JSONArray jdks;
    for (const JDKInfo& jdk : bundle.installedJDKs) {
        const auto major = javaMajor(jdk);
        jdks.push_back(JSONObject{{"path", shortenHomePaths(jdk.path)},
                                  {"major_version", major},
                                  {"vendor", jdk.vendor.empty() ? JSONValue(nullptr) : JSONValue(jdk.vendor)}});
    }
    int firstMajor = 0;
    if (!bundle.installedJDKs.empty()) firstMajor = javaMajor(bundle.installedJDKs.front()).value_or(0);
    const auto& home = bundle.javaHomeInActiveShell;
    return {{"diagnosis", diagnosis.telemetryID()},
            {"reason", diagnosis.telemetryReason()},
            {"java_major_version", firstMajor},
            {"discovered_jdks", std::move(jdks)},
            {"current_java_home", home && !home->empty() ? JSONValue(shortenHomePaths(*home)) : JSONValue(nullptr)}};
}

// --- DiagnoseFlow

DiagnoseFlow::DiagnoseFlow(Options options) : m_options(std::move(options)) {
    if (!m_options.profileMachine) {
        const AppServices services = m_options.services;
        m_options.profileMachine = [services] {
            // A container without a machine to look at finds nothing.
            if (!services.processRunner || !services.fs) return SystemProfile{};
            return SystemProfiler(services).profile();
        };
    }
    if (!m_options.verify) {
        const AppServices services = m_options.services;
        m_options.verify = [services](std::optional<int> expectedMajor) {
            if (!services.processRunner || !services.fs) return Verifier::Result{"", -1, std::nullopt};
            return Verifier(services).verify(expectedMajor);
        };
    }
}

DiagnoseFlow::~DiagnoseFlow() = default;

const std::optional<SystemProfile>& DiagnoseFlow::workingProfile() const {
    return m_freshProfile ? m_freshProfile : m_options.fallbackProfile;
}

void DiagnoseFlow::runInBackground(std::function<std::function<void()>()> work) {
    if (m_options.background) {
        m_options.background->run(std::move(work));
    } else {
        work()();
    }
}

void DiagnoseFlow::appear() {
    if (m_freshProfile || m_profiling) return;
    if (m_options.services.isFixtureMode && m_options.fallbackProfile) {
        m_freshProfile = m_options.fallbackProfile;
        diagnose();
        return;
    }
    profileThen([](DiagnoseFlow& flow) { flow.diagnose(); });
}

void DiagnoseFlow::profileThen(std::function<void(DiagnoseFlow&)> next) {
    m_profiling = true;
    std::weak_ptr<DiagnoseFlow*> lifetime = m_lifetime;
    auto profileMachine = m_options.profileMachine;
    runInBackground([profileMachine, lifetime, next = std::move(next)]() -> std::function<void()> {
        SystemProfile profile = profileMachine();
        return [lifetime, next, profile = std::move(profile)] {
            auto alive = lifetime.lock();
            if (!alive) return;  // the screen is gone
            DiagnoseFlow& flow = **alive;
            flow.m_profiling = false;
            flow.m_freshProfile = profile;
            next(flow);
        };
    });
}

void DiagnoseFlow::diagnose() {
    if (!m_viewModel.state().is<DiagnoseViewModel::State::Probing>() || !m_freshProfile) return;
    m_viewModel.diagnose(*m_freshProfile, m_options.telemetry);
}

void DiagnoseFlow::start(const Diagnosis& remember, const Remediation& remediation, std::optional<Remediation> d1,
                         std::optional<Remediation> d2, std::optional<int> expectedMajor) {
    m_expectedMajor = expectedMajor;
    m_lastDiagnosis = remember;
    m_lastD1Remediation = std::move(d1);
    m_lastD2Remediation = std::move(d2);
    if (m_options.telemetry) recordRemediationApplied(*m_options.telemetry, remediation);
    m_viewModel.setState(DiagnoseViewModel::State::remediating(remediation));
    setSheet(remediation);
}

void DiagnoseFlow::setSheet(std::optional<Remediation> remediation) {
    m_sheetRemediation = std::move(remediation);
    if (m_onSheetChange) m_onSheetChange();
}

void DiagnoseFlow::remediate(const Remediation& remediation) {
    const auto* diagnosed = m_viewModel.state().as<DiagnoseViewModel::State::Diagnosed>();
    if (!diagnosed) return;
    // The D2 fix points JAVA_HOME at the diagnosis' JDK.
    std::optional<int> expected;
    if (const auto& jdk = diagnosed->diagnosis.detectedJDK()) expected = javaMajor(*jdk);
    start(diagnosed->diagnosis, remediation, diagnosed->d1Remediation, diagnosed->d2Remediation, expected);
}

void DiagnoseFlow::installChosen(int major) {
    const auto* diagnosed = m_viewModel.state().as<DiagnoseViewModel::State::Diagnosed>();
    if (!diagnosed) return;
    const auto kind = diagnosed->diagnosis.kind();
    if (kind != Diagnosis::Case::D1_NoJDK && kind != Diagnosis::Case::D3_LegacyOnly) return;
    const auto& profile = workingProfile();
    if (!profile) return;
    const Remediation fix = installRemediation(major, *profile);
    m_installedMajor = major;
    start(diagnosed->diagnosis, fix, fix, std::nullopt, major);
}

void DiagnoseFlow::keepLegacy() {
    const auto* diagnosed = m_viewModel.state().as<DiagnoseViewModel::State::Diagnosed>();
    if (!diagnosed || diagnosed->diagnosis.kind() != Diagnosis::Case::D3_LegacyOnly ||
        !diagnosed->diagnosis.detectedJDK()) {
        return;
    }
    const auto& profile = workingProfile();
    const Remediation fix = Remediation::keepCurrentLegacyJava(diagnosed->diagnosis.detectedJDK()->path)
                                .inStartupDirectory(profile ? zshStartupDirectory(*profile) : std::string());
    start(diagnosed->diagnosis, fix, std::nullopt, fix, javaMajor(*diagnosed->diagnosis.detectedJDK()));
}

std::string continueOnTitle(const ProductConfig& product) {
    return product.nextStepPrompt ? "Continue" : "Continue to system audit";
}

void DiagnoseFlow::continueOn(const std::optional<Diagnosis>& diagnosis) {
    if (!m_options.navigation) return;
    std::optional<CompletionSurface> surface;
    if (diagnosis) surface = diagnosis->completionSurface();
    journey::diagnoseFinished(*m_options.navigation, ProductConfig::current(), surface);
}

void DiagnoseFlow::finish(const RemediationOutcome& outcome) {
    const std::optional<Remediation> remediation = m_sheetRemediation;
    setSheet(std::nullopt);
    using State = DiagnoseViewModel::State;
    switch (outcome.kind) {
        case RemediationOutcome::Kind::success:
            if (!remediation) return;
            m_viewModel.setState(isToolInstall(*remediation) ? State::completed(outcome.message)
                                                             : State::verifying(*remediation));
            return;
        case RemediationOutcome::Kind::failure: m_viewModel.setState(State::error(outcome.message)); return;
        case RemediationOutcome::Kind::canceled: backToDiagnosis(); return;
    }
}

void DiagnoseFlow::verifyNow() {
    const auto* verifying = m_viewModel.state().as<DiagnoseViewModel::State::Verifying>();
    if (!verifying || m_verifying) return;
    m_verifying = true;
    const Remediation remediation = verifying->remediation;
    std::weak_ptr<DiagnoseFlow*> lifetime = m_lifetime;
    auto verify = m_options.verify;
    runInBackground([verify, lifetime, remediation, expected = m_expectedMajor]() -> std::function<void()> {
        Verifier::Result result = verify(expected);
        return [lifetime, remediation, result = std::move(result)] {
            auto alive = lifetime.lock();
            if (!alive) return;
            DiagnoseFlow& flow = **alive;
            flow.m_verifying = false;
            if (flow.m_options.telemetry)
                recordVerification(*flow.m_options.telemetry, remediation, result,
                                   userShellName(flow.m_options.services.host));
            flow.verified(result);
        };
    });
}

void DiagnoseFlow::verified(const Verifier::Result& result) {
    const auto* verifying = m_viewModel.state().as<DiagnoseViewModel::State::Verifying>();
    if (!verifying) return;
    m_viewModel.setState(DiagnoseViewModel::State::verified(verifying->remediation, result));
}

void DiagnoseFlow::backToDiagnosis() {
    if (!m_lastDiagnosis) return;
    m_viewModel.setState(
        DiagnoseViewModel::State::diagnosed(*m_lastDiagnosis, m_lastD1Remediation, m_lastD2Remediation));
}

void DiagnoseFlow::setJavaHome() {
    if (m_profiling) return;
    profileThen([](DiagnoseFlow& flow) {
        const SystemProfile& profile = *flow.m_freshProfile;
        const auto& jdks = profile.javaState.installedJDKs;
        if (jdks.empty()) {
            flow.continueOn(flow.m_lastDiagnosis);
            return;
        }
        // The JDK of the major just installed; else the first in probe order
        // (not the newest).
        const JDKInfo* jdk = &jdks.front();
        for (const JDKInfo& candidate : jdks) {
            if (flow.m_installedMajor && javaMajor(candidate) == flow.m_installedMajor) {
                jdk = &candidate;
                break;
            }
        }
        const Remediation fix = homeRemediation(*jdk, profile);
        flow.start(Diagnosis::D2_HomeUnset(*jdk), fix, std::nullopt, fix, javaMajor(*jdk));
    });
}

}  // namespace lumo
