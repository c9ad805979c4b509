// Remediation: one concrete fix the system can run -- install Java by one of
// several routes, point JAVA_HOME at a JDK, or install Homebrew or Warp -- with
// everything said about it on screen, its stable id and telemetry method, and
// the two rules that pick the fix suiting the tooling found on the Mac.
//
//   Remediation fix = installRemediation(25, profile);   // e.g. brew:temurin@25
//   fix.title(); fix.progressTitle(); fix.id(); fix.telemetryMethod();
#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <string>

#include "profiling/Probes.h"
#include "profiling/SystemProfile.h"

namespace lumo {

// The Java majors the user can pick to install, in display order (25 is the default).
inline constexpr std::array<int, 3> kOfferedJavaMajors{25, 21, 17};

class Remediation {
public:
    // Cases in declaration order.
    enum class Case {
        installTemurinViaBrew,
        installViaSDKMAN,
        installViaMise,
        installViaPKG,
        installViaPKGThenJEnv,
        writeJavaHomeToZprofile,
        setJavaHomeViaSDKMAN,
        setJavaHomeViaMise,
        setJavaHomeViaJenv,
        keepCurrentLegacyJava,
        installHomebrewThenTemurin,
        installWarpViaBrew,
        installHomebrewThenWarp,
        installHomebrew,
    };

    // `cask` is "temurin@<major>"; `brew` the detected executable (empty: the
    // run looks in /opt/homebrew and /usr/local).
    static Remediation installTemurinViaBrew(std::string cask, std::string brew = {}) {
        return {Case::installTemurinViaBrew, std::move(cask), 0, {}, std::move(brew)};
    }
    // The newest Temurin `major` SDKMAN offers. Its identifier ("25.0.1-tem")
    // is known only once `sdk list java` has run, so the fix carries the major.
    static Remediation installViaSDKMAN(int major) { return {Case::installViaSDKMAN, {}, major}; }
    // `version` is "temurin-<major>"; `mise` the detected executable (empty:
    // the run looks for it where mise's installers put it).
    static Remediation installViaMise(std::string version, std::string mise = {}) {
        return {Case::installViaMise, std::move(version), 0, {}, std::move(mise)};
    }
    // The Java major to fetch as an Adoptium installer package.
    static Remediation installViaPKG(int version) { return {Case::installViaPKG, {}, version}; }
    // As installViaPKG, then registered with jEnv (`jenv` as for Mise).
    static Remediation installViaPKGThenJEnv(int version, std::string jenv = {}) {
        return {Case::installViaPKGThenJEnv, {}, version, {}, std::move(jenv)};
    }
    static Remediation writeJavaHomeToZprofile(std::string jdkPath) {
        return {Case::writeJavaHomeToZprofile, {}, 0, std::move(jdkPath)};
    }
    // `candidate` is the identifier SDKMAN installed the JDK under: its folder
    // in ~/.sdkman/candidates/java ("21.0.5-tem").
    static Remediation setJavaHomeViaSDKMAN(std::string candidate) {
        return {Case::setJavaHomeViaSDKMAN, std::move(candidate)};
    }
    // `version` is the mise version: a mise-installed JDK's folder name, else
    // "temurin-<JDK version>"; `mise` as for installViaMise.
    static Remediation setJavaHomeViaMise(std::string version, std::string mise = {}) {
        return {Case::setJavaHomeViaMise, std::move(version), 0, {}, std::move(mise)};
    }
    static Remediation setJavaHomeViaJenv(std::string jdkPath, int majorVersion, std::string jenv = {}) {
        return {Case::setJavaHomeViaJenv, {}, majorVersion, std::move(jdkPath), std::move(jenv)};
    }
    // JAVA_HOME pointed at the legacy JDK the user keeps, through ~/.zprofile.
    static Remediation keepCurrentLegacyJava(std::string jdkPath) {
        return {Case::keepCurrentLegacyJava, {}, 0, std::move(jdkPath)};
    }
    static Remediation installHomebrewThenTemurin(std::string temurinCask) {
        return {Case::installHomebrewThenTemurin, std::move(temurinCask)};
    }
    // `brew` as for installTemurinViaBrew.
    static Remediation installWarpViaBrew(std::string cask, std::string brew = {}) {
        return {Case::installWarpViaBrew, std::move(cask), 0, {}, std::move(brew)};
    }
    static Remediation installHomebrewThenWarp(std::string warpCask) {
        return {Case::installHomebrewThenWarp, std::move(warpCask)};
    }
    static Remediation installHomebrew() { return {Case::installHomebrew}; }

    Case kind() const { return m_case; }

