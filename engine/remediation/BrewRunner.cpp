#include "remediation/BrewRunner.h"

#include <charconv>
#include <thread>

#include "remediation/InstallerPackage.h"

namespace lumo {

namespace {

using stream_event::Canceled;
using stream_event::Completed;
using stream_event::Output;

constexpr const char* kBrewPackageDomain = "BrewRunner.PKG";

// The version after the '@' of a cask ("temurin@21"); nothing without one.
std::optional<std::string> caskVersion(const std::string& cask) {
    const auto at = cask.find('@');
    if (at == std::string::npos || at + 1 >= cask.size()) return std::nullopt;
    return cask.substr(at + 1);
}

// Decimal with an optional leading sign, the whole text.
std::optional<int> parseMajor(const std::string& text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty() || digits.front() == '+') return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

// Runs `action` when the scope ends, whichever way.
template <class Action>
class ScopeExit {
public:
    explicit ScopeExit(Action action) : m_action(std::move(action)) {}
    ~ScopeExit() { m_action(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Action m_action;
};

}  // namespace

bool sudoBypassedWrapper(const std::string& transcript) {
    return transcript.find("a terminal is required") != std::string::npos &&
           transcript.find("a password is required") != std::string::npos;
}

bool brewPrivilegeRefused(const std::string& transcript) {
    return containsAny(transcript,
                       {"a password is required", "sudo: a password is required", "user canceled", "sudo_askpass",
                        "askpass", "authentication failed", "execution error: user canceled"});
}

bool caskAlreadyInstalled(const std::string& transcript) {
    return transcript.find("not upgrading") != std::string::npos &&
           transcript.find("already installed") != std::string::npos;
}

BrewRunner::BrewRunner(std::string brewPath, std::shared_ptr<const ProcessRunning> process,
                       std::shared_ptr<const HTTPFetching> http, std::shared_ptr<const FileSystemOperating> fs,
                       PrivilegedExecutor executor, AdoptiumAPI adoptium, Options options)
    : m_brewPath(std::move(brewPath)),
      m_process(std::move(process)),
      m_http(std::move(http)),
      m_fs(std::move(fs)),
      m_executor(std::move(executor)),
      m_adoptium(std::move(adoptium)),
      m_options(std::move(options)) {}

EventStream<BrewRunner::Event> BrewRunner::run(const std::string& cask, const std::string& prompt,
                                               const CancelToken& cancel) const {
    auto [stream, sink] = makeEventStream<Event>();
    auto cancellation = RunCancellation::forStream(sink, cancel);
    std::thread([self = *this, cask, prompt, sink = sink, cancellation] {
        const Event last = self.perform(cask, prompt, sink, *cancellation);
        sink.yield(last);
        sink.finish();
    }).detach();
    return std::move(stream);
}

bool BrewRunner::isJDKPresent(const std::string& cask) const {
    const std::string& root = m_options.javaVirtualMachines;
    if (const auto version = caskVersion(cask)) {
        return m_fs->isExecutableFile(root + "/temurin-" + *version + ".jdk/Contents/Home/bin/java");
    }
    const auto entries = m_fs->contentsOfDirectory(root);
    if (!entries) return false;
    for (const auto& entry : *entries) {
        if (startsWith(entry, "temurin-") && endsWith(entry, ".jdk") &&
            m_fs->isExecutableFile(root + "/" + entry + "/Contents/Home/bin/java")) {
            return true;
        }
    }
    return false;
}

BrewRunner::CommandResult BrewRunner::runBrew(const std::string& verb, const std::string& cask,
                                              const Environment& environment, const EventSink<Event>& sink,
                                              const RunCancellation& run) const {
    auto child =
        forwardChildOutput(m_process->stream(m_brewPath, {verb, "--cask", cask}, environment), "brew", sink, run);
    return CommandResult{child.exitCode, std::move(child.transcript), run.isCanceled()};
}

BrewRunner::Event BrewRunner::perform(const std::string& cask, const std::string& prompt, const EventSink<Event>& sink,
                                      const RunCancellation& run) const {
    auto sandbox = m_executor.prepare(prompt);
    if (!sandbox) {
        sink.yield(Output{"Failed to set up privileged executor: " + sandbox.error().description});
        return Completed{-1};
    }
    // The sandbox goes before the last event is delivered.
    ScopeExit cleanup([&] { sandbox->cleanup(); });

    Environment environment = m_executor.appEnvironment();
    for (const auto& [key, value] : sandbox->environment) environment[key] = value;

    const bool temurin = startsWith(cask, "temurin");
    CommandResult result = runBrew("install", cask, environment, sink, run);
    // Installed by Homebrew's account but not on disk: one reinstall.
    if (!result.canceled && result.exitCode == 0 && temurin && caskAlreadyInstalled(result.transcript) &&
        !isJDKPresent(cask)) {
        sink.yield(Output{""});
        sink.yield(Output{"Homebrew reports " + cask +
                          " is already installed, but the JDK is missing from /Library/Java/JavaVirtualMachines/. "
                          "Retrying with `brew reinstall --cask " +
                          cask + "`…"});
        result = runBrew("reinstall", cask, environment, sink, run);
    }
    if (result.canceled) return Canceled{};
    if (result.exitCode != 0 && temurin && sudoBypassedWrapper(result.transcript)) {
        return packageFallback(cask, prompt, sink, run);
    }
    if (result.exitCode != 0 && brewPrivilegeRefused(result.transcript)) return Canceled{};
    return Completed{result.exitCode};
}

BrewRunner::Event BrewRunner::packageFallback(const std::string& cask, const std::string& prompt,
                                              const EventSink<Event>& sink, const RunCancellation& run) const {
    const CancelToken token = run.token();
    const std::string& architecture = m_options.architecture;
    sink.yield(Output{""});
    sink.yield(Output{"Homebrew bypassed our sudo wrapper. Falling back to direct .pkg install…"});

    const std::string majorText = caskVersion(cask).value_or("25");
    sink.yield(Output{"Looking up Temurin " + majorText + " (" + architecture + ") on Adoptium…"});

    std::optional<std::string> packagePath;
    // The package is not kept once the fallback has ended, whatever happened.
    ScopeExit removePackage([&] {
        if (packagePath) (void)m_fs->removeItem(*packagePath);
    });
    const auto failure = [&](const Error& error) -> Event {
        const bool urlError = error.domain == kURLErrorDomain;
        if (run.isCanceled() || (urlError && error.code == url_error::kCancelled)) return Canceled{};
        if (urlError && error.code == url_error::kTimedOut) {
            sink.yield(
                Output{"Adoptium didn't respond in time. Try again in a moment, or use Other Java install methods."});
        } else {
            sink.yield(Output{"Fallback failed: " + error.description});
        }
        return Completed{1};
    };

    const auto major = parseMajor(majorText);
    if (!major) return failure(Error{kBrewPackageDomain, 1, "Bad Temurin major version: " + majorText});
    auto metadata = m_adoptium.fetchLatestInstaller(*major, architecture, token);
    if (!metadata) return failure(metadata.error());

    auto path = installerPackagePath(*m_fs, *major, architecture);
    if (!path) return failure(path.error());
    packagePath = *path;
    (void)m_fs->removeItem(*packagePath);
    sink.yield(Output{"GET " + metadata->downloadURL});
    const Error httpError{kBrewPackageDomain, 2, "Adoptium download HTTP error"};
    auto digest = downloadInstallerPackage(*m_http, *m_fs, metadata->downloadURL, *packagePath, token, httpError);
    if (!digest) return failure(digest.error());
    sink.yield(Output{"Saved to " + *packagePath});

    sink.yield(Output{"Verifying download checksum…"});
    if (auto status = checkInstallerDigest(*digest, metadata->checksum); !status) return failure(status.error());
    if (run.isCanceled()) return Canceled{};

    sink.yield(Output{"Running /usr/sbin/installer (macOS will ask for your password)…"});
    const CheckedPackage package{*packagePath, metadata->checksum, kTemurinInstallerTeamID};
    const auto outcome = m_executor.runAdministratorInstaller(*m_process, package, prompt, run.process(),
                                                              [sink] { sink.yield(Output{kFinishingInstallMessage}); });
    switch (outcome.kind) {
        case AdministratorOutcome::Kind::succeeded: sink.yield(Output{"Installer completed."}); return Completed{0};
        case AdministratorOutcome::Kind::canceled: return Canceled{};
        case AdministratorOutcome::Kind::failed: break;
    }
    sink.yield(Output{"Installer failed: " + outcome.message});
    return Completed{1};
}

}  // namespace lumo
