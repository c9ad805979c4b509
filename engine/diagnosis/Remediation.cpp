#include "diagnosis/Remediation.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "diagnosis/Diagnosis.h"
#include "profiling/JDKDiscovery.h"
#include "profiling/MachineArchitecture.h"

namespace lumo {

namespace {

const std::string& emptyString() {
    static const std::string empty;
    return empty;
}

// `text` as a whole decimal integer, an optional leading "+" or "-" allowed.
std::optional<int> decimalInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return std::nullopt;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The first path component after `marker` in the JDK's real path, else in
// its path as found; never a link's alias such as SDKMAN's "current".
std::optional<std::string> folderAfter(const JDKInfo& jdk, std::string_view marker) {
    for (const std::string* path : {&jdk.resolvedPath, &jdk.path}) {
        const auto at = path->find(marker);
        if (at == std::string::npos) continue;
        const auto start = at + marker.size();
        const std::string folder = path->substr(start, path->find('/', start) - start);
        if (!folder.empty() && folder != "current") return folder;
    }
    return std::nullopt;
}

// The folder directly inside `directory` that holds the JDK.
std::optional<std::string> folderUnder(const JDKInfo& jdk, const std::string& directory) {
    for (const std::string* path : {&jdk.resolvedPath, &jdk.path}) {
        if (!path->starts_with(directory + "/")) continue;
        const auto start = directory.size() + 1;
        const std::string folder = path->substr(start, path->find('/', start) - start);
        if (!folder.empty() && folder != "current") return folder;
    }
    return std::nullopt;
}

}  // namespace

bool Remediation::carriesText(std::initializer_list<Case> cases) const {
    for (Case c : cases) {
        if (c == m_case) return true;
    }
    return false;
}

const std::string& Remediation::cask() const {
    return carriesText({Case::installTemurinViaBrew, Case::installHomebrewThenTemurin, Case::installWarpViaBrew,
                        Case::installHomebrewThenWarp})
               ? m_text
               : emptyString();
}

const std::string& Remediation::candidate() const {
    return carriesText({Case::setJavaHomeViaSDKMAN}) ? m_text : emptyString();
}

const std::string& Remediation::miseVersion() const {
    return carriesText({Case::installViaMise, Case::setJavaHomeViaMise}) ? m_text : emptyString();
}

std::string Remediation::id() const {
    const std::string number = std::to_string(m_number);
    switch (m_case) {
        case Case::installTemurinViaBrew: return "brew:" + m_text;
        case Case::installViaSDKMAN: return "sdkman:" + number + "-tem";
        case Case::installViaMise: return "mise:" + m_text;
        case Case::installViaPKG: return "pkg:" + number;
        case Case::installViaPKGThenJEnv: return "pkg-jenv:" + number;
        case Case::writeJavaHomeToZprofile: return "zprofile:" + m_path;
        case Case::setJavaHomeViaSDKMAN: return "sdkman-home:" + m_text;
        case Case::setJavaHomeViaMise: return "mise-home:" + m_text;
        case Case::setJavaHomeViaJenv: return "jenv-home:" + number + ":" + m_path;
        case Case::keepCurrentLegacyJava: return "keep-legacy:" + m_path;
        case Case::installHomebrewThenTemurin: return "homebrew+brew:" + m_text;
        case Case::installWarpViaBrew: return "brew:" + m_text;
        case Case::installHomebrewThenWarp: return "homebrew+warp:" + m_text;
        case Case::installHomebrew: return "homebrew";
    }
    return "homebrew";
}

std::string Remediation::telemetryMethod() const {
    switch (m_case) {
        case Case::installTemurinViaBrew: return "brew";
        case Case::installViaSDKMAN: return "sdkman";
        case Case::installViaMise: return "mise";
        case Case::installViaPKG: return "pkg";
        case Case::installViaPKGThenJEnv: return "pkg+jenv";
        case Case::writeJavaHomeToZprofile: return "zprofile_write";
        case Case::setJavaHomeViaSDKMAN: return "sdkman";
        case Case::setJavaHomeViaMise: return "mise";
        case Case::setJavaHomeViaJenv: return "jenv";
        case Case::keepCurrentLegacyJava: return "zprofile_write_legacy";
        case Case::installHomebrewThenTemurin: return "homebrew+brew";
        case Case::installWarpViaBrew: return "brew";
        case Case::installHomebrewThenWarp: return "homebrew+brew";
        case Case::installHomebrew: return "homebrew";
    }
    return "homebrew";
}

std::string Remediation::title() const {
    switch (m_case) {
        case Case::installTemurinViaBrew: return "Install Temurin via Homebrew (recommended)";
        case Case::installViaSDKMAN: return "Install Temurin via SDKMAN (recommended)";
        case Case::installViaMise: return "Install Temurin via Mise (recommended)";
        case Case::installViaPKG: return "Install Temurin (recommended)";
        case Case::installViaPKGThenJEnv: return "Install Temurin and register with jEnv (recommended)";
        case Case::writeJavaHomeToZprofile: return "Set JAVA_HOME in " + profileDisplay() + " (recommended)";
        case Case::setJavaHomeViaSDKMAN: return "Set JAVA_HOME via SDKMAN (recommended)";
        case Case::setJavaHomeViaMise: return "Set JAVA_HOME via Mise (recommended)";
        case Case::setJavaHomeViaJenv: return "Set JAVA_HOME via jEnv (recommended)";
        case Case::keepCurrentLegacyJava: return "Keep my current Java (set JAVA_HOME)";
        case Case::installHomebrewThenTemurin: return "Install Homebrew + Java (recommended for developers)";
        case Case::installWarpViaBrew: return "Install Warp (recommended)";
        case Case::installHomebrewThenWarp: return "Install Warp (recommended)";
        case Case::installHomebrew: return "Install Homebrew (recommended)";
    }
    return {};
}

std::string Remediation::explainer() const {
    switch (m_case) {
        case Case::installTemurinViaBrew:
            return "Easiest path — one command, handles updates and uninstalls cleanly. Native Apple Silicon builds.";
        case Case::installViaSDKMAN:
            return "We detected SDKMAN. We'll run `sdk install java` with the newest Temurin " +
                   std::to_string(m_number) + " that `sdk list java` offers and set it as your default Java.";
        case Case::installViaMise:
            return "We detected Mise. We'll run `mise install java@" + m_text + "` and set it as your global Java.";
        case Case::installViaPKG:
            return "No Homebrew or other developer tooling detected. We'll download the Temurin installer directly "
                   "from Adoptium and run it for you.";
        case Case::installViaPKGThenJEnv:
            return "We detected jEnv. We'll install Temurin from Adoptium, then register it with jEnv (`jenv add` + "
                   "`jenv global`).";
        case Case::writeJavaHomeToZprofile:
            return "We'll append two `export` lines to your `" + profileDisplay() +
                   "`, after showing you a diff and backing up the existing file to `" + profileDisplay() + ".bak`.";
        case Case::setJavaHomeViaSDKMAN:
            return "Sets your default Java via `sdk default java " + m_text +
                   "` so JAVA_HOME points to the right Java installation in every new shell.";
        case Case::setJavaHomeViaMise:
            return "Runs `mise use -g java@" + m_text +
                   "` and ensures Mise's activate hook is in your `~/.zshrc` so JAVA_HOME gets set.";
        case Case::setJavaHomeViaJenv:
            return "Enables jEnv's export plugin and ensures your `~/.zshrc` sources jEnv so JAVA_HOME gets set in "
                   "every new shell.";
        case Case::keepCurrentLegacyJava:
            return "We'll point JAVA_HOME at your existing Java by appending two `export` lines to `" +
                   profileDisplay() +
                   "`, after showing you a diff and backing up the existing file. Note: software requiring a newer "
                   "Java "
                   "will still not run.";
        case Case::installHomebrewThenTemurin:
            return "Easiest long-term — Homebrew manages updates and uninstalls cleanly. We'll install Homebrew first "
                   "(which also installs Xcode Command Line Tools), then Temurin via Homebrew.";
        case Case::installWarpViaBrew:
            return "We'll install Warp via Homebrew — one command, native Apple Silicon build.";
        case Case::installHomebrewThenWarp:
            return "No Homebrew detected. We'll install Homebrew first (macOS will ask for your password), then "
                   "install Warp via Homebrew.";
        case Case::installHomebrew:
            return "We'll run the official Homebrew install script. macOS will prompt you for your password. Homebrew "
                   "will also install Xcode Command Line Tools as part of its setup if they aren't already installed.";
    }
    return {};
}

std::string Remediation::progressTitle() const {
    switch (m_case) {
        case Case::installTemurinViaBrew: return "Installing Temurin via Homebrew";
        case Case::installViaSDKMAN: return "Installing Temurin via SDKMAN";
        case Case::installViaMise: return "Installing Temurin via Mise";
        case Case::installViaPKG: return "Installing Temurin " + std::to_string(m_number) + " (direct PKG)";
        case Case::installViaPKGThenJEnv:
            return "Installing Temurin " + std::to_string(m_number) + " and registering with jEnv";
        case Case::writeJavaHomeToZprofile: return "Set JAVA_HOME";
        case Case::setJavaHomeViaSDKMAN: return "Setting JAVA_HOME via SDKMAN";
        case Case::setJavaHomeViaMise: return "Setting JAVA_HOME via Mise";
        case Case::setJavaHomeViaJenv: return "Setting JAVA_HOME via jEnv";
        case Case::keepCurrentLegacyJava: return "Set JAVA_HOME to current Java";
        case Case::installHomebrewThenTemurin: return "Installing Homebrew + Temurin";
        case Case::installWarpViaBrew: return "Installing Warp via Homebrew";
        case Case::installHomebrewThenWarp: return "Installing Homebrew + Warp";
        case Case::installHomebrew: return "Installing Homebrew";
    }
    return {};
}

std::string Remediation::progressSubtitle() const {
    switch (m_case) {
        case Case::installTemurinViaBrew:
            return "macOS will ask for your password so brew can install Temurin to "
                   "/Library/Java/JavaVirtualMachines/.";
        case Case::installViaSDKMAN:
            return "Looking up the newest Temurin " + std::to_string(m_number) +
                   " in `sdk list java`, then running `sdk install java` via your login zsh.";
        case Case::installViaMise: return "Running `mise install java@" + m_text + "` and `mise use -g`.";
        case Case::installViaPKG:
            return "We'll download the Temurin installer from Adoptium, verify its checksum, and ask macOS for "
                   "permission to install.";
        case Case::installViaPKGThenJEnv:
            return "PKG install first, then `jenv add` and `jenv global`. macOS will ask for your password for the "
                   "installer step.";
        case Case::writeJavaHomeToZprofile: return {};
        case Case::setJavaHomeViaSDKMAN: return "Running `sdk default java " + m_text + "`.";
        case Case::setJavaHomeViaMise:
            return "Running `mise use -g java@" + m_text + "` and ensuring `~/.zshrc` activates Mise.";
        case Case::setJavaHomeViaJenv: return "Enabling jEnv's export plugin and registering your Java installation.";
        case Case::keepCurrentLegacyJava: return {};
        case Case::installHomebrewThenTemurin:
            return "Two phases: install Homebrew first (with Xcode Command Line Tools as a side-effect if needed), "
                   "then install Temurin via Homebrew.";
        case Case::installWarpViaBrew: return "Homebrew will install Warp to /Applications/.";
        case Case::installHomebrewThenWarp:
            return "Two phases: install Homebrew first (macOS will ask for your password), then install Warp via "
                   "Homebrew.";
        case Case::installHomebrew:
            return "Running the official Homebrew install script. macOS will ask for your password; if Xcode Command "
                   "Line Tools aren't installed, the script installs them through Software Update first, which can "
                   "take several minutes.";
    }
    return {};
}

std::string Remediation::sdkmanInstallSubtitle(const std::string& identifier) {
    return "Running `sdk install java " + identifier + "` via your login zsh.";
}

std::string Remediation::successMessage() const {
    switch (m_case) {
        case Case::installTemurinViaBrew: return "Temurin installed.";
        case Case::installViaSDKMAN: return "Installed Temurin via SDKMAN.";
        case Case::installViaMise: return "Installed Temurin via Mise.";
        case Case::installViaPKG: return "Temurin installed.";
        case Case::installViaPKGThenJEnv: return "Temurin installed.";
        case Case::writeJavaHomeToZprofile: return "JAVA_HOME set in " + profileDisplay() + ".";
        case Case::setJavaHomeViaSDKMAN: return "Set the SDKMAN default Java.";
        case Case::setJavaHomeViaMise: return "Configured Mise to set JAVA_HOME.";
        case Case::setJavaHomeViaJenv: return "Configured jEnv to set JAVA_HOME.";
        case Case::keepCurrentLegacyJava: return "JAVA_HOME set to your current Java in " + profileDisplay() + ".";
        case Case::installHomebrewThenTemurin: return "Homebrew + Temurin installed.";
        case Case::installWarpViaBrew: return "Warp installed.";
        case Case::installHomebrewThenWarp: return "Homebrew + Warp installed.";
        case Case::installHomebrew: return "Homebrew installed.";
    }
    return {};
}

std::string zshStartupDirectory(const SystemProfile& profile) {
    const ProbeBundle& java = profile.javaState;
    const auto& directory = java.terminalView.startupDirectory;
    if (java.shellStartup.shellName != "zsh" || !directory || directory->empty()) return {};
    const auto trimmed = [](std::string path) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    };
    const std::string found = trimmed(*directory);
    return found == trimmed(java.shellStartup.home) ? std::string() : found;
}

