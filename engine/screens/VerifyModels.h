// The verify screens around a fix: the verdict on a fresh login shell's
// `java -version` and JAVA_HOME, what the result page shows for it, and the
// verification events.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "diagnosis/Remediation.h"
#include "platform/HostInfo.h"
#include "remediation/Verifier.h"
#include "telemetry/JSONValue.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// writeJavaHomeToZprofile, the three set-JAVA_HOME fixes and keepCurrentLegacyJava;
// every other fix installs something.
bool isConfigurationFix(const Remediation& remediation);

// Fixes that set Java up through zsh's start-up files (~/.zprofile, or the
// ~/.zshrc activation lines of mise and jEnv).
bool changesZshStartupOnly(const Remediation& remediation);

// For a user whose login shell is not zsh (`userShellName` "bash", "fish",
// "tcsh"...; empty when unknown), what such a fix cannot do for them yet;
// nothing for any other fix or shell.
std::optional<std::string> unsupportedShellNote(const Remediation& remediation, const std::string& userShellName);

// The name of the account's login shell ("zsh", "fish"); empty when unknown.
std::string userShellName(const HostInfo& host);

// The first line of `output` that contains `version "` (empty lines skipped),
// else the first line, else empty; cut to 200 characters.
std::string javaVersionExcerpt(const std::string& output);

struct VerifyVerdict {
    enum class Kind { passed, needsJavaHome, failed };

    Kind kind = Kind::failed;
    bool passed = false;  // what the output box says ("verify-result-pass" / "-fail")
    std::string title;
    std::string explainer;
    std::string javaVersionText;               // the output, or "(no output)"
    std::string javaHomeText;                  // JAVA_HOME, or "(unset)"
    std::optional<std::string> legacyWarning;  // keepCurrentLegacyJava when passed
    std::optional<std::string> failureDetail;  // what failed, naming the start-up file where it can
    std::optional<std::string> shellNote;      // a zsh-only fix for a user of another shell

    // A zsh-only fix for a user of another shell never counts as passed.
    static VerifyVerdict of(const Remediation& remediation, const Verifier::Result& result,
                            const std::string& userShellName = {});
};

// The event recorded once verification is done, with its properties.
std::pair<std::string, JSONObject> verificationEvent(const Remediation& remediation, const Verifier::Result& result,
                                                     const std::string& userShellName = {});

// Verification runs once per appearance of the verify scaffold: the event is
// recorded and the result handed on.
void recordVerification(TelemetrySink& telemetry, const Remediation& remediation, const Verifier::Result& result,
                        const std::string& userShellName = {});

// "verify_offered_followup", when the needs-JAVA_HOME actions appear.
void recordFollowUpOffered(TelemetrySink& telemetry, const Remediation& remediation);

}  // namespace lumo
