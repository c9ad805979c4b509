// Diagnosis: the one verdict on a Mac's Java setup, with its copy and its
// telemetry identity, and the product-specific rules that reach it.
//
//   Diagnosis d = ProductConfig::current().diagnosisProfile->diagnose(profile.javaState);
//   switch (d.kind()) { case Diagnosis::Case::D2_HomeUnset: ... }
//   d.headline(); d.explanation(); d.telemetryID(); d.completionSurface();
#pragma once

#include <optional>
#include <string>

#include "diagnosis/CompletionSurface.h"
#include "profiling/Probes.h"

namespace lumo {

// A JDK is modern from this major on; quoted in the legacy copy.
inline constexpr int kMinimumModernJavaMajor = 21;
// The current LTS, recommended in the copy.
inline constexpr int kRecommendedJavaMajor = 25;

// The major of a JDK as the diagnosis sees it: majorVersion() of its wrapped
// version string; nothing when the version has none.
std::optional<int> javaMajor(const JDKInfo& jdk);

class Diagnosis {
public:
    // Cases in declaration order.
    enum class Case { D2_HomeUnset, D3_LegacyOnly, D4_ModernHomeSet, unknown, D1_NoJDK, noErrorsFound };

    // A modern JDK is installed but the login shell's JAVA_HOME names none.
    static Diagnosis D2_HomeUnset(JDKInfo detectedJDK) { return {Case::D2_HomeUnset, std::move(detectedJDK), {}}; }
    // JDKs are installed, none of them modern.
    static Diagnosis D3_LegacyOnly(JDKInfo detectedJDK) { return {Case::D3_LegacyOnly, std::move(detectedJDK), {}}; }
    // A modern JDK is installed and JAVA_HOME is exactly its home.
    static Diagnosis D4_ModernHomeSet(JDKInfo detectedJDK) {
        return {Case::D4_ModernHomeSet, std::move(detectedJDK), {}};
    }
    // The state could not be classified; `reason` is shown to the user.
    static Diagnosis unknown(std::string reason) { return {Case::unknown, std::nullopt, std::move(reason)}; }
    static Diagnosis D1_NoJDK() { return {Case::D1_NoJDK, std::nullopt, {}}; }
    // Everything is in order (no Java rule returns it; fixtures and other profiles may).
    static Diagnosis noErrorsFound() { return {Case::noErrorsFound, std::nullopt, {}}; }

    Case kind() const { return m_case; }
    // The JDK of D2, D3 and D4; nothing otherwise.
    const std::optional<JDKInfo>& detectedJDK() const { return m_detectedJDK; }
    // The reason of `unknown`; empty otherwise.
    const std::string& reason() const { return m_reason; }

    std::string headline() const;
    std::string explanation() const;
    // What the "diagnosis_reached" event carries.
    std::string telemetryID() const;
    std::string telemetryReason() const;
    // How the staged audit ends after this diagnosis.
    CompletionSurface completionSurface() const;

    friend bool operator==(const Diagnosis&, const Diagnosis&) = default;

private:
    Diagnosis(Case c, std::optional<JDKInfo> jdk, std::string reason)
        : m_case(c), m_detectedJDK(std::move(jdk)), m_reason(std::move(reason)) {}

    Case m_case;
    std::optional<JDKInfo> m_detectedJDK;
    std::string m_reason;
};

// A product's diagnosis rules. Pure: no I/O, no side effects.
class DiagnosisProfile {
public:
    virtual ~DiagnosisProfile() = default;
    virtual Diagnosis diagnose(const ProbeBundle& bundle) const = 0;
};

// The Java rules.
class JavaProfile final : public DiagnosisProfile {
public:
    Diagnosis diagnose(const ProbeBundle& bundle) const override;
};

// `text` cut to its first `maxCharacters` characters (UTF-8 code points; a
// stray byte counts as one), never inside a multi-byte character.
std::string prefixCharacters(const std::string& text, std::size_t maxCharacters);

}  // namespace lumo