std::string bashProfileName(const SystemProfile& profile) {
    const ShellStartup& startup = profile.javaState.shellStartup;
    if (startup.shellName != "bash") return {};
    // A login bash reads only the first of these that exists: writing another
    // would hide the one the user has.
    for (const char* name : {".bash_profile", ".bash_login", ".profile"}) {
        const std::string path = joinPath(startup.home, name);
        if (std::find(startup.files.begin(), startup.files.end(), path) != startup.files.end()) return name;
    }
    return ".bash_profile";
}

namespace {

Remediation inUsersStartupFiles(const Remediation& fix, const SystemProfile& profile) {
    return fix.inStartupDirectory(zshStartupDirectory(profile)).withBashProfile(bashProfileName(profile));
}

Remediation installFor(int major, const SystemProfile& profile) {
    const std::string number = std::to_string(major);
    if (profile.homebrewPrefix) return Remediation::installTemurinViaBrew("temurin@" + number, *profile.homebrewPrefix);
    if (profile.sdkmanRoot) return Remediation::installViaSDKMAN(major);
    if (profile.miseExecutable) return Remediation::installViaMise("temurin-" + number, *profile.miseExecutable);
    if (profile.jenvRoot) return Remediation::installViaPKGThenJEnv(major, profile.jenvExecutable.value_or(""));
    if (profile.isLikelyDeveloper()) return Remediation::installHomebrewThenTemurin("temurin@" + number);
    return Remediation::installViaPKG(major);
}

Remediation homeFor(const JDKInfo& jdk, const SystemProfile& profile) {
    // `sdk default java` only switches between SDKMAN's own JDKs.
    if (profile.sdkmanRoot) {
        if (auto identifier = sdkmanIdentifier(jdk, *profile.sdkmanRoot))
            return Remediation::setJavaHomeViaSDKMAN(std::move(*identifier));
    }
    if (profile.miseExecutable) {
        // A JDK mise installed is known to mise by its folder name
        // ("corretto-21.0.5.11.1"); for any other, mise fetches Temurin's build
        // of the same version.
        auto version = jdk.source == jdk_source::kMise ? folderAfter(jdk, "/installs/java/") : std::nullopt;
        return Remediation::setJavaHomeViaMise(version.value_or("temurin-" + jdk.version), *profile.miseExecutable);
    }
    if (profile.jenvRoot)
        return Remediation::setJavaHomeViaJenv(jdk.path, jenvMajorVersion(jdk.version),
                                               profile.jenvExecutable.value_or(""));
    return Remediation::writeJavaHomeToZprofile(jdk.path);
}

}  // namespace

