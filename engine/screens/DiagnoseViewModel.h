// The diagnose flow: DiagnoseViewModel's state picks the sub-screen, and
// DiagnoseFlow owns every transition between them -- the fresh profile, the
// remembered diagnosis and fixes, the remediation sheet, verification and
// continuing on to the next step or the audit.
//
// Both are confined to the main thread. Profiling and verification block, so
// the flow hands them to a BackgroundWork that runs them on a worker and
// brings their result back to the main thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "diagnosis/Diagnosis.h"
#include "diagnosis/Remediation.h"
#include "platform/AppServices.h"
#include "profiling/SystemProfile.h"
#include "remediation/Verifier.h"
#include "screens/ScreenModel.h"
#include "screens/StreamingRemediationModel.h"
#include "screens/VerifyModels.h"
#include "shell/AppNavigation.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class DiagnoseViewModel : public ScreenModel {
public:
    struct State {
        struct Diagnosed {
            Diagnosis diagnosis;
            std::optional<Remediation> d1Remediation;
            std::optional<Remediation> d2Remediation;
            friend bool operator==(const Diagnosed&, const Diagnosed&) = default;
        };
        struct Remediating {
            Remediation remediation;
            friend bool operator==(const Remediating&, const Remediating&) = default;
        };
        struct Verifying {
            Remediation remediation;
            friend bool operator==(const Verifying&, const Verifying&) = default;
        };
        struct Verified {
            Remediation remediation;
            Verifier::Result result;
            friend bool operator==(const Verified&, const Verified&) = default;
        };
        struct Completed {
            std::string message;
            friend bool operator==(const Completed&, const Completed&) = default;
        };
        struct Error {
            std::string message;
            friend bool operator==(const Error&, const Error&) = default;
        };
        struct Probing {
            friend bool operator==(const Probing&, const Probing&) = default;
        };

        std::variant<Diagnosed, Remediating, Verifying, Verified, Completed, Error, Probing> value = Probing{};

        static State diagnosed(Diagnosis d, std::optional<Remediation> d1, std::optional<Remediation> d2) {
            return {Diagnosed{std::move(d), std::move(d1), std::move(d2)}};
        }
        static State remediating(Remediation r) { return {Remediating{std::move(r)}}; }
        static State verifying(Remediation r) { return {Verifying{std::move(r)}}; }
        static State verified(Remediation r, Verifier::Result result) {
            return {Verified{std::move(r), std::move(result)}};
        }
        static State completed(std::string message) { return {Completed{std::move(message)}}; }
        static State error(std::string message) { return {Error{std::move(message)}}; }
        static State probing() { return {Probing{}}; }

        template <class Case>
        const Case* as() const {
            return std::get_if<Case>(&value);
        }
        template <class Case>
        bool is() const {
            return std::holds_alternative<Case>(value);
        }
        friend bool operator==(const State&, const State&) = default;
    };

    const State& state() const { return m_state; }
    // Observers hear only about a different value.
    void setState(State state);

    // Diagnoses `profile` with the current product's rules, enters diagnosed
    // (with the JAVA_HOME fix for D2) and records "diagnosis_reached".
    void diagnose(const SystemProfile& profile, TelemetrySink* telemetry);

private:
    State m_state;
};

// The label of the way on from a diagnosis, a verdict or a completed fix,
// named for where it leads: "Continue to system audit" when it opens the
// audit, "Continue" when the product asks its next-step question first.
std::string continueOnTitle(const ProductConfig& product);

// The properties of "diagnosis_reached" for `diagnosis` of `bundle`.
JSONObject diagnosisReachedProperties(const Diagnosis& diagnosis, const ProbeBundle& bundle);

// Runs blocking work off the main thread; `work` returns what to run back on
// the main thread afterwards.
class BackgroundWork {
public:
    virtual ~BackgroundWork() = default;
    virtual void run(std::function<std::function<void()>()> work) = 0;
};

class DiagnoseFlow {
public:
    struct Options {
        AppNavigation* navigation = nullptr;
        AppServices services;
        TelemetrySink* telemetry = nullptr;
        std::optional<SystemProfile> fallbackProfile;
        BackgroundWork* background = nullptr;
        // Builds a profile; runs on a worker. Defaults to the system profiler.
        std::function<SystemProfile()> profileMachine;
        // Runs the verifier for the Java major the fix installed or chose
        // (nothing when not known); runs on a worker. Defaults to Verifier
        // over the services.
        std::function<Verifier::Result(std::optional<int> expectedMajor)> verify;
    };

    explicit DiagnoseFlow(Options options);
    ~DiagnoseFlow();
    DiagnoseFlow(const DiagnoseFlow&) = delete;
    DiagnoseFlow& operator=(const DiagnoseFlow&) = delete;

    DiagnoseViewModel& viewModel() { return m_viewModel; }
    const DiagnoseViewModel& viewModel() const { return m_viewModel; }
    const std::optional<SystemProfile>& freshProfile() const { return m_freshProfile; }
    const std::optional<Remediation>& sheetRemediation() const { return m_sheetRemediation; }
    const std::optional<Diagnosis>& lastDiagnosis() const { return m_lastDiagnosis; }
    const std::optional<Remediation>& lastD1Remediation() const { return m_lastD1Remediation; }
    const std::optional<Remediation>& lastD2Remediation() const { return m_lastD2Remediation; }
    // The Java major the running or last fix installs or points JAVA_HOME at.
    const std::optional<int>& expectedMajor() const { return m_expectedMajor; }
    // freshProfile, else the fallback.
    const std::optional<SystemProfile>& workingProfile() const;

    // Called when the sheet should open or close.
    void setOnSheetChange(std::function<void()> onSheetChange) { m_onSheetChange = std::move(onSheetChange); }

    // The screen appeared.
    void appear();

    // The detail's actions.
    void remediate(const Remediation& remediation);
    void installChosen(int major);
    void keepLegacy();
    void continueOn(const std::optional<Diagnosis>& diagnosis);
    // The sheet's one outcome.
    void finish(const RemediationOutcome& outcome);
    // The verify scaffold appeared: verify once, then verified.
    void verifyNow();
    void verified(const Verifier::Result& result);
    // The verify result's and error's Back.
    void backToDiagnosis();
    // The verify result's "Set JAVA_HOME (recommended)".
    void setJavaHome();

private:
    void diagnose();
    void start(const Diagnosis& remember, const Remediation& remediation, std::optional<Remediation> d1,
               std::optional<Remediation> d2, std::optional<int> expectedMajor);
    void setSheet(std::optional<Remediation> remediation);
    void runInBackground(std::function<std::function<void()>()> work);
    // Takes a fresh profile on a worker, stores it, then runs `next` on the main thread.
    void profileThen(std::function<void(DiagnoseFlow&)> next);

    Options m_options;
    DiagnoseViewModel m_viewModel;
    std::optional<SystemProfile> m_freshProfile;
    std::optional<Remediation> m_sheetRemediation;
    std::optional<Diagnosis> m_lastDiagnosis;
    std::optional<Remediation> m_lastD1Remediation;
    std::optional<Remediation> m_lastD2Remediation;
    std::optional<int> m_expectedMajor;
    // The major of the last Java install, so "Set JAVA_HOME" points at that JDK.
    std::optional<int> m_installedMajor;
    std::function<void()> m_onSheetChange;
    bool m_profiling = false;
    bool m_verifying = false;
    // Work coming back after the flow is gone does nothing.
    std::shared_ptr<DiagnoseFlow*> m_lifetime = std::make_shared<DiagnoseFlow*>(this);
};

}  // namespace lumo
