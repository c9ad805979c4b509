// Shared pieces of the installer tests: the real services pointed into a
// temporary folder, fake programs written as scripts, and a loopback stand-in
// for the Adoptium API that serves realistic answers and a package file.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ShellTestDoubles.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveProcessRunner.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/InstallerPackage.h"
#include "remediation/PKGInstaller.h"
#include "remediation/PrivilegedExecutor.h"
#include "support/TestSupport.h"

namespace lumo::test {

// The prompt the runners are given, and the architecture they ask Adoptium for.
inline const std::string kPrompt = "Enter Mac password to install Temurin to /Library/Java/JavaVirtualMachines/";
inline const std::string kArch = kAdoptiumArchitecture;

// A loopback HTTP server answering like the Adoptium API, and serving
// Homebrew's install script. Every knob may be changed before the request it
// affects.
class AdoptiumStandIn {
public:
    AdoptiumStandIn();
    ~AdoptiumStandIn();

    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::string packageURL() const { return baseURL() + "/binaries/OpenJDK-jdk_mac_hotspot.pkg"; }
    std::string installScriptURL() const { return baseURL() + "/Homebrew/install/HEAD/install.sh"; }

    // A realistic latest-release answer (a real asset record) pointing at the
    // package below, with `checksum` as the installer checksum.
    std::string assetsAnswer(const std::string& checksum) const;

    // The paths requested so far, with their queries.
    std::vector<std::string> requestedPaths();

    // Lets a held answer go (see holdAssets and holdPackage).
    void releaseAssets() { set(holdAssets, false); }
    void releasePackage() { set(holdPackage, false); }

    // Runs `change` on the knobs below with `mutex` held.
    template <class Change>
    void locked(Change change) {
        std::lock_guard lock(mutex);
        change();
    }

    std::mutex mutex;
    std::string assetsBody;  // default: assetsAnswer(sha256Hex(package))
    int assetsStatus = 200;
    bool holdAssets = false;  // the answer waits for releaseAssets() (or the server's end)
    Bytes package = std::string("xar!\x00\x1c", 6) + " fake Temurin package";  // a NUL, as a real one has
    int packageStatus = 200;
    bool holdPackage = false;  // the answer waits for releasePackage() (or the server's end)
    std::string installScript = "#!/bin/bash\n# Homebrew's install script\n";
    int installScriptStatus = 200;

private:
    // Sets `flag`, guarded by mutex, and wakes the held answers.
    void set(bool& flag, bool value);
    // Waits, with `lock` on `mutex`, until `hold` is false or the server stops.
    void waitWhile(std::unique_lock<std::mutex>& lock, const bool& hold);

    std::condition_variable m_released;
    bool m_stopping = false;  // guarded by mutex
    const bool m_neverHeld = false;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    std::vector<std::string> m_requests;  // guarded by mutex
};

// pkgutil --check-signature's answer for a package whose leaf certificate is
// `leaf` (a real Temurin package: "Developer ID Installer: Eclipse Foundation,
// Inc. (JCDTMS22B4)").
std::string pkgutilSignedAnswer(const std::string& leaf);

// The names in `directory` that begin with `prefix`.
std::vector<std::string> namesIn(const std::string& directory, const std::string& prefix = "");

// A temporary world for one test: folders, fake programs, services.
//
// The privileged programs are fakes that behave as the real ones do for a
// user who types the password: osascript runs the administrator command with
// /bin/sh (as `do shell script` does, only not as root) and reports a failure
// as "execution error: <stderr> (<status>)"; first it runs bin/dialog, the
// password dialog, which does nothing until a test rewrites it. pkgutil
// answers as for a genuine Temurin package. installer records its arguments,
// the SHA-256 of the file it was handed and the listing of that file's folder
// in installer.log, and succeeds.
struct InstallerWorld {
    InstallerWorld();

    TemporaryDirectory root;
    std::shared_ptr<HomeFileSystem> fs;
    std::shared_ptr<LiveProcessRunner> process;
    std::shared_ptr<LiveHTTPFetcher> http;
    std::string bin;  // fake programs; on the app's PATH
    Environment appEnvironment;
    PrivilegedPrograms programs;

    // Writes an executable bash script into bin/ and returns its path.
    std::string program(const std::string& name, const std::string& body) const {
        return root.write("bin/" + name, "#!/bin/bash\n" + body, true);
    }
    // The sandbox directories now present in the temporary directory.
    std::vector<std::string> sandboxes() const { return namesIn(fs->temporary, "fxw-priv-"); }
    std::string file(const std::string& relative) const { return root.path() + "/" + relative; }
    // Where a run keeps the downloaded package of Java `major`.
    std::string packagePath(int major) const {
        return fs->caches + "/Fixwell/temurin-" + std::to_string(major) + "-" + kArch + ".pkg";
    }
    // What the fake installer recorded; empty when it never ran.
    std::string installerLog() const { return readFile(file("installer.log")); }
    // Root's private folders now present.
    std::vector<std::string> rootFolders() const { return namesIn(programs.rootScratchDirectory); }
};

// True when no live process has this id (a zombie counts as gone).
bool processGone(int pid);

// The last `count` items (all of them when there are fewer).
inline std::vector<std::string> tail(const std::vector<std::string>& items, std::size_t count) {
    return {items.end() - static_cast<std::ptrdiff_t>(std::min(count, items.size())), items.end()};
}

// Events as short strings, for whole-sequence comparisons.
std::string show(const StreamEvent& event);
std::string show(const PKGInstallerEvent& event);
template <class Event>
std::vector<std::string> shown(const std::vector<Event>& events) {
    std::vector<std::string> texts;
    for (const auto& event : events) texts.push_back(show(event));
    return texts;
}

}  // namespace lumo::test
