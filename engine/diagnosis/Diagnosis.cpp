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

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A JDK's identity: its home with every symbolic link followed, as discovery
// resolved it; else its path as written, less a trailing "/".
std::string identity(const JDKInfo& jdk) {
    return withoutTrailingSlashes(jdk.resolvedPath.empty() ? jdk.path : jdk.resolvedPath);
}

// The Terminal's JAVA_HOME the same way, as its view resolved it on disk.
std::string javaHomeIdentity(const ShellView& view, const std::string& javaHome) {
    return withoutTrailingSlashes(view.javaHomeResolved ? *view.javaHomeResolved : javaHome);
}

// The last start-up file that sets JAVA_HOME and that only a Terminal window reads.
std::optional<std::string> terminalOnlyJavaHomeFile(const ShellStartup& startup) {
    for (auto file = startup.javaHomeFiles.rbegin(); file != startup.javaHomeFiles.rend(); ++file)
        if (readOnlyByTerminal(*file)) return abbreviatingHome(*file, startup.home);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> shellViewsSentence(const ProbeBundle& bundle) {
    if (bundle.terminalView.timedOut || bundle.loginView.timedOut) return std::nullopt;
    const auto& terminal = bundle.javaHomeInActiveShell;
    const auto& dock = bundle.javaHomeInLoginShell;
    const auto normal = [](const std::optional<std::string>& value) {
        return value ? std::optional<std::string>(withoutTrailingSlashes(*value)) : std::nullopt;
    };
    if (normal(terminal) == normal(dock)) return std::nullopt;
    const std::string& home = bundle.shellStartup.home;
    std::string sentence = terminal ? "Terminal sees JAVA_HOME as " + abbreviatingHome(*terminal, home)
                                    : std::string("Terminal sees JAVA_HOME unset");
    sentence += "; apps started from the Dock see " + (dock ? abbreviatingHome(*dock, home) : std::string("it unset"));
    if (const auto file = terminalOnlyJavaHomeFile(bundle.shellStartup))
        sentence += terminal ? ", because it is set in " + *file : ", because " + *file + " changes it";
    return sentence + ".";
}

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
    const std::string note = shellViewsSentence(bundle).value_or("");
    if (modern.empty()) return Diagnosis::D3_LegacyOnly(highestMajor(installed)).withNote(note);

    // Without the Terminal's JAVA_HOME there is nothing to judge it by.
    if (bundle.terminalView.timedOut) return Diagnosis::unknown(startupTimedOutReason(bundle.shellStartup));

    const auto& javaHome = bundle.javaHomeInActiveShell;
    std::optional<JavaHomeTarget> target;
    if (javaHome) {
        // The same home by its resolved path: ~/.sdkman/candidates/java/current,
        // a trailing "/" or Homebrew's opt link still name their JDK.
        const std::string home = javaHomeIdentity(bundle.terminalView, *javaHome);
        for (const JDKInfo* jdk : modern) {
            if (identity(*jdk) == home) return Diagnosis::D4_ModernHomeSet(*jdk).withNote(note);
        }
        const ShellView& view = bundle.terminalView;
        const auto viewMajor =
            view.javaHomeVersion ? majorVersion(wrappedVersion(*view.javaHomeVersion)) : std::nullopt;
        // A working modern JDK that no listing knows (a version manager's).
        if (view.javaHomeHasJava && viewMajor && *viewMajor >= kMinimumModernJavaMajor) {
            JDKInfo unlisted;
            unlisted.version = *view.javaHomeVersion;
            unlisted.path = *javaHome;
            return Diagnosis::D4_ModernHomeSet(unlisted).withNote(note);
        }
        target = JavaHomeTarget{*javaHome, view.javaHomeHasJava, viewMajor};
        for (const JDKInfo& jdk : bundle.installedJDKs) {
            if (identity(jdk) == home) target = JavaHomeTarget{*javaHome, true, javaMajor(jdk)};
        }
    }
    return Diagnosis::D2_HomeUnset(highestMajor(modern), std::move(target)).withNote(note);
}

namespace {

// "JAVA_HOME isn't set in your shell", or where it points instead.
std::string javaHomeClause(const std::optional<JavaHomeTarget>& target) {
    if (!target) return "JAVA_HOME isn't set in your shell";
    const std::string points = "JAVA_HOME in your shell points to " + target->path;
    if (!target->isJDK) return points + ", which is not a JDK";
    if (!target->major) return points + ", whose Java version can't be read";
    return points + ", which is Java " + std::to_string(*target->major);
}

}  // namespace

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
    const std::string noteSuffix = m_note.empty() ? std::string() : " " + m_note;
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
                   jdk.path + ", but " + javaHomeClause(m_javaHome) +
                   ". Many build tools (Maven, Gradle, some IDE plugins) depend on JAVA_HOME pointing at the Java "
                   "installation." +
                   noteSuffix;
        }
        case Case::D3_LegacyOnly: {
            const JDKInfo& jdk = *m_detectedJDK;
            return "We found Java " + majorOrVersion(jdk) + " on your Mac (at `" + jdk.path +
                   "`). Most modern Java software requires Java " + std::to_string(kMinimumModernJavaMajor) +
                   " or newer. We recommend Java " + recommended +
                   " if you have no specific requirement; if you work or study somewhere that uses a specific Java "
                   "version, check with your team before choosing." +
                   noteSuffix;
        }
        case Case::D4_ModernHomeSet: {
            const JDKInfo& jdk = *m_detectedJDK;
            return "Java " + majorOrVersion(jdk) + " is installed at " + jdk.path +
                   ", and JAVA_HOME is pointing at it. Nothing to fix." + noteSuffix;
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
        case Case::D2_HomeUnset:
            if (!m_javaHome) return "JDK installed, JAVA_HOME unset";
            if (!m_javaHome->isJDK) return "JDK installed, JAVA_HOME not a JDK";
            if (!m_javaHome->major) return "JDK installed, JAVA_HOME at an unreadable JDK";
            return "JDK installed, JAVA_HOME at a legacy JDK";
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
