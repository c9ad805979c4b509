// MacSandbox: the simulated Mac's disk, a directory on this machine's real
// disk that the app (through SimulatedFileSystem) and the real shells and
// stand-in programs (through the kernel) both read and change. There is one
// source of truth, so whatever one side does the other sees.
//
// Layout of one sandbox, made per simulated Mac and removed with it:
//
//   <tmp>/lumo-mac-<pid>-XXXXXX/      (<tmp>: /dev/shm when there is one)
//       mac/    R, the Mac's "/": the scenario's files at R + their Mac path,
//               the Mac's own programs (stand-ins from mac-files/mac, and
//               links to a short list of this machine's harmless tools: cat,
//               sed, grep, ...), /etc/paths, /etc/zprofile
//       sim/    P, the simulator's own helpers and state (never part of the Mac)
//
// Paths: the app speaks Mac paths ("/Users/alex/.zprofile"); everything that
// runs inside the sandbox speaks host paths (R + "/Users/alex/.zprofile").
//  - hostPath() maps one Mac path in, after resolving "." and ".." so that it
//    cannot climb out of R;
//  - hostText() maps the absolute Mac paths inside a command line, a script or
//    an environment value in: an occurrence of /Applications, /Library,
//    /System, /Users, /Volumes, /bin, /etc, /opt, /private, /sbin, /tmp, /usr
//    or /var that starts a word (at the start, or after white space, a quote,
//    = : ( ` ; | & < > [ { or a comma) gets R in front. /dev stays this
//    machine's (/dev/null). A "#!" line is never changed, so scripts keep
//    naming this machine's interpreters;
//  - macText() maps back: every mention of R is taken out. It undoes
//    hostText() exactly, and turns whatever a program inside the sandbox
//    prints into what the same program prints on a Mac.
// Text files (the scenario's "text" files, and every text the app writes)
// are stored with hostText() applied and read back through macText(), so a
// start-up file that says `eval "$(/opt/homebrew/bin/brew shellenv)"` runs
// the sandbox's brew. Bytes ("base64" files, downloads) are stored as they are.
//
// A scenario is a program: its start-up files run in this machine's real
// shells. Load only scenarios you trust. The sandbox never writes outside R
// and P itself, and SimulatedFileSystem refuses paths whose links lead out of
// R.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ProcessTypes.h"
#include "platform/Result.h"
#include "simulated/Scenario.h"

namespace lumo {

class MacSandbox {
public:
    // Makes the directory and writes the Mac into it: the Mac's own programs,
    // then the scenario's files. Sandboxes left behind by processes that no
    // longer run are removed first.
    static Result<std::shared_ptr<const MacSandbox>> create(const Scenario& scenario);
    ~MacSandbox();
    MacSandbox(const MacSandbox&) = delete;
    MacSandbox& operator=(const MacSandbox&) = delete;

    const std::string& root() const { return m_root; }                    // R
    const std::string& privateDirectory() const { return m_private; }     // P
    const std::string& home() const { return m_home; }                    // a Mac path
    const std::string& temporaryDirectory() const { return m_temporary; } // a Mac path
    // The app's own environment (Mac values).
    const Environment& appEnvironment() const { return m_appEnvironment; }

    // R + the Mac path after "." and ".." are resolved (never above "/");
    // nothing for a relative path.
    std::optional<std::string> hostPath(std::string_view macPath) const;
    // Absolute Mac paths in a command line, a script or a value, moved into R.
    std::string hostText(std::string_view macText) const;
    // Every mention of R taken out: what a Mac would show.
    std::string macText(std::string_view hostText) const;
    Environment hostEnvironment(const Environment& macEnvironment) const;
    // What this machine starts for a Mac program: its file in R with the
    // environment moved in; nothing for a relative path. The Mac's own zsh,
    // given HOME and PATH as the app's shells always are, is this machine's
    // zsh started as /bin/zsh would start it, one exec less per shell.
    struct Launch {
        std::string program;
        Environment environment;
    };
    std::optional<Launch> launch(std::string_view macProgram, const Environment& macEnvironment) const;
    // True when the host path, with every link followed, is R or inside it.
    bool confines(const std::string& hostPath) const;

private:
    MacSandbox() = default;
    Status materialise(const Scenario& scenario);
    // These three make host paths and remember them (while materialising, on one thread).
    Status makeDirectories(const std::string& hostPath) const;
    Status makeLink(const std::string& target, const std::string& hostPath) const;
    Status writeFile(const std::string& hostPath, std::string_view contents, unsigned mode) const;
    std::string prepared(std::string_view macText) const;  // hostText() and the placeholders filled

    mutable std::set<std::string> m_madeDirectories;
    mutable std::set<std::string> m_placedFiles;  // files and links
    std::string m_scratch;                            // the whole sandbox directory
    std::string m_root;
    std::string m_private;
    std::string m_home;
    std::string m_temporary;
    Environment m_appEnvironment;
    bool m_ownZsh = true;  // /bin/zsh is the simulator's, not a scenario's file
};

// Whether the app runs under Rosetta on the scenario's Mac: only when the
// scenario says so. The app ships as a universal build, which runs natively
// on Apple silicon whatever machine built this simulator; a translated
// scenario is an Intel-only copy, or one the user set to "Open using Rosetta"
// (then Rosetta is installed and the app's children see x86_64).
bool runsTranslated(const Scenario& scenario);

// The release the simulated Mac's installers, Homebrew, SDKMAN and mise
// install for a Java major version (the one shared catalogue).
struct TemurinRelease {
    int major = 0;
    std::string version;      // as `java -version` prints it: "25.0.1", "1.8.0_432"
    std::string build;        // "8"; Java 8: "b06"
    std::string date;         // JAVA_VERSION_DATE
    std::string releaseName;  // Adoptium's: "jdk-25.0.1+8", "jdk8u432-b06"
};
const std::vector<TemurinRelease>& temurinReleases();

// The answers every simulated Mac's network gives unless the scenario says
// otherwise: the Adoptium API's latest-release answers and installer packages
// of the catalogue's releases for both processors, Warp's download for
// Homebrew, and the official Homebrew install script and the brew it fetches
// (the simulated ones).
const std::vector<ScenarioHTTPResponse>& defaultHTTPAnswers();  // made once

}  // namespace lumo
