#include "screens/RemediationRun.h"

#include <memory>
#include <mutex>

#include "platform/NativeArchitectureRunner.h"
#include "profiling/MachineArchitecture.h"
#include "remediation/AdoptiumAPI.h"
#include "remediation/BrewRunner.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/JEnvRunner.h"
#include "remediation/MiseRunner.h"
#include "remediation/PKGInstaller.h"
#include "remediation/PrivilegedExecutor.h"
#include "remediation/RunSupport.h"
#include "remediation/SDKMANRunner.h"

namespace lumo {

namespace {

using Case = Remediation::Case;
using ExitCode = std::optional<std::int32_t>;

constexpr std::int32_t kCommandNotFound = 127;

// The services a run uses: children started natively when the app runs
// translated on Apple silicon.
AppServices runServices(AppServices services) {
    services.processRunner = startingNatively(std::move(services.processRunner), services.host);
    return services;
}

// Adoptium's name for the machine's processor; this build's when unknown.
std::string adoptiumArchitectureOf(const HostInfo& host) {
    const std::string architecture = adoptiumArchitecture(host.machineArchitecture);
    return architecture.empty() ? kAdoptiumArchitecture : architecture;
}

constexpr const char* kMiseNotFound =
    "Mise not found: it isn't in /opt/homebrew/bin, /usr/local/bin or ~/.local/bin, nor on your Terminal's PATH.";
constexpr const char* kJenvNotFound =
    "jEnv not found: it isn't in ~/.jenv/bin, /opt/homebrew/bin or /usr/local/bin, nor on your Terminal's PATH.";

// The shell-based runners stop their child when their stream is abandoned;
// this lets the cancelling thread abandon whichever step is running.
class CurrentStep {
public:
    void attach(EventStream<StreamEvent>* stream) {
        std::lock_guard lock(m_mutex);
        m_current = stream;
        if (m_cancelled && m_current) m_current->cancel();
    }
    void detach() {
        std::lock_guard lock(m_mutex);
        m_current = nullptr;
    }
    void cancel() {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        if (m_current) m_current->cancel();
    }

private:
    std::mutex m_mutex;
    EventStream<StreamEvent>* m_current = nullptr;  // guarded by m_mutex
    bool m_cancelled = false;                       // guarded by m_mutex
};

class Steps {
public:
    Steps(Remediation remediation, AppServices services, CancelToken cancel, EventSink<RemediationRunEvent> sink)
        : m_remediation(std::move(remediation)),
          m_services(runServices(std::move(services))),
          m_cancel(std::move(cancel)),
          m_sink(std::move(sink)),
          m_step(std::make_shared<CurrentStep>()) {
        std::weak_ptr<CurrentStep> weak = m_step;
        m_cancel.onCancel([weak] {
            if (auto step = weak.lock()) step->cancel();
        });
    }

    void run() {
        run_event::Ended ended;
        ended.exitCode = perform();
        if (ended.exitCode == 0 && !m_cancel.isCancelled()) {
            std::string readError;
            ended.zshrcPreview = zshrcFollowUp(m_remediation, m_services, &readError);
            if (!readError.empty()) {
                const std::string zshrc = zshrcPath(m_remediation, *m_services.fs);
                line("Couldn't read " + abbreviatingHome(zshrc, m_services.fs->homeDirectory()) + ": " + readError);
            }
        }
        m_sink.yield(std::move(ended));
        m_sink.finish();
    }

private:
    void line(std::string text) const { m_sink.yield(run_event::Line{std::move(text)}); }

    PrivilegedExecutor executor() const { return {m_services.fs, m_services.host.environment}; }

    // Feeds a runner's lines through (or, with `captured`, collects them
    // there instead); its exit code, or nothing when it ended without one.
    ExitCode pipe(EventStream<StreamEvent> stream, std::string* captured = nullptr) {
        m_step->attach(&stream);
        ExitCode code;
        for (const StreamEvent& event : stream) {
            if (const auto* output = std::get_if<stream_event::Output>(&event)) {
                if (captured)
                    *captured += output->text + "\n";
                else
                    line(output->text);
            } else if (const auto* completed = std::get_if<stream_event::Completed>(&event)) {
                code = completed->exitCode;
                break;
            } else {
                break;
            }
        }
        m_step->detach();
        return code;
    }