    // Payloads; each is empty (or 0) for the cases that do not carry it.
    // The Homebrew cask: `cask`, `temurinCask` or `warpCask`.
    const std::string& cask() const;
    // The SDKMAN identifier of setJavaHomeViaSDKMAN.
    const std::string& candidate() const;
    // The Mise version of installViaMise and setJavaHomeViaMise.
    const std::string& miseVersion() const;
    // The Java major of installViaSDKMAN, installViaPKG, installViaPKGThenJEnv
    // and setJavaHomeViaJenv.
    int majorVersion() const { return m_number; }
    // The JDK home of writeJavaHomeToZprofile, setJavaHomeViaJenv and keepCurrentLegacyJava.
    const std::string& jdkPath() const { return m_path; }
    // The brew, mise or jenv executable the profile found for the Homebrew,
    // Mise and jEnv fixes (a custom Homebrew prefix may be known only from
    // the Terminal's PATH); empty when not known.
    const std::string& toolPath() const { return m_tool; }
    // Where the fix reads and writes the user's zsh start-up files (.zprofile,
    // .zshrc) when ZDOTDIR moves them out of the home directory, as zsh
    // resolved it; empty for the home directory.
    const std::string& startupDirectory() const { return m_startupDirectory; }
    // This fix, with `directory` (see zshStartupDirectory()) as its start-up directory.
    Remediation inStartupDirectory(std::string directory) const {
        Remediation fix = *this;
        fix.m_startupDirectory = std::move(directory);
        return fix;
    }

    // Stable identity, used in telemetry ("brew:temurin@25", "zprofile:<path>").
    std::string id() const;
    // The label of the button that starts the fix, and the paragraph beside it.
    std::string title() const;
    std::string explainer() const;
    // Shown while the fix runs (the subtitle may be empty) and when it succeeds.
    std::string progressTitle() const;
    std::string progressSubtitle() const;
    // installViaSDKMAN's subtitle once the run has found the identifier to
    // install ("25.0.1-tem").
    static std::string sdkmanInstallSubtitle(const std::string& identifier);
    std::string successMessage() const;
    // "brew", "sdkman", "pkg+jenv", "zprofile_write", ...
    std::string telemetryMethod() const;

    friend bool operator==(const Remediation&, const Remediation&) = default;

private:
    Remediation(Case c, std::string text = {}, int number = 0, std::string path = {}, std::string tool = {})
        : m_case(c), m_text(std::move(text)), m_number(number), m_path(std::move(path)), m_tool(std::move(tool)) {}

    bool carriesText(std::initializer_list<Case> cases) const;

    Case m_case;
    std::string m_text;  // cask, candidate or Mise version
    int m_number = 0;    // Java major
    std::string m_path;  // JDK home
    std::string m_tool;  // brew, mise or jenv executable
    std::string m_startupDirectory;
};

// The directory a new Terminal window's zsh reads the user's start-up files
// from (ZDOTDIR as zsh resolved it) when that is not the home directory, for
// a user whose login shell is zsh; empty otherwise (the home directory).
std::string zshStartupDirectory(const SystemProfile& profile);

// The fixes below carry the profile's zshStartupDirectory().
//
// The install fix for Java `major` that suits the tooling in `profile`:
// Homebrew, SDKMAN, Mise, jEnv (installer package, then jEnv), Homebrew first
// on a developer's Mac, else the Adoptium installer package. Every route
// installs the build for the machine's processor.
Remediation installRemediation(int major, const SystemProfile& profile);

// The fix that points JAVA_HOME at `jdk`: through SDKMAN when the JDK is one
// of SDKMAN's, through Mise or jEnv when present, else by appending to
// ~/.zprofile. Homebrew plays no part.
Remediation homeRemediation(const JDKInfo& jdk, const SystemProfile& profile);

// The SDKMAN identifier of a JDK that lives in <sdkmanRoot>/candidates/java
// (its folder there, links resolved: never "current"); nothing for any other.
std::optional<std::string> sdkmanIdentifier(const JDKInfo& jdk, const std::string& sdkmanRoot);

// For a JDK that runs only under Rosetta on this Apple silicon Mac, the Java
// major whose native (arm64) build to offer: the JDK's own when it is one of
// the offered majors, else the recommended one. Nothing for any other JDK.
std::optional<int> nativeBuildMajor(const JDKInfo& jdk, const SystemProfile& profile);
// The install fix of that native build; nothing when there is none to offer.
std::optional<Remediation> nativeBuildRemediation(const JDKInfo& jdk, const SystemProfile& profile);

// The major jEnv is told to make global for a JDK `version`: its first
// "."-separated piece as a decimal integer, else the whole text as one, else
// 25. A plain leading-number rule: unlike majorVersion(), "1.8.0_392" gives 1.
int jenvMajorVersion(const std::string& version);

}  // namespace lumo
