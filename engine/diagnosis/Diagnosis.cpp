#include "diagnosis/Diagnosis.h"

#include <vector>

namespace lumo {

std::optional<int> javaMajor(const JDKInfo& jdk) { return majorVersion(wrappedVersion(jdk.version)); }

namespace {

// The JDK of highest major in `jdks` (no major counts as -1); the earlier one
// wins a tie. `jdks` is never empty here.
const JDKInfo& highestMajor(const std::vector<const JDKInfo*>& jdks) {
    const JDKInfo* best = jdks.front();
    int bestMajor = javaMajor(*best).value_or(-1);
    for (const JDKInfo* jdk : jdks) {
        const int major = javaMajor(*jdk).value_or(-1);
        if (major > bestMajor) {
            best = jdk;
            bestMajor = major;
        }
    }
    return *best;
}

std::string majorOrVersion(const JDKInfo& jdk) {
    const auto major = javaMajor(jdk);
    return major ? std::to_string(*major) : jdk.version;
}

}  // namespace

Diagnosis JavaProfile::diagnose(const ProbeBundle& bundle) const {
    if (bundle.installedJDKs.empty()) {
        if (bundle.jvmDirContents.empty()) return Diagnosis::D1_NoJDK();
        std::string entries;
        for (const std::string& entry : bundle.jvmDirContents) {
            if (!entries.empty()) entries += ", ";
            entries += entry;
        }
        return Diagnosis::unknown("JavaVirtualMachines directory has entries (" + entries +
                                  ") but /usr/libexec/java_home couldn't parse any JDKs — possible malformed install.");
    }

    std::vector<const JDKInfo*> installed;
    std::vector<const JDKInfo*> modern;
    for (const JDKInfo& jdk : bundle.installedJDKs) {
        installed.push_back(&jdk);
        const auto major = javaMajor(jdk);
        if (major && *major >= kMinimumModernJavaMajor) modern.push_back(&jdk);
    }
    if (modern.empty()) return Diagnosis::D3_LegacyOnly(highestMajor(installed));

    if (bundle.javaHomeInActiveShell) {
        // Plain string equality: a trailing "/" or a symlink is not the same home.
        for (const JDKInfo* jdk : modern) {
            if (jdk->path == *bundle.javaHomeInActiveShell) return Diagnosis::D4_ModernHomeSet(*jdk);
        }
    }
    return Diagnosis::D2_HomeUnset(highestMajor(modern));
}

std::string Diagnosis::headline() const {
    switch (m_case) {
        case Case::D1_NoJDK: return "Java is not installed";
        case Case::D2_HomeUnset: return "JAVA_HOME isn't set";
        case Case::D3_LegacyOnly: return "Java is installed, but it's too old";
        case Case::D4_ModernHomeSet: return "Java is set up correctly";
        case Case::noErrorsFound: return "Java is installed";
        case Case::unknown: return "Couldn't auto-diagnose";
    }
    return "Couldn't auto-diagnose";
}

std::string Diagnosis::explanation() const {
    const std::string recommended = std::to_string(kRecommendedJavaMajor);
    switch (m_case) {
        case Case::D1_NoJDK:
            return "Java is not installed on this Mac. We'll install Eclipse Temurin (a free, well-maintained Java "
                   "distribution) for you. Java " +
                   recommended +
                   " is the current LTS and a good default; if you work or study somewhere that uses a specific Java "
                   "version, check with your team before choosing.";
        case Case::D2_HomeUnset: {
            const JDKInfo& jdk = *m_detectedJDK;
            return "Java " + jdk.version + " (" + jdk.vendor + ", " + jdk.architecture + ") is installed at " +
                   jdk.path +
                   ", but JAVA_HOME isn't set in your shell. Many build tools (Maven, Gradle, some IDE plugins) "
                   "depend on JAVA_HOME pointing at the Java installation.";
        }
        case Case::D3_LegacyOnly: {
            const JDKInfo& jdk = *m_detectedJDK;
            return "We found Java " + majorOrVersion(jdk) + " on your Mac (at `" + jdk.path +
                   "`). Most modern Java software requires Java " + std::to_string(kMinimumModernJavaMajor) +
                   " or newer. We recommend Java " + recommended +
                   " if you have no specific requirement; if you work or study somewhere that uses a specific Java "
                   "version, check with your team before choosing.";
        }
        case Case::D4_ModernHomeSet: {
            const JDKInfo& jdk = *m_detectedJDK;
            return "Java " + majorOrVersion(jdk) + " is installed at " + jdk.path +
                   ", and JAVA_HOME is pointing at it. Nothing to fix.";
        }
        case Case::noErrorsFound: return "Java is installed and JAVA_HOME is set. Let us know if we should do more.";
        case Case::unknown: return m_reason;
    }
    return m_reason;
}

std::string Diagnosis::telemetryID() const {
    switch (m_case) {
        case Case::D1_NoJDK: return "D1_NoJDK";
        case Case::D2_HomeUnset: return "D2_HomeUnset";
        case Case::D3_LegacyOnly: return "D3_LegacyOnly";
        case Case::D4_ModernHomeSet: return "D4_ModernHomeSet";
        case Case::noErrorsFound: return "no_errors_found";
        case Case::unknown: return "unknown";
    }
    return "unknown";
}

std::string Diagnosis::telemetryReason() const {
    switch (m_case) {
        case Case::D1_NoJDK: return "no JDK installed";
        case Case::D2_HomeUnset: return "JDK installed, JAVA_HOME unset";
        case Case::D3_LegacyOnly: return "only legacy JDK installed";
        case Case::D4_ModernHomeSet: return "modern JDK installed, JAVA_HOME set";
        case Case::noErrorsFound: return "JDK installed, JAVA_HOME set";
        case Case::unknown: return prefixCharacters(m_reason, 120);
    }
    return prefixCharacters(m_reason, 120);
}

CompletionSurface Diagnosis::completionSurface() const {
    switch (m_case) {
        case Case::D1_NoJDK:
        case Case::D2_HomeUnset:
        case Case::D3_LegacyOnly: return prompt(BuildIntentSurface::postFix);
        case Case::D4_ModernHomeSet: return prompt(BuildIntentSurface::modernHomeSet);
        case Case::noErrorsFound: return prompt(BuildIntentSurface::noErrorsFound);
        case Case::unknown: return CompletionSurface::excluded;
    }
    return CompletionSurface::excluded;
}

std::string prefixCharacters(const std::string& text, std::size_t maxCharacters) {
    std::size_t index = 0;
    std::size_t count = 0;
    while (index < text.size() && count < maxCharacters) {
        const auto lead = static_cast<unsigned char>(text[index]);
        std::size_t length = 1;
        if (lead >= 0xF0 && lead <= 0xF4)
            length = 4;
        else if (lead >= 0xE0)
            length = lead <= 0xEF ? 3 : 1;
        else if (lead >= 0xC2)
            length = 2;
        // Only a complete sequence of continuation bytes makes one character.
        if (length > 1) {
            if (index + length > text.size()) length = 1;
            for (std::size_t k = 1; k < length; ++k) {
                if ((static_cast<unsigned char>(text[index + k]) & 0xC0) != 0x80) {
                    length = 1;
                    break;
                }
            }
        }
        index += length;
        ++count;
    }
    return text.substr(0, index);
}

std::string rawValue(BuildIntentSurface surface) {
    switch (surface) {
        case BuildIntentSurface::postFix: return "post_fix";
        case BuildIntentSurface::modernHomeSet: return "modern_home_set";
        case BuildIntentSurface::noErrorsFound: return "no_errors_found";
    }
    return "post_fix";
}

std::optional<BuildIntentSurface> buildIntentSurfaceFromRawValue(const std::string& raw) {
    if (raw == "post_fix") return BuildIntentSurface::postFix;
    if (raw == "modern_home_set") return BuildIntentSurface::modernHomeSet;
    if (raw == "no_errors_found") return BuildIntentSurface::noErrorsFound;
    return std::nullopt;
}

}  // namespace lumo
