// PKGInstaller: installs Eclipse Temurin from the official macOS installer
// package, as a stream of events.
//
//   auto events = installer.run(21, "Enter Mac password to install Temurin to /Library/Java/JavaVirtualMachines/");
//   for (const PKGInstaller::Event& event : events) show(describe(event, 21));
//
// Steps: look the release up on Adoptium, download the package into the
// caches directory (hashing it as it arrives), check its SHA-256, and install
// it as administrator: root copies it into a folder of its own and checks the
// digest and the publisher's signature again there before /usr/sbin/installer
// sees it (PrivilegedExecutor). A step that takes long (8 s for the look-up,
// 15 s for the download) yields one slowResponse and goes on. The stream ends
// with exactly one completed, canceled or error, and the package file is
// removed whatever happened.
//
// A cancel while root is already installing cannot stop it: the run yields
// finishingInstall and ends with the install's real outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/ProcessRunning.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/PrivilegedExecutor.h"
#include "remediation/RunSupport.h"

namespace lumo {

namespace pkg_event {
struct Downloading {
    std::int64_t bytesReceived = 0;
    std::optional<std::int64_t> totalBytes;
    friend bool operator==(const Downloading&, const Downloading&) = default;
};
struct Error {
    std::string message;
    friend bool operator==(const Error&, const Error&) = default;
};
struct Fetching {
    friend bool operator==(const Fetching&, const Fetching&) = default;
};
struct SlowResponse {
    friend bool operator==(const SlowResponse&, const SlowResponse&) = default;
};
struct Verifying {
    friend bool operator==(const Verifying&, const Verifying&) = default;
};
struct Installing {
    friend bool operator==(const Installing&, const Installing&) = default;
};
struct Completed {
    friend bool operator==(const Completed&, const Completed&) = default;
};
struct Canceled {
    friend bool operator==(const Canceled&, const Canceled&) = default;
};
// Cancel came while root was installing; the run waits for the install's end.
struct FinishingInstall {
    friend bool operator==(const FinishingInstall&, const FinishingInstall&) = default;
};
}  // namespace pkg_event

using PKGInstallerEvent = std::variant<pkg_event::Downloading, pkg_event::Error, pkg_event::Fetching,
                                       pkg_event::SlowResponse, pkg_event::Verifying, pkg_event::Installing,
                                       pkg_event::Completed, pkg_event::Canceled, pkg_event::FinishingInstall>;

inline bool isTerminal(const PKGInstallerEvent& event) {
    return std::holds_alternative<pkg_event::Error>(event) || std::holds_alternative<pkg_event::Completed>(event) ||
           std::holds_alternative<pkg_event::Canceled>(event);
}

// The transcript line for an event; nothing for canceled.
std::optional<std::string> describe(const PKGInstallerEvent& event, int major);

inline constexpr const char* kAdoptiumTimeoutMessage =
    "Adoptium didn't respond within 20 seconds. Try again in a moment, or use Other Java install methods.";

class PKGInstaller {
public:
    using Event = PKGInstallerEvent;

    struct Options {
        std::chrono::milliseconds fetchWatchdog{8'000};
        std::chrono::milliseconds downloadWatchdog{15'000};
        std::string architecture = kAdoptiumArchitecture;
    };

    PKGInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const HTTPFetching> http,
                 std::shared_ptr<const FileSystemOperating> fs, AdoptiumAPI adoptium, PrivilegedExecutor executor,
                 Options options);
    PKGInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const HTTPFetching> http,
                 std::shared_ptr<const FileSystemOperating> fs, AdoptiumAPI adoptium, PrivilegedExecutor executor)
        : PKGInstaller(std::move(process), std::move(http), std::move(fs), std::move(adoptium), std::move(executor),
                       Options{}) {}

    // Starts the run on its own thread. Cancelling `cancel`, or abandoning the
    // stream, stops the step now running; the former still delivers canceled
    // (or, once root is installing, finishingInstall and the real outcome).
    EventStream<Event> run(int major, const std::string& prompt, const CancelToken& cancel = {}) const;

private:
    // The steps, in order; returns the last event. Sets `packagePath` once the
    // package has a place, so the caller can remove it.
    Event perform(int major, const std::string& prompt, const EventSink<Event>& sink, const RunCancellation& run,
                  std::optional<std::string>& packagePath) const;

    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const HTTPFetching> m_http;
    std::shared_ptr<const FileSystemOperating> m_fs;
    AdoptiumAPI m_adoptium;
    PrivilegedExecutor m_executor;
    Options m_options;
};

}  // namespace lumo