    // A shell step's exit code, with a line saying what 127 (a command the
    // shell could not find) means for it.
    ExitCode explained(ExitCode code, const std::string& notFound) {
        if (code == kCommandNotFound) line(notFound);
        return code;
    }

    ExitCode installPackage(int major) {
        PKGInstaller::Options options;
        options.architecture = adoptiumArchitectureOf(m_services.host);
        PKGInstaller installer(m_services.processRunner, m_services.http, m_services.fs, AdoptiumAPI(m_services.http),
                               executor(), options);
        for (const PKGInstallerEvent& event : installer.run(major, kTemurinPrompt, m_cancel)) {
            if (auto text = describe(event, major)) line(*text);
            if (std::holds_alternative<pkg_event::Completed>(event)) return 0;
            if (std::holds_alternative<pkg_event::Error>(event)) return 1;
            if (std::holds_alternative<pkg_event::Canceled>(event)) return std::nullopt;
        }
        return std::nullopt;
    }

    ExitCode brewInstall(const std::string& cask, const std::string& prompt) {
        // The brew the profile found (a custom prefix may be known only from
        // the Terminal's PATH); once Homebrew was just installed, its own.
        const std::string& found = m_remediation.toolPath();
        const auto brew = !found.empty() && m_services.fs->isExecutableFile(found) ? found : locateBrew(*m_services.fs);
        if (!brew) {
            line("Homebrew not found in /opt/homebrew/bin or /usr/local/bin.");
            return -1;
        }
        BrewRunner::Options options;
        options.architecture = adoptiumArchitectureOf(m_services.host);
        BrewRunner runner(*brew, m_services.processRunner, m_services.http, m_services.fs, executor(),
                          AdoptiumAPI(m_services.http), options);
        return pipe(runner.run(cask, prompt, m_cancel));
    }

    ExitCode installHomebrew() {
        line("Running: " + homebrewInstallCommand());
        HomebrewInstaller installer(m_services.processRunner, m_services.http, m_services.fs, executor());
        return pipe(installer.run(m_cancel));
    }

    // The user's login shell, as a new Terminal window starts it.
    ShellRunner shell() const { return {m_services.processRunner, LoginShell::forHost(m_services.host)}; }

    std::string sdkmanRoot() const { return joinPath(m_services.fs->homeDirectory(), ".sdkman"); }

    bool sdkmanPresent() {
        if (m_services.fs->fileExists(joinPath(sdkmanRoot(), "bin/sdkman-init.sh"))) return true;
        line("SDKMAN init script not found at ~/.sdkman/bin/sdkman-init.sh.");
        return false;
    }

    SDKMANRunner sdkman() const { return {sdkmanRoot(), shell(), m_services.fs}; }

    ExitCode sdkmanStep(const SDKMANRunner& sdkman, const std::string& arguments, std::string* captured = nullptr) {
        return explained(pipe(sdkman.run(arguments), captured),
                         "SDKMAN's `sdk` command didn't load from ~/.sdkman/bin/sdkman-init.sh (exit code 127).");
    }

    ExitCode sdkmanDefault(const SDKMANRunner& sdkman, const std::string& identifier) {
        line("Running: sdk default java " + identifier);
        return sdkmanStep(sdkman, SDKMANRunner::defaultArguments(identifier));
    }

    // The newest Temurin `major` from `sdk list java`, installed and made the
    // default. SDKMAN installs only the full identifiers its list shows.
    ExitCode sdkmanInstall(int major) {
        const SDKMANRunner sdkman = this->sdkman();
        const std::string majorText = std::to_string(major);
        line("Looking up the newest Temurin " + majorText + " in `sdk list java`…");
        std::string listing;
        const ExitCode listed = sdkmanStep(sdkman, SDKMANRunner::kListArguments, &listing);
        if (!listed || m_cancel.isCancelled()) return listed;
        const auto newest = newestTemurin(parseSDKMANJavaList(listing), major);
        if (!newest) {
            if (sdkmanListIsOffline(listing))
                line(
                    "SDKMAN couldn't reach its server, so it can't tell which Temurin builds it offers. Check your "
                    "internet connection and try again.");
            else if (*listed != 0 && *listed != kCommandNotFound)
                line("`sdk list java` failed (exit code " + std::to_string(*listed) + ").");
            else if (*listed == 0)
                line("SDKMAN doesn't offer a Temurin " + majorText + " build for this Mac.");
            return *listed != 0 ? *listed : 1;
        }
        const std::string& identifier = newest->identifier;
        m_sink.yield(run_event::Subtitle{Remediation::sdkmanInstallSubtitle(identifier)});
        line("Newest Temurin " + majorText + " on SDKMAN: " + identifier);
        ExitCode installed = 0;
        if (newest->status == "installed") {
            line("Temurin " + identifier + " is already installed through SDKMAN.");
        } else {
            line("Running: sdk install java " + identifier);
            installed = sdkmanStep(sdkman, SDKMANRunner::installArguments(identifier));
        }
        return then(installed, [&] { return sdkmanDefault(sdkman, identifier); });
    }

