#include "remediation/Verifier.h"

#include <algorithm>
#include <cctype>
#include <future>
#include <system_error>

#include "platform/AppServices.h"
#include "platform/NativeArchitectureRunner.h"
#include "profiling/Probes.h"

namespace lumo {

namespace {

std::optional<int> majorOf(const std::optional<std::string>& version) {
    return version ? majorVersion(wrappedVersion(*version)) : std::nullopt;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Starts `work` on a thread of its own, or defers it when there is no thread
// to spare.
template <class Work>
auto concurrently(Work work) {
    try {
        return std::async(std::launch::async, std::move(work));
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, std::move(work));
    }
}

}  // namespace

std::optional<int> Verifier::Result::reportedMajor() const { return majorVersion(javaVersionOutput); }

std::optional<int> Verifier::Result::javaHomeMajor() const { return majorOf(terminal.javaHomeVersion); }

std::optional<std::string> Verifier::Result::javaHomeSetIn() const {
    if (startup.javaHomeFiles.empty()) return std::nullopt;
    return abbreviatingHome(startup.javaHomeFiles.back(), startup.home);
}

bool Verifier::Result::passed(bool requiringJavaHome) const { return failure(requiringJavaHome).empty(); }

std::string Verifier::Result::failure(bool requiringJavaHome) const {
    if (timedOut) return startupTimedOutReason(startup);
    if (javaNotRegistered) {
        return "No Java is registered with macOS yet: the `java` a new Terminal window finds is the system's " +
               std::string(kSystemJavaStub) + ", which would only offer to install Java.";
    }
    std::string failed;
    const auto add = [&failed](const std::string& sentence) { failed += (failed.empty() ? "" : " ") + sentence; };
    const std::string expected = expectedMajor ? "Java " + std::to_string(*expectedMajor) : std::string();

    if (javaVersionExitCode != 0 || lowered(javaVersionOutput).find("version") == std::string::npos) {
        add("`java -version` failed in a new Terminal window (exit code " + std::to_string(javaVersionExitCode) + ").");
    } else if (expectedMajor && reportedMajor() != expectedMajor) {
        const auto reported = reportedMajor();
        add("`java -version` reports " + (reported ? "Java " + std::to_string(*reported) : "no Java version") +
            ", not " + expected +
            (terminal.javaCommand ? " (the `java` first on PATH is " + *terminal.javaCommand + ")" : std::string()) +
            ".");
    }

    const bool javaHomeSet = javaHomeValue && !javaHomeValue->empty();
    std::string javaHomeProblem;
    if (!javaHomeSet) {
        if (requiringJavaHome) javaHomeProblem = "JAVA_HOME isn't set in a new Terminal window.";
    } else if (!terminal.javaHomeHasJava) {
        javaHomeProblem = "JAVA_HOME points to " + *javaHomeValue + ", which is not a JDK.";
    } else if (expectedMajor && javaHomeMajor() && javaHomeMajor() != expectedMajor) {
        javaHomeProblem = "JAVA_HOME points to " + *javaHomeValue + ", which is Java " +
                          std::to_string(*javaHomeMajor()) + ", not " + expected + ".";
    }
    if (!javaHomeProblem.empty()) {
        add(javaHomeProblem);
        if (const auto file = javaHomeSetIn()) add("The last start-up file that sets it is " + *file + ".");
    }
    return failed;
}

Verifier::Verifier(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
                   LoginShell shell, DiagnosticLog log)
    : m_process(std::move(process)),
      m_fs(std::move(fs)),
      m_shell(std::move(shell)),
      m_log(log ? std::move(log) : DiagnosticLog([](const std::string&) {})) {}

Verifier::Verifier(const AppServices& services)
    : Verifier(startingNatively(services.processRunner, services.host), services.fs,
               LoginShell::forHost(services.host)) {}

Verifier::Result Verifier::verify(std::optional<int> expectedMajor) const {
    const ShellViewProbe probe(m_process, m_fs, m_shell, m_log);
    // Whether macOS knows any JDK: without one, /usr/bin/java is only the stub.
    auto registered = concurrently([this] {
        const auto result = m_process->run("/usr/libexec/java_home", {}, std::nullopt, RunOptions{m_shell.timeLimit()});
        return result && !result->timedOut && result->exitCode == 0 &&
               result->stdoutText.find_first_not_of(" \t\r\n") != std::string::npos;
    });

    Result result;
    result.expectedMajor = expectedMajor;
    result.terminal = probe.look(LoginShell::View::terminal, kMarker);
    result.javaHomeValue = result.terminal.javaHome;
    result.startup = probe.startup(result.terminal.startupDirectory);
    result.javaVersionExitCode = -1;
    const bool javaRegistered = registered.get();
    if (result.terminal.timedOut) {
        result.timedOut = true;
        return result;
    }

    const auto& java = result.terminal.javaCommand;
    const bool isStub =
        java && (*java == kSystemJavaStub || m_fs->resolvingSymlinks(*java).valueOr(std::string()) == kSystemJavaStub);
    if (isStub && !javaRegistered) {
        result.javaNotRegistered = true;
        return result;
    }

    const auto version = m_shell.run(*m_process, LoginShell::View::terminal, kVersionCommand);
    if (!version) {
        m_log("Verifier: couldn't run java -version: " + version.error().description);
        return result;
    }
    result.javaVersionOutput = version->stdoutText;
    result.javaVersionExitCode = version->exitCode;
    result.timedOut = version->timedOut;
    return result;
}

}  // namespace lumo
