// The Java probes: the raw facts about Java on the Mac, gathered into a
// ProbeBundle that the diagnosis reads and the system profile carries.
//
//   Probes probes(services);
//   ProbeBundle java = probes.collect();   // never fails; blocks a worker thread
//
// Versions stay strings as the JDK reports them; the one place that turns a
// version into a major number is majorVersion(), which callers hand the word
// version and the version in double quotes (see wrappedVersion()).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/HostInfo.h"
#include "platform/LoginShell.h"
#include "platform/ProcessRunning.h"
#include "profiling/ShellView.h"

namespace lumo {

struct AppServices;

// `/usr/bin/which <name>` in the app's own environment: the path it prints,
// or nothing when it fails, prints nothing or cannot be started (logged).
std::optional<std::string> whichCommand(const ProcessRunning& process, const std::string& name,
                                        const DiagnosticLog& log);

inline constexpr const char* kSystemJDKDirectory = "/Library/Java/JavaVirtualMachines";

struct JDKInfo {
    std::string version;  // as reported: "17.0.2", "1.8.0_292"
    std::string vendor;   // "Eclipse Adoptium"; empty when not reported
    // "arm64", "x86_64", or a universal JDK's slices ("arm64 x86_64"); empty
    // when neither java_home, the release file nor bin/java tells.
    std::string architecture;
    std::string path;  // the JDK's home as found (what JAVA_HOME must name)
    // Where it lives: "system", "homebrew", "sdkman", "mise", "asdf" or "jenv"
    // (see JDKDiscovery.h); empty until discovery has placed it.
    std::string source;
    // `path` with every symbolic link resolved: the JDK's identity. Empty
    // until discovery has resolved it.
    std::string resolvedPath;

    friend bool operator==(const JDKInfo&, const JDKInfo&) = default;
};

struct ProbeBundle {
    std::optional<std::string> whichJava;  // `which java` in the app's environment
    // java_home's, the system directory's others, then those only version
    // managers, Homebrew's formulae or the Terminal know of (JDKDiscovery.h).
    std::vector<JDKInfo> installedJDKs;
    std::vector<std::string> jvmDirContents;           // entry names of the system JDK directory
    std::optional<std::string> javaHomeInActiveShell;  // terminalView.javaHome: absent when unset or empty

    // A new Terminal window (login, interactive shell). Its JAVA_HOME resolved
    // on disk (javaHomeResolved) is matched against the JDKs' resolvedPath: a
    // JAVA_HOME of ~/.sdkman/candidates/java/current or with a trailing "/" is
    // still its JDK.
    ShellView terminalView;
    ShellView loginView;                              // IDEs and apps started from the Dock (login shell)
    std::optional<std::string> javaHomeInLoginShell;  // loginView.javaHome
    ShellStartup shellStartup;                        // the shell that looked, and its start-up files

    friend bool operator==(const ProbeBundle&, const ProbeBundle&) = default;
};

// The JDKs of a `java_home -V` listing (its standard error), in listed order.
// Heading, default and malformed lines are skipped.
std::vector<JDKInfo> parseJavaHomeList(std::string_view text);

// The major version in text such as `version "1.8.0_292"` (8), `version "17.0.2"`
// (17) or `version "21"` (21); nothing when the text has no such version.
std::optional<int> majorVersion(std::string_view from);

// `version "<version>"`: the form majorVersion() expects.
std::string wrappedVersion(std::string_view version);

// The key-value lines of a JDK `release` file (KEY="value"); quotes removed,
// later keys replace earlier ones, lines without '=' skipped.
std::map<std::string, std::string> parseReleaseFile(std::string_view text);

// The JDK whose home is `home`, from its `release` file (JAVA_VERSION and
// IMPLEMENTOR), else -- for a bundle's <bundle>/Contents/Home -- the bundle's
// Contents/Info.plist (JavaVM/JVMVersion). Architecture, source and real path
// stay empty. Nothing when neither names a version with a major.
std::optional<JDKInfo> readJDKFiles(const FileSystemOperating& fs, const std::string& home);

// Reads a JDK bundle of the system JDK directory from its own files: the
// `release` file, else the Info.plist.
class JdkReleaseFileReader {
public:
    explicit JdkReleaseFileReader(std::shared_ptr<const FileSystemOperating> fs) : m_fs(std::move(fs)) {}

    // `bundle` is an entry name of the system JDK directory ("temurin-21.jdk").
    // Nothing when the bundle is not a readable JDK. Never throws.
    std::optional<JDKInfo> read(const std::string& bundle) const;

private:
    std::shared_ptr<const FileSystemOperating> m_fs;
};

// The bundles of `entries` (the system JDK directory) that `known` (java_home's
// list) does not cover, read through `reader`; unreadable entries are dropped.
std::vector<JDKInfo> supplementaryJDKs(const std::vector<std::string>& entries, const std::vector<JDKInfo>& known,
                                       const JdkReleaseFileReader& reader);

class Probes {
public:
    // `host` supplies the user's login shell (LoginShell::forHost) and the
    // environment variables that move version managers' directories
    // (MISE_DATA_DIR and the like). When the app runs translated on Apple
    // silicon, the children start natively (NativeArchitectureRunner.h).
    Probes(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs, HostInfo host,
           DiagnosticLog log = printDiagnosticLine);
    explicit Probes(const AppServices& services, DiagnosticLog log = printDiagnosticLine);

    // Runs the probes concurrently -- `which java`, `java_home -V`, the system
    // JDK directory, and the Terminal and Dock views of the user's login
    // shell, one shell run each -- and combines them, then looks for the JDKs
    // macOS does not list (JDKDiscovery.h), also where the Terminal's
    // JAVA_HOME and `java` lead. Never fails: a probe that cannot run finds
    // nothing. Blocks the calling thread.
    ProbeBundle collect() const;

private:
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    HostInfo m_host;
    LoginShell m_shell;
    DiagnosticLog m_log;
};

}  // namespace lumo

template <>
struct std::hash<lumo::JDKInfo> {
    std::size_t operator()(const lumo::JDKInfo& jdk) const noexcept;
};
