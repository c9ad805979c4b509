// HomebrewInstaller: installs Homebrew with its official install script, then
// adds Homebrew's shellenv line to ~/.zprofile.
//
// The script is fetched first, through the HTTP service: a fetch that fails
// (offline, a 404, a Wi-Fi sign-in page answering in its place) ends the run
// with a line that says so, before anything runs. The fetched script then runs
// as Homebrew's own instructions run it, `/bin/bash -c <script>`,
// non-interactively (NONINTERACTIVE=1) with the askpass sandbox, so its `sudo`
// calls ask through a macOS dialog. Without a terminal the script installs
// missing Command Line Tools through `softwareupdate` itself.
//
// The stream ends with exactly one completed or canceled; a refused password
// counts as canceled. The script's "Need sudo access on macOS" (the password
// dialog cancelled, or an account that is not an administrator: the script
// cannot tell which) is a failure with its own line.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"
#include "remediation/PrivilegedExecutor.h"
#include "remediation/RunSupport.h"

namespace lumo {

inline constexpr const char* kHomebrewInstallScriptURL =
    "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh";
inline constexpr const char* kHomebrewPrompt =
    "Enter Mac password to install Homebrew (and Xcode Command Line Tools, if missing).";

inline constexpr const char* kHomebrewNeedsAdministratorMessage =
    "Homebrew needs an administrator's password: the password dialog was cancelled, or this account is not an "
    "administrator of this Mac. Try again and enter your Mac password, or ask an administrator to install Homebrew.";

// What a person types to install Homebrew, /bin/bash -c "$(curl -fsSL <url>)":
// shown on the audit page and as the run's first line. The runner does the
// same in two steps, so that a failed fetch is never run as an empty script.
std::string homebrewInstallCommand(const std::string& scriptURL = kHomebrewInstallScriptURL);

bool homebrewPrivilegeRefused(const std::string& transcript);
// The script's own words when `sudo` gave it nothing (see above).
bool homebrewNeedsAdministrator(const std::string& transcript);

class HomebrewInstaller {
public:
    using Event = StreamEvent;

    struct Options {
        std::string bash = "/bin/bash";
        std::string installScriptURL = kHomebrewInstallScriptURL;
        // Idle limit of the fetch.
        std::chrono::milliseconds fetchTimeout{30'000};
        // Where a fresh install puts brew, in order of preference.
        std::vector<std::string> brewLocations = {"/opt/homebrew/bin/brew", "/usr/local/bin/brew"};
    };

    HomebrewInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const HTTPFetching> http,
                      std::shared_ptr<const FileSystemOperating> fs, PrivilegedExecutor executor, Options options);
    HomebrewInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const HTTPFetching> http,
                      std::shared_ptr<const FileSystemOperating> fs, PrivilegedExecutor executor)
        : HomebrewInstaller(std::move(process), std::move(http), std::move(fs), std::move(executor), Options{}) {}

    // Starts the run on its own thread. Cancelling `cancel`, or abandoning the
    // stream, stops the script; the former still delivers canceled.
    EventStream<Event> run(const CancelToken& cancel = {}) const;

private:
    Event perform(const EventSink<Event>& sink, const RunCancellation& run) const;
    // The install script's text, or the line that says why there is none.
    Result<std::string> fetchScript(const CancelToken& cancel) const;
    void appendShellenv(const EventSink<Event>& sink) const;

    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const HTTPFetching> m_http;
    std::shared_ptr<const FileSystemOperating> m_fs;
    PrivilegedExecutor m_executor;
    Options m_options;
};

}  // namespace lumo