Remediation installRemediation(int major, const SystemProfile& profile) {
    return inUsersStartupFiles(installFor(major, profile), profile);
}

Remediation homeRemediation(const JDKInfo& jdk, const SystemProfile& profile) {
    return inUsersStartupFiles(homeFor(jdk, profile), profile);
}

Remediation keepLegacyRemediation(const JDKInfo& jdk, const SystemProfile& profile) {
    return inUsersStartupFiles(Remediation::keepCurrentLegacyJava(jdk.path), profile);
}

int jenvMajorVersion(const std::string& version) {
    const std::string_view text = version;
    const std::string_view firstPiece = text.substr(0, text.find('.'));
    if (const auto major = decimalInteger(firstPiece)) return *major;
    if (const auto whole = decimalInteger(text)) return *whole;
    return kRecommendedJavaMajor;
}

std::optional<std::string> sdkmanIdentifier(const JDKInfo& jdk, const std::string& sdkmanRoot) {
    return folderUnder(jdk, joinPath(sdkmanRoot, "candidates/java"));
}

std::optional<int> nativeBuildMajor(const JDKInfo& jdk, const SystemProfile& profile) {
    if (profile.architecture != Architecture::appleSilicon || !runsOnlyUnderRosetta(jdk, kArm64)) return std::nullopt;
    const auto major = javaMajor(jdk);
    const bool offered =
        major && std::find(kOfferedJavaMajors.begin(), kOfferedJavaMajors.end(), *major) != kOfferedJavaMajors.end();
    return offered ? *major : kRecommendedJavaMajor;
}

std::optional<Remediation> nativeBuildRemediation(const JDKInfo& jdk, const SystemProfile& profile) {
    const auto major = nativeBuildMajor(jdk, profile);
    if (!major) return std::nullopt;
    return installRemediation(*major, profile);
}

}  // namespace lumo
