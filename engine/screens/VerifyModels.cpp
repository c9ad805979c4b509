#include "screens/VerifyModels.h"

#include "diagnosis/Diagnosis.h"
#include "platform/LoginShell.h"
#include "profiling/Probes.h"
#include "telemetry/HomePath.h"

namespace lumo {

namespace {
using Case = Remediation::Case;
constexpr std::size_t kExcerptMaxCharacters = 200;
}  // namespace

bool isConfigurationFix(const Remediation& remediation) {
    switch (remediation.kind()) {
        case Case::writeJavaHomeToZprofile:
        case Case::setJavaHomeViaSDKMAN:
        case Case::setJavaHomeViaMise:
        case Case::setJavaHomeViaJenv:
        case Case::keepCurrentLegacyJava: return true;
        default: return false;
    }
}

bool changesZshStartupOnly(const Remediation& remediation) {
    switch (remediation.kind()) {
        case Case::writeJavaHomeToZprofile:
        case Case::keepCurrentLegacyJava:
        case Case::installViaMise:
        case Case::setJavaHomeViaMise:
        case Case::installViaPKGThenJEnv:
        case Case::setJavaHomeViaJenv: return true;
        default: return false;
    }
}

std::optional<std::string> unsupportedShellNote(const Remediation& remediation, const std::string& userShellName) {
    if (userShellName.empty() || userShellName == "zsh" || !changesZshStartupOnly(remediation)) return std::nullopt;
    const bool zprofile =
        remediation.kind() == Case::writeJavaHomeToZprofile || remediation.kind() == Case::keepCurrentLegacyJava;
    std::string ownFile = "its start-up file";
    if (userShellName == "bash") ownFile = "~/.bash_profile";
    if (userShellName == "fish") ownFile = "~/.config/fish/config.fish";
    const std::string what = remediation.kind() == Case::keepCurrentLegacyJava
                                 ? "keeping your current Java sets JAVA_HOME in "
                                 : "this fix sets Java up in ";
    return "Your login shell is " + userShellName + ", and " + what + (zprofile ? "~/.zprofile" : "~/.zshrc") +
           ", which only zsh reads. Setting up " + userShellName +
           " isn't supported yet, so a new Terminal window won't see this change: set JAVA_HOME in " + ownFile +
           " yourself.";
}

std::string userShellName(const HostInfo& host) { return lastPathComponent(userShellPath(host)); }

std::string javaVersionExcerpt(const std::string& output) {
    std::optional<std::string> first;
    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find_first_of("\r\n", start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty()) {
            if (line.find("version \"") != std::string::npos) return prefixCharacters(line, kExcerptMaxCharacters);
            if (!first) first = std::move(line);
        }
        start = end + 1;
    }
    return first ? prefixCharacters(*first, kExcerptMaxCharacters) : std::string();
}

VerifyVerdict VerifyVerdict::of(const Remediation& remediation, const Verifier::Result& result,
                                const std::string& userShellName) {
    const bool configuration = isConfigurationFix(remediation);
    VerifyVerdict verdict;
    verdict.shellNote = unsupportedShellNote(remediation, userShellName);
    verdict.passed = result.passed(configuration) && !verdict.shellNote;
    if (const std::string failure = result.failure(configuration); !failure.empty()) verdict.failureDetail = failure;
    const bool homeMissing = !result.javaHomeValue || result.javaHomeValue->empty();
    if (!verdict.passed) {
        verdict.kind = Kind::failed;
    } else if (!configuration && homeMissing) {
        verdict.kind = Kind::needsJavaHome;
    } else {
        verdict.kind = Kind::passed;
    }
    switch (verdict.kind) {
        case Kind::passed:
            verdict.title = configuration ? "Java configured" : "Java installed";
            verdict.explainer = "Here's the actual output from a fresh `'java -version'`.";
            break;
        case Kind::needsJavaHome:
            verdict.title = "Java installed";
            verdict.explainer = "Java is installed, but your shell doesn't know where to find it yet. One more step.";
            break;
        case Kind::failed:
            verdict.title = configuration ? "Java configuration incomplete" : "Java install incomplete";
            verdict.explainer = "The remediation completed but Java still isn't running correctly. Read the article.";
            break;
    }
    verdict.javaVersionText = result.javaVersionOutput.empty() ? "(no output)" : result.javaVersionOutput;
    verdict.javaHomeText = homeMissing ? "(unset)" : *result.javaHomeValue;
    if (remediation.kind() == Case::keepCurrentLegacyJava && verdict.passed) {
        const auto major = majorVersion(result.javaVersionOutput);
        verdict.legacyWarning = "JAVA_HOME is now set, but Java " +
                                (major ? std::to_string(*major) : std::string("this old version")) +
                                " cannot run software that requires a newer Java.";
    }
    return verdict;
}

std::pair<std::string, JSONObject> verificationEvent(const Remediation& remediation, const Verifier::Result& result,
                                                     const std::string& userShellName) {
    const std::string excerpt = javaVersionExcerpt(result.javaVersionOutput);
    if (!VerifyVerdict::of(remediation, result, userShellName).passed) {
        return {"verify_failed", {{"exit_code", result.javaVersionExitCode}, {"java_version_excerpt", excerpt}}};
    }
    JSONObject properties{{"java_version_excerpt", excerpt}, {"java_major_version", majorVersion(excerpt)}};
    if (remediation.kind() == Case::keepCurrentLegacyJava) {
        properties["chosen_path"] = shortenHomePaths(remediation.jdkPath());
        return {"verify_passed_with_legacy", std::move(properties)};
    }
    return {"verify_passed", std::move(properties)};
}

void recordVerification(TelemetrySink& telemetry, const Remediation& remediation, const Verifier::Result& result,
                        const std::string& userShellName) {
    auto [name, properties] = verificationEvent(remediation, result, userShellName);
    telemetry.emit(name, properties);
}

void recordFollowUpOffered(TelemetrySink& telemetry, const Remediation& remediation) {
    telemetry.emit("verify_offered_followup", {{"first_remediation_id", remediation.id()}});
}

}  // namespace lumo
