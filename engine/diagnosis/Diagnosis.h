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

// Where the Terminal's JAVA_HOME points when it names no modern JDK.
struct JavaHomeTarget {
    std::string path;          // JAVA_HOME as the shell has it
    bool isJDK = false;        // an executable bin/java is there
    std::optional<int> major;  // that Java's major, when it could be read

    friend bool operator==(const JavaHomeTarget&, const JavaHomeTarget&) = default;
};

class Diagnosis {
public:
    // Cases in declaration order.
    enum class Case { D2_HomeUnset, D3_LegacyOnly, D4_ModernHomeSet, unknown, D1_NoJDK, noErrorsFound };

    // A modern JDK is installed but a new Terminal window's JAVA_HOME names
    // none: it is unset, or points at `javaHome`.
    static Diagnosis D2_HomeUnset(JDKInfo detectedJDK, std::optional<JavaHomeTarget> javaHome = std::nullopt) {
        return {Case::D2_HomeUnset, std::move(detectedJDK), {}, std::move(javaHome)};
    }
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
    // Where JAVA_HOME points, for a D2 whose JAVA_HOME is set.
    const std::optional<JavaHomeTarget>& javaHome() const { return m_javaHome; }
    // One more sentence after the explanation (how the Terminal and the Dock
    // see JAVA_HOME differently); empty when there is none.
    const std::string& note() const { return m_note; }
    Diagnosis withNote(std::string note) const {
        Diagnosis noted = *this;
        noted.m_note = std::move(note);
        return noted;
    }

    std::string headline() const;
    std::string explanation() const;
    // What the "diagnosis_reached" event carries.
    std::string telemetryID() const;
    std::string telemetryReason() const;
    // How the staged audit ends after this diagnosis.
    CompletionSurface completionSurface() const;

    friend bool operator==(const Diagnosis&, const Diagnosis&) = default;

private:
    Diagnosis(Case c, std::optional<JDKInfo> jdk, std::string reason, std::optional<JavaHomeTarget> javaHome = {})
        : m_case(c), m_detectedJDK(std::move(jdk)), m_reason(std::move(reason)), m_javaHome(std::move(javaHome)) {}

    Case m_case;
    std::optional<JDKInfo> m_detectedJDK;
    std::string m_reason;
    std::optional<JavaHomeTarget> m_javaHome;
    std::string m_note;
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

// "Terminal sees JAVA_HOME as …; apps started from the Dock see …, because it
// is set in ~/.zshrc." -- when a new Terminal window and the Dock's login
// shell see JAVA_HOME differently; nothing when they agree or one of them
// could not be read.
std::optional<std::string> shellViewsSentence(const ProbeBundle& bundle);

// `text` cut to its first `maxCharacters` characters (UTF-8 code points; a
// stray byte counts as one), never inside a multi-byte character.
std::string prefixCharacters(const std::string& text, std::size_t maxCharacters);

}  // namespace lumo
