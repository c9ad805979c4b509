#include "remediation/PKGInstaller.h"

#include <cstdio>
#include <thread>

#include "remediation/InstallerPackage.h"

namespace lumo {

namespace {

std::string megabytes(std::int64_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1'048'576.0);
    return text;
}

}  // namespace

std::optional<std::string> describe(const PKGInstallerEvent& event, int major) {
    using namespace pkg_event;
    if (std::holds_alternative<Fetching>(event)) return "Looking up Temurin " + std::to_string(major) + " on Adoptium…";
    if (std::holds_alternative<SlowResponse>(event)) return "Adoptium is responding slowly — still trying…";
    if (const auto* downloading = std::get_if<Downloading>(&event)) {
        if (downloading->totalBytes && *downloading->totalBytes >= 1) {
            return "Downloaded " + megabytes(downloading->bytesReceived) + " MB of " +
                   megabytes(*downloading->totalBytes) + " MB";
        }
        return "Downloaded " + megabytes(downloading->bytesReceived) + " MB";
    }
    if (std::holds_alternative<Verifying>(event)) return "Verifying SHA256 checksum…";
    if (std::holds_alternative<Installing>(event)) {
        return "Running /usr/sbin/installer (macOS will ask for your password)…";
    }
    if (std::holds_alternative<Completed>(event)) return "Installer completed.";
    if (std::holds_alternative<FinishingInstall>(event)) return kFinishingInstallMessage;
    if (const auto* error = std::get_if<pkg_event::Error>(&event)) return "Error: " + error->message;
    return std::nullopt;
}

PKGInstaller::PKGInstaller(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const HTTPFetching> http,
                           std::shared_ptr<const FileSystemOperating> fs, AdoptiumAPI adoptium,
                           PrivilegedExecutor executor, Options options)
    : m_process(std::move(process)),
      m_http(std::move(http)),
      m_fs(std::move(fs)),
      m_adoptium(std::move(adoptium)),
      m_executor(std::move(executor)),
      m_options(std::move(options)) {}

EventStream<PKGInstaller::Event> PKGInstaller::run(int major, const std::string& prompt,
                                                   const CancelToken& cancel) const {
    auto [stream, sink] = makeEventStream<Event>();
    auto cancellation = RunCancellation::forStream(sink, cancel);
    std::thread([self = *this, major, prompt, sink = sink, cancellation] {
        std::optional<std::string> packagePath;
        const Event last = self.perform(major, prompt, sink, *cancellation, packagePath);
        // The package goes before the last event, so whoever sees the end of
        // the run finds it gone.
        if (packagePath) (void)self.m_fs->removeItem(*packagePath);
        sink.yield(last);
        sink.finish();
    }).detach();
    return std::move(stream);
}

PKGInstaller::Event PKGInstaller::perform(int major, const std::string& prompt, const EventSink<Event>& sink,
                                          const RunCancellation& run, std::optional<std::string>& packagePath) const {
    const CancelToken token = run.token();
    const std::string& architecture = m_options.architecture;
    const auto slow = [sink] { sink.yield(pkg_event::SlowResponse{}); };
    const auto failure = [&](const lumo::Error& error) -> Event {
        const bool urlError = error.domain == kURLErrorDomain;
        if (run.isCanceled() || (urlError && error.code == url_error::kCancelled)) return pkg_event::Canceled{};
        if (urlError && error.code == url_error::kTimedOut) return pkg_event::Error{kAdoptiumTimeoutMessage};
        return pkg_event::Error{error.description + " (pkg: " + packagePath.value_or("n/a") + ")"};
    };

    sink.yield(pkg_event::Fetching{});
    auto metadata = [&] {
        Watchdog watchdog(m_options.fetchWatchdog, slow, token);
        return m_adoptium.fetchLatestInstaller(major, architecture, token);
    }();
    if (!metadata) return failure(metadata.error());
    if (run.isCanceled()) return pkg_event::Canceled{};

    std::string digest;
    {
        Watchdog watchdog(m_options.downloadWatchdog, slow, token);
        auto path = installerPackagePath(*m_fs, major, architecture);
        if (!path) return failure(path.error());
        packagePath = *path;
        (void)m_fs->removeItem(*packagePath);  // a package left by an earlier run
        const lumo::Error httpError{"PKGInstaller", 2, "Adoptium download HTTP error"};
        auto downloaded =
            downloadInstallerPackage(*m_http, *m_fs, metadata->downloadURL, *packagePath, token, httpError);
        if (!downloaded) return failure(downloaded.error());
        digest = std::move(*downloaded);
        const auto attributes = m_fs->attributesOfItem(*packagePath);
        const auto size = static_cast<std::int64_t>(attributes ? attributes->size.value_or(0) : 0);
        sink.yield(pkg_event::Downloading{size, size});
    }
    if (run.isCanceled()) return pkg_event::Canceled{};

    sink.yield(pkg_event::Verifying{});
    if (auto status = checkInstallerDigest(digest, metadata->checksum); !status) return failure(status.error());
    if (run.isCanceled()) return pkg_event::Canceled{};

    sink.yield(pkg_event::Installing{});
    const CheckedPackage package{*packagePath, metadata->checksum, kTemurinInstallerTeamID};
    const auto outcome = m_executor.runAdministratorInstaller(*m_process, package, prompt, run.process(),
                                                              [sink] { sink.yield(pkg_event::FinishingInstall{}); });
    switch (outcome.kind) {
        case AdministratorOutcome::Kind::succeeded: return pkg_event::Completed{};
        case AdministratorOutcome::Kind::canceled: return pkg_event::Canceled{};
        case AdministratorOutcome::Kind::failed: break;
    }
    return pkg_event::Error{outcome.message};
}

}  // namespace lumo
