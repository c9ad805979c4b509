// HomebrewInstaller: installs Homebrew with its official install script, then
// adds Homebrew's shellenv line to ~/.zprofile.
//
// The script runs non-interactively (NONINTERACTIVE=1) with the askpass
// sandbox, so its `sudo` calls ask through a macOS dialog. The stream ends
// with exactly one completed or canceled; a refused password counts as
// canceled.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"
#include "remediation/PrivilegedExecutor.h"
#include "remediation/RunSupport.h"

namespace lumo {

inline constexpr const char* kHomebrewInstallScriptURL =
    "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh";
inline constexpr const char* kHomebrewPrompt =
    "Enter Mac password to install Homebrew (and Xcode Command Line Tools, if missing).";

// The shell command that installs Homebrew: /bin/bash -c "$(curl -fsSL <url>)".
std::string homebrewInstallCommand(const std::string& scriptURL = kHomebrewInstallScriptURL);

bool homebrewPrivilegeRefused(const std::string& transcript);

class HomebrewInstaller {
public:
    using Event = StreamEvent;

    struct Options {
        std::string bash = "/bin/bash";
        std::string installScriptURL = kHomebrewInstallScriptURL;
        // Where a fresh install puts brew, in order of preference.
        std::vector<std::string> brewLocations = {"/opt/homebrew/bin/brew", "/usr/local/bin/brew"};
    };

    HomebrewInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                      PrivilegedExecutor executor, Options options);
    HomebrewInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                      PrivilegedExecutor executor)
        : HomebrewInstaller(std::move(process), std::move(fs), std::move(executor), Options{}) {}

    // Starts the run on its own thread. Cancelling `cancel`, or abandoning the
    // stream, stops the script; the former still delivers canceled.
    EventStream<Event> run(const CancelToken& cancel = {}) const;

private:
    Event perform(const EventSink<Event>& sink, const RunCancellation& run) const;
    void appendShellenv(const EventSink<Event>& sink) const;

    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    PrivilegedExecutor m_executor;
    Options m_options;
};

}  // namespace lumo