    std::optional<MiseRunner> mise() {
        const auto executable = locateTool(*m_services.fs, kMise, m_remediation.toolPath());
        if (!executable) {
            line(kMiseNotFound);
            return std::nullopt;
        }
        return MiseRunner(*executable, shell(), m_services.fs);
    }

    ExitCode miseStep(EventStream<StreamEvent> stream) {
        return explained(pipe(std::move(stream)), "A command of this fix wasn't found (exit code 127).");
    }

    std::optional<JEnvRunner> jenv() {
        const auto executable = locateTool(*m_services.fs, kJenv, m_remediation.toolPath());
        if (!executable) {
            line(kJenvNotFound);
            return std::nullopt;
        }
        return JEnvRunner(joinPath(m_services.fs->homeDirectory(), ".jenv"), *executable, shell(), m_services.fs);
    }

    ExitCode registerWithJenv(const JEnvRunner& jenv, const std::string& home, int major) {
        line("Registering " + home + " with jEnv (major " + std::to_string(major) + ")…");
        return explained(pipe(jenv.registerJDK(home, major)), "A command of this fix wasn't found (exit code 127).");
    }

    // Runs `next` only when the step before exited 0 and nobody cancelled.
    template <class Next>
    ExitCode then(ExitCode previous, Next next) {
        if (previous != 0 || m_cancel.isCancelled()) return previous;
        return next();
    }

    ExitCode perform() {
        const Remediation& r = m_remediation;
        switch (r.kind()) {
            case Case::installTemurinViaBrew: return brewInstall(r.cask(), kTemurinPrompt);
            case Case::installWarpViaBrew: return brewInstall(r.cask(), "");
            case Case::installViaSDKMAN:
                if (!sdkmanPresent()) return -1;
                return sdkmanInstall(r.majorVersion());
            case Case::setJavaHomeViaSDKMAN:
                if (!sdkmanPresent()) return -1;
                return sdkmanDefault(sdkman(), r.candidate());
            case Case::installViaMise: {
                const auto mise = this->mise();
                if (!mise) return -1;
                line("Running: mise install java@" + r.miseVersion() + " && mise use -g java@" + r.miseVersion() +
                     " (mise at " + mise->miseExecutable() + ")");
                return miseStep(mise->install(r.miseVersion()));
            }
            case Case::setJavaHomeViaMise: {
                const auto mise = this->mise();
                if (!mise) return -1;
                line("Running: mise use -g java@" + r.miseVersion() + " (mise at " + mise->miseExecutable() + ")");
                return miseStep(mise->use(r.miseVersion()));
            }
            case Case::installViaPKG: return installPackage(r.majorVersion());
            case Case::installViaPKGThenJEnv: {
                // jEnv is checked first: without it the fix could not finish.
                const auto jenv = this->jenv();
                if (!jenv) return -1;
                return then(installPackage(r.majorVersion()), [&]() -> ExitCode {
                    line("Locating installed Temurin…");
                    const auto jdks = Probes(m_services, [](const std::string&) {}).collect().installedJDKs;
                    const auto jdk = jdkToRegister(jdks, r.majorVersion());
                    if (!jdk) {
                        line(
                            "Installed Temurin but couldn't locate a Java installation to register with jEnv. "
                            "You can run `jenv add /path/to/java` manually.");
                        return 1;
                    }
                    return registerWithJenv(*jenv, jdk->path, r.majorVersion());
                });
            }
            case Case::setJavaHomeViaJenv: {
                const auto jenv = this->jenv();
                if (!jenv) return -1;
                return registerWithJenv(*jenv, r.jdkPath(), r.majorVersion());
            }
            case Case::installHomebrew: return installHomebrew();
            case Case::installHomebrewThenTemurin:
                return then(installHomebrew(), [&] {
                    line("Homebrew installed. Now installing Temurin via Homebrew…");
                    return brewInstall(r.cask(), kTemurinPrompt);
                });
            case Case::installHomebrewThenWarp:
                return then(installHomebrew(), [&] {
                    line("Homebrew installed. Now installing Warp via Homebrew…");
                    return brewInstall(r.cask(), "");
                });
            case Case::writeJavaHomeToZprofile:
            case Case::keepCurrentLegacyJava:
                // Shown as a reviewed diff, never streamed.
                line("This fix is applied from its review sheet.");
                return 1;
        }
        return 1;
    }

