// BrewRunner: `brew install --cask <cask>` with the repairs a GUI-driven
// install of Temurin needs.
//
//   BrewRunner runner{brewPath, process, http, fs, executor, adoptium};
//   for (const StreamEvent& event : runner.run("temurin@21", prompt)) ...
//
// brew runs with the askpass sandbox, so its `sudo` asks through a macOS
// dialog. For Temurin casks two failures are repaired: Homebrew claiming the
// cask is installed while the JDK is missing (one `brew reinstall --cask`),
// and Homebrew's sudo ignoring the wrapper ("a terminal is required"), after
// which the official installer package is installed directly. The stream ends
// with exactly one completed or canceled.
#pragma once

#include <memory>
#include <string>

#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/PrivilegedExecutor.h"
#include "remediation/RunSupport.h"

namespace lumo {

inline constexpr const char* kJavaVirtualMachinesDirectory = "/Library/Java/JavaVirtualMachines";

// Transcript tests: `transcript` holds the run's lines in lower case, each
// followed by a line feed.
bool sudoBypassedWrapper(const std::string& transcript);
bool brewPrivilegeRefused(const std::string& transcript);
bool caskAlreadyInstalled(const std::string& transcript);

class BrewRunner {
public:
    using Event = StreamEvent;

    struct Options {
        std::string javaVirtualMachines = kJavaVirtualMachinesDirectory;
        std::string architecture = kAdoptiumArchitecture;
    };

    BrewRunner(std::string brewPath, std::shared_ptr<const ProcessRunning> process,
               std::shared_ptr<const HTTPFetching> http, std::shared_ptr<const FileSystemOperating> fs,
               PrivilegedExecutor executor, AdoptiumAPI adoptium, Options options);
    BrewRunner(std::string brewPath, std::shared_ptr<const ProcessRunning> process,
               std::shared_ptr<const HTTPFetching> http, std::shared_ptr<const FileSystemOperating> fs,
               PrivilegedExecutor executor, AdoptiumAPI adoptium)
        : BrewRunner(std::move(brewPath), std::move(process), std::move(http), std::move(fs), std::move(executor),
                     std::move(adoptium), Options{}) {}

    // Starts the run on its own thread. Cancelling `cancel`, or abandoning the
    // stream, stops the step now running; the former still delivers canceled.
    EventStream<Event> run(const std::string& cask, const std::string& prompt, const CancelToken& cancel = {}) const;

    // Whether the JDK a Temurin cask installs is on disk.
    bool isJDKPresent(const std::string& cask) const;

private:
    struct CommandResult {
        int exitCode = -1;
        std::string transcript;
        bool canceled = false;
    };

    CommandResult runBrew(const std::string& verb, const std::string& cask, const Environment& environment,
                          const EventSink<Event>& sink, const RunCancellation& run) const;
    Event perform(const std::string& cask, const std::string& prompt, const EventSink<Event>& sink,
                  const RunCancellation& run) const;
    Event packageFallback(const std::string& cask, const std::string& prompt, const EventSink<Event>& sink,
                          const RunCancellation& run) const;

    std::string m_brewPath;
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const HTTPFetching> m_http;
    std::shared_ptr<const FileSystemOperating> m_fs;
    PrivilegedExecutor m_executor;
    AdoptiumAPI m_adoptium;
    Options m_options;
};

}  // namespace lumo
