// Finding every JDK on the Mac, not only the ones macOS knows.
//
// `java_home -V` and /Library/Java/JavaVirtualMachines list the JDKs that
// installer packages and Homebrew casks put there. Version managers keep their
// own elsewhere: SDKMAN in ~/.sdkman/candidates/java, mise in
// <data dir>/installs/java, asdf in ~/.asdf/installs/java, jEnv links its
// registered JDKs from ~/.jenv/versions, and Homebrew's openjdk formulae live in
// <prefix>/opt/openjdk*/libexec/openjdk.jdk/Contents/Home. The user's Terminal
// may also point JAVA_HOME, or lead `java`, somewhere else again.
//
//   JDKSearchPlaces places = jdkSearchPlaces(home, host.environment, terminal, brew);
//   std::vector<JDKInfo> all = discoverJDKs(*fs, javaHomeListed, places);
//
// The same JDK reached several ways (a jEnv link to a SDKMAN JDK, SDKMAN's
// `current`) appears once: JDKs are told apart by their real path, all links
// resolved. Each carries where it lives (`source`) and its architecture.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/ProcessTypes.h"
#include "profiling/Probes.h"
#include "profiling/ShellView.h"

namespace lumo {

// JDKInfo::source values.
namespace jdk_source {
inline constexpr const char* kSystem = "system";
inline constexpr const char* kHomebrew = "homebrew";
inline constexpr const char* kSDKMAN = "sdkman";
inline constexpr const char* kMise = "mise";
inline constexpr const char* kAsdf = "asdf";
inline constexpr const char* kJenv = "jenv";
}  // namespace jdk_source

// Where the JDKs of one Mac are looked for.
struct JDKSearchPlaces {
    std::string sdkmanCandidates;                 // ~/.sdkman/candidates/java
    std::string miseInstalls;                     // <mise data dir>/installs/java
    std::string asdfInstalls;                     // ~/.asdf/installs/java
    std::string jenvVersions;                     // ~/.jenv/versions
    std::vector<std::string> homebrewPrefixes;    // /opt/homebrew, /usr/local, and the found brew's
    std::optional<std::string> terminalJavaHome;  // JAVA_HOME in the user's Terminal
    std::optional<std::string> terminalJava;      // the `java` its PATH leads to
};

// mise's data directory: MISE_DATA_DIR, else $XDG_DATA_HOME/mise, else
// ~/.local/share/mise.
std::string miseDataDirectory(const std::string& home, const Environment& environment);

// The places of a Mac whose home is `home`. `environment` supplies
// MISE_DATA_DIR, XDG_DATA_HOME and ASDF_DATA_DIR (the Terminal's when known,
// else the app's); `terminal` the Terminal's JAVA_HOME and `java`; `brew` the
// brew executable found (its prefix is searched besides the standard two).
JDKSearchPlaces jdkSearchPlaces(const std::string& home, const Environment& environment, const ShellView* terminal,
                                const std::optional<std::string>& brew);

// The JDK whose home is `directory` (or `directory`/Contents/Home for a
// bundle), read from its `release` file, else the Info.plist beside its
// Contents/Home; with its architecture (release OS_ARCH, else bin/java's
// Mach-O header). Source and real path are left empty. Nothing when the
// directory holds no readable JDK.
std::optional<JDKInfo> readJDKHome(const FileSystemOperating& fs, const std::string& directory);

// `listed` (java_home's and the system directory's JDKs, in that order) with
// their real path, source and missing architecture filled in, followed by the
// JDKs found only in `places`: SDKMAN's, mise's, asdf's, Homebrew's formula
// kegs, jEnv's, then the Terminal's JAVA_HOME and `java`. A JDK whose real
// path is already in the list is skipped; so is a dangling link.
std::vector<JDKInfo> discoverJDKs(const FileSystemOperating& fs, std::vector<JDKInfo> listed,
                                  const JDKSearchPlaces& places);

// Where a JDK at `path` lives, judged from the path alone: "sdkman", "mise",
// "asdf", "jenv" or "homebrew" under those tools' directories; nothing
// elsewhere.
std::optional<std::string> sourceOfLocation(const std::string& path, const JDKSearchPlaces& places);

}  // namespace lumo