    Remediation m_remediation;
    AppServices m_services;
    CancelToken m_cancel;
    EventSink<RemediationRunEvent> m_sink;
    std::shared_ptr<CurrentStep> m_step;
};

}  // namespace

std::optional<std::string> locateBrew(const FileSystemOperating& fs) {
    for (const char* candidate : {"/opt/homebrew/bin/brew", "/usr/local/bin/brew"}) {
        if (fs.fileExists(candidate)) return std::string(candidate);
    }
    return std::nullopt;
}

std::optional<JDKInfo> jdkToRegister(const std::vector<JDKInfo>& installed, int major) {
    if (installed.empty()) return std::nullopt;
    const std::string majorText = std::to_string(major);
    for (const JDKInfo& jdk : installed) {
        if (jdk.version == majorText || startsWith(jdk.version, majorText + ".") ||
            jdk.path.find("temurin-" + majorText) != std::string::npos) {
            return jdk;
        }
    }
    return installed.front();
}

std::optional<std::string> locateTool(const FileSystemOperating& fs, const ToolLocations& tool,
                                      const std::string& detected) {
    if (!detected.empty() && fs.isExecutableFile(detected)) return detected;
    return findTool(fs, tool, fs.homeDirectory(), {});
}

std::string zshrcPath(const Remediation& remediation, const FileSystemOperating& fs) {
    const std::string& directory = remediation.startupDirectory();
    return joinPath(directory.empty() ? fs.homeDirectory() : directory, ".zshrc");
}

std::optional<FileAppendWriter::DiffPreview> zshrcFollowUp(const Remediation& remediation, const AppServices& services,
                                                           std::string* readError) {
    std::vector<std::string> lines;
    std::string label;
    const std::string home = services.fs->homeDirectory();
    const std::string zshrc = zshrcPath(remediation, *services.fs);
    switch (remediation.kind()) {
        case Case::installViaMise:
        case Case::setJavaHomeViaMise: {
            const auto mise = locateTool(*services.fs, kMise, remediation.toolPath());
            lines = MiseRunner(mise.value_or("mise"),
                               ShellRunner(services.processRunner, LoginShell::forHost(services.host)), services.fs)
                        .missingZshrcLines(zshrc);
            label = MiseRunner::kZshrcLabel;
            break;
        }
        case Case::installViaPKGThenJEnv:
        case Case::setJavaHomeViaJenv: {
            const auto jenv = locateTool(*services.fs, kJenv, remediation.toolPath());
            lines = JEnvRunner(joinPath(home, ".jenv"), jenv.value_or(""),
                               ShellRunner(services.processRunner, LoginShell::forHost(services.host)), services.fs)
                        .missingZshrcLines(zshrc);
            label = JEnvRunner::kZshrcLabel;
            break;
        }
        default: return std::nullopt;
    }
    if (lines.empty()) return std::nullopt;
    auto preview = FileAppendWriter(zshrc, services.fs).previewAppending(lines, label);
    if (!preview) {
        if (readError) *readError = preview.error().description;
        return std::nullopt;
    }
    return std::move(*preview);
}

RemediationRun startRemediationRun(const Remediation& remediation, const AppServices& services,
                                   const CancelToken& cancel) {
    auto [events, sink] = makeEventStream<RemediationRunEvent>();
    // Abandoning the events cancels the run as the token would.
    auto abandoned = std::make_shared<CancelSource>();
    sink.onTermination([abandoned] { abandoned->cancel(); });
    cancel.onCancel([abandoned] { abandoned->cancel(); });
    auto steps = std::make_shared<Steps>(remediation, services, abandoned->token(), sink);
    std::thread worker([steps, abandoned] { steps->run(); });
    return {std::move(events), std::move(worker)};
}

}  // namespace lumo
