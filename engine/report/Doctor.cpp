#include "report/Doctor.h"

#include <algorithm>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "config/ProductConfig.h"
#include "diagnosis/Remediation.h"
#include "platform/AppServices.h"
#include "platform/UTF8.h"
#include "profiling/MachineArchitecture.h"
#include "report/LiveServices.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"

namespace lumo {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kCommandName = "lumora-java --doctor";
constexpr const char* kUsage = "usage: lumora-java --doctor [--json] [--scenario FILE]";

struct DoctorOptions {
    bool json = false;
    std::optional<std::string> scenarioPath;
};

// The options, or the one-line problem with the command line.
Result<DoctorOptions> parseOptions(const std::vector<std::string>& arguments) {
    DoctorOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--doctor") continue;
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--scenario" || argument.starts_with("--scenario=")) {
            std::string path;
            if (argument == "--scenario") {
                if (i + 1 >= arguments.size())
                    return Error{"Doctor", 1, "--scenario needs a FILE; " + std::string(kUsage)};
                path = arguments[++i];
            } else {
                path = argument.substr(std::string_view("--scenario=").size());
            }
            if (path.empty()) return Error{"Doctor", 1, "--scenario needs a FILE; " + std::string(kUsage)};
            if (options.scenarioPath) return Error{"Doctor", 1, "--scenario given twice; " + std::string(kUsage)};
            options.scenarioPath = path;
        } else {
            return Error{"Doctor", 1, "unknown option " + argument + "; " + std::string(kUsage)};
        }
    }
    return options;
}

// One line, whatever the description holds.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

Json optionalString(const std::optional<std::string>& value) { return value ? Json(*value) : Json(nullptr); }

Json fixJSON(const Remediation& fix) { return Json{{"id", fix.id()}, {"title", fix.title()}}; }

// Machine text made safe for a terminal: invalid UTF-8 becomes U+FFFD, and
// control characters (which could move the cursor or recolour the terminal)
// and bidirectional controls (which could make text read in another order,
// as U+202E does) become "?".
std::string printable(std::string_view text) {
    const auto isUnsafe = [](char32_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
               (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    };
    const std::string wellFormed = replacingInvalidUTF8(text);
    std::string result;
    result.reserve(wellFormed.size());
    for (std::size_t i = 0; i < wellFormed.size();) {
        // Well-formed by now: the lead byte says how long the sequence is.
        const auto lead = static_cast<unsigned char>(wellFormed[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(wellFormed[i + k]) & 0x3F);
        if (isUnsafe(c)) {
            result += '?';
        } else {
            result.append(wellFormed, i, length);
        }
        i += length;
    }
    return result;
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char byte : text) count += (byte & 0xC0) != 0x80;
    return count;
}

// `text` wrapped at word boundaries to lines of about `width` characters, each
// line prefixed with `indent`.
std::string wrapped(const std::string& text, const std::string& indent, std::size_t width = 88) {
    std::istringstream words(text);
    std::string result;
    std::string line;
    std::string word;
    while (words >> word) {
        if (!line.empty() && characterCount(line) + 1 + characterCount(word) > width) {
            result += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) result += indent + line + "\n";
    return result;
}

const char* mark(bool good) { return good ? "✓" : "✗"; }

// "arm64" on Apple silicon, "x86_64" on Intel, "" when unknown.
std::string machineArchitectureOf(const SystemProfile& profile) {
    switch (profile.architecture) {
        case Architecture::appleSilicon: return kArm64;
        case Architecture::intel: return kX86_64;
        case Architecture::unknown: break;
    }
    return {};
}

std::string joined(const std::vector<std::string>& items) {
    std::string result;
    for (const std::string& item : items) result += (result.empty() ? "" : ", ") + item;
    return result;
}

std::string architectureLabel(Architecture architecture) {
    switch (architecture) {
        case Architecture::appleSilicon: return "Apple silicon";
        case Architecture::intel: return "Intel";
        case Architecture::unknown: return "unknown";
    }
    return "unknown";
}

void toolLine(std::ostream& out, const char* name, const std::optional<std::string>& path) {
    out << "  " << mark(path.has_value()) << " " << name << ": " << (path ? printable(*path) : "not found") << "\n";
}

void fixLine(std::ostream& out, const std::string& label, const Remediation& fix, bool withExplainer) {
    out << "  " << label << fix.title() << "  [" << printable(fix.id()) << "]\n";
    if (withExplainer) out << wrapped(fix.explainer(), "    ");
}

// Collects the probes' diagnostic lines (they arrive from several threads).
class DiagnosticLines {
public:
    DiagnosticLog log() {
        return [this](const std::string& line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace

bool isDoctorCommand(const std::vector<std::string>& arguments) {
    return std::find(arguments.begin(), arguments.end(), "--doctor") != arguments.end();
}

std::string doctorJSON(const SystemProfile& profile, const Diagnosis& diagnosis) {
    const ProbeBundle& java = profile.javaState;
    Json jdks = Json::array();
    const std::string machine = machineArchitectureOf(profile);
    for (const JDKInfo& jdk : java.installedJDKs) {
        jdks.push_back({{"version", jdk.version},
                        {"vendor", jdk.vendor},
                        {"architecture", jdk.architecture},
                        {"path", jdk.path},
                        {"source", jdk.source},
                        {"runsOnlyUnderRosetta", runsOnlyUnderRosetta(jdk, machine)}});
    }
    Json report;
    report["profile"] = {
        {"architecture", architectureName(profile.architecture)},
        {"runsTranslated", profile.runsTranslated},
        {"rosettaInstalled", profile.rosettaInstalled},
        {"macosVersion", versionString(profile.macosVersion)},
        {"shell", profile.shell.name()},
        {"shellPath", profile.shellPath},
        {"startupDirectory", optionalString(java.terminalView.startupDirectory)},
        {"startupFiles", java.shellStartup.files},
        {"homebrew", optionalString(profile.homebrewPrefix)},
        {"sdkman", optionalString(profile.sdkmanRoot)},
        {"mise", optionalString(profile.miseExecutable)},
        {"jenv", optionalString(profile.jenvRoot)},
        {"asdf", optionalString(profile.asdfRoot)},
        {"xcodeCommandLineTools", optionalString(profile.xcodeCommandLineToolsPath)},
        {"java",
         {{"whichJava", optionalString(java.whichJava)},
          {"installedJDKs", jdks},
          {"jvmDirContents", java.jvmDirContents},
          {"javaHomeInActiveShell", optionalString(java.javaHomeInActiveShell)},
          {"javaHomeInLoginShell", optionalString(java.javaHomeInLoginShell)},
          {"javaInActiveShell", optionalString(java.terminalView.javaCommand)},
          {"activeShellTimedOut", java.terminalView.timedOut}}},
        {"aiTools", profile.aiTooling.reportKeys()},
        {"terminals", profile.terminals.reportKeys()},
        {"isLikelyDeveloper", profile.isLikelyDeveloper()},
    };
    report["diagnosis"] = {
        {"id", diagnosis.telemetryID()},
        {"reason", diagnosis.telemetryReason()},
        {"headline", diagnosis.headline()},
        {"explanation", diagnosis.explanation()},
    };
    Json install = Json::object();
    for (int major : kOfferedJavaMajors) install[std::to_string(major)] = fixJSON(installRemediation(major, profile));
    Json javaHome = nullptr;
    if (diagnosis.kind() == Diagnosis::Case::D2_HomeUnset && diagnosis.detectedJDK())
        javaHome = fixJSON(homeRemediation(*diagnosis.detectedJDK(), profile));
    Json nativeBuild = nullptr;
    if (diagnosis.detectedJDK()) {
        if (auto fix = nativeBuildRemediation(*diagnosis.detectedJDK(), profile)) nativeBuild = fixJSON(*fix);
    }
    report["fixes"] = {{"install", install}, {"javaHome", javaHome}, {"nativeBuild", nativeBuild}};
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string doctorText(const SystemProfile& profile, const Diagnosis& diagnosis, const std::string& productName,
                       const std::string& scenarioDescription) {
    std::ostringstream out;
    out << productName << " — doctor\n";
    if (!scenarioDescription.empty()) out << wrapped("Simulated Mac: " + printable(scenarioDescription), "");
    out << "\nThis Mac\n";
    out << "  " << mark(profile.architecture != Architecture::unknown)
        << " Processor: " << architectureLabel(profile.architecture);
    if (profile.architecture == Architecture::appleSilicon)
        out << " (Rosetta " << (profile.rosettaInstalled ? "installed" : "not installed") << ")";
    if (profile.runsTranslated) out << "; this app runs under Rosetta";
    out << "\n";
    if (profile.macosVersion == OperatingSystemVersion{}) {
        out << "  ✗ macOS version: unknown\n";
    } else {
        out << "  ✓ macOS " << versionString(profile.macosVersion) << "\n";
    }
    out << "  ✓ Login shell: " << printable(profile.shell.name());
    if (!profile.shellPath.empty() && profile.shellPath != profile.shell.name())
        out << " (" << printable(profile.shellPath) << ")";
    out << "\n";
    toolLine(out, "Homebrew", profile.homebrewPrefix);
    toolLine(out, "SDKMAN", profile.sdkmanRoot);
    toolLine(out, "Mise", profile.miseExecutable);
    toolLine(out, "jEnv", profile.jenvRoot);
    toolLine(out, "asdf", profile.asdfRoot);
    toolLine(out, "Xcode Command Line Tools", profile.xcodeCommandLineToolsPath);
    const auto terminals = profile.terminals.reportKeys();
    const auto aiTools = profile.aiTooling.reportKeys();
    out << "  " << mark(!terminals.empty()) << " Terminals: " << (terminals.empty() ? "none found" : joined(terminals))
        << "\n";
    out << "  " << mark(!aiTools.empty()) << " AI coding tools: " << (aiTools.empty() ? "none found" : joined(aiTools))
        << "\n";
    out << "    Likely a developer's Mac: " << (profile.isLikelyDeveloper() ? "yes" : "no") << "\n";

    const ProbeBundle& java = profile.javaState;
    const std::string machine = machineArchitectureOf(profile);
    out << "\nJava\n";
    toolLine(out, "java on the search path", java.whichJava);
    out << "  " << mark(!java.installedJDKs.empty()) << " JDKs found: " << java.installedJDKs.size() << "\n";
    for (const JDKInfo& jdk : java.installedJDKs) {
        const auto major = javaMajor(jdk);
        const bool modern = major && *major >= kMinimumModernJavaMajor;
        out << "      " << (modern ? "•" : "·") << " " << printable(jdk.version);
        if (!jdk.vendor.empty()) out << "  " << printable(jdk.vendor);
        if (!jdk.architecture.empty()) out << "  (" << printable(jdk.architecture) << ")";
        if (!jdk.source.empty()) out << "  [" << printable(jdk.source) << "]";
        out << (modern ? "" : "  legacy");
        if (runsOnlyUnderRosetta(jdk, machine)) out << "  runs only under Rosetta";
        out << "\n        " << printable(jdk.path) << "\n";
    }
    out << "    " << kSystemJDKDirectory << ": "
        << (java.jvmDirContents.empty() ? "empty" : printable(joined(java.jvmDirContents))) << "\n";
    const bool settled =
        diagnosis.kind() == Diagnosis::Case::D4_ModernHomeSet || diagnosis.kind() == Diagnosis::Case::noErrorsFound;
    if (java.terminalView.timedOut) {
        out << "  ✗ JAVA_HOME in a new Terminal window: unknown\n"
            << wrapped(printable(startupTimedOutReason(java.shellStartup)), "      ");
    } else {
        out << "  " << mark(java.javaHomeInActiveShell && settled) << " JAVA_HOME in a new Terminal window: "
            << (java.javaHomeInActiveShell ? printable(*java.javaHomeInActiveShell) : "not set") << "\n";
        out << "      java there: "
            << (java.terminalView.javaCommand ? printable(*java.terminalView.javaCommand) : "not found") << "\n";
    }
    out << "      JAVA_HOME for apps started from the Dock: "
        << (java.loginView.timedOut     ? "unknown (start-up too slow)"
            : java.javaHomeInLoginShell ? printable(*java.javaHomeInLoginShell)
                                        : "not set")
        << "\n";

    out << "\nDiagnosis\n";
    out << "  " << mark(settled) << " " << diagnosis.headline() << "  [" << diagnosis.telemetryID() << "]\n";
    out << wrapped(printable(diagnosis.explanation()), "    ");

    out << "\nRecommended fix\n";
    switch (diagnosis.kind()) {
        case Diagnosis::Case::D1_NoJDK:
        case Diagnosis::Case::D3_LegacyOnly: {
            bool first = true;
            for (int major : kOfferedJavaMajors) {
                const std::string label = (first ? "→ Install Java " : "  or Java ") + std::to_string(major) + ": ";
                fixLine(out, label, installRemediation(major, profile), first);
                first = false;
            }
            if (diagnosis.kind() == Diagnosis::Case::D3_LegacyOnly && diagnosis.detectedJDK())
                fixLine(out, "  or ", keepLegacyRemediation(*diagnosis.detectedJDK(), profile), false);
            break;
        }
        case Diagnosis::Case::D2_HomeUnset:
            fixLine(out, "→ ", homeRemediation(*diagnosis.detectedJDK(), profile), true);
            break;
        case Diagnosis::Case::D4_ModernHomeSet:
        case Diagnosis::Case::noErrorsFound: out << "  Nothing to fix.\n"; break;
        case Diagnosis::Case::unknown: out << "  None chosen automatically; see the diagnosis above.\n"; break;
    }
    if (diagnosis.detectedJDK()) {
        if (const auto native = nativeBuildRemediation(*diagnosis.detectedJDK(), profile)) {
            out << "  Java " << printable(diagnosis.detectedJDK()->version)
                << " runs only under Rosetta on this Mac; the Apple silicon build:\n";
            fixLine(out, "  → ", *native, false);
        }
    }
    return out.str();
}

int runDoctorCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const auto options = parseOptions(arguments);
    if (!options) {
        err << kCommandName << ": " << oneLine(options.error().description) << "\n";
        return 2;
    }

    AppServices services;
    std::string description;
    if (options->scenarioPath) {
        auto scenario = loadScenario(*options->scenarioPath);
        if (!scenario) {
            err << kCommandName << ": " << oneLine(scenario.error().description) << "\n";
            return 2;
        }
        description = scenario->description.empty() ? *options->scenarioPath : scenario->description;
        services = makeSimulatedServices(*scenario);
    } else {
        services = makeLiveServices(std::make_shared<InMemoryKeyValueStore>());
    }

    // Launch failures and the like are notes on stderr: stdout carries the report alone.
    DiagnosticLines notes;
    const SystemProfile profile = SystemProfiler(services, notes.log()).profile();
    for (const std::string& line : notes.lines()) err << "note: " << printable(line) << "\n";

    const ProductConfig& product = ProductConfig::current();
    const Diagnosis diagnosis = product.diagnosisProfile ? product.diagnosisProfile->diagnose(profile.javaState)
                                                         : JavaProfile().diagnose(profile.javaState);
    if (options->json) {
        out << doctorJSON(profile, diagnosis);
    } else {
        out << doctorText(profile, diagnosis, product.displayName, description);
    }
    out.flush();
    return 0;
}

}  // namespace lumo
