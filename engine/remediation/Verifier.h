// Verifier: does Java work the way the user will meet it, in a new Terminal?
//
// Every verify() starts fresh shells in the Terminal view of the user's login
// shell (nothing is cached), so a block just appended to ~/.zprofile or a
// version manager's new default is seen -- and so is a ~/.zshrc that undoes it:
//
//   Verifier verifier(services);
//   Verifier::Result result = verifier.verify(/*expectedMajor=*/21);
//   if (result.passed(/*requiringJavaHome=*/true)) { ... }
//
// It passes only when JAVA_HOME (by its resolved path) is a directory with an
// executable bin/java, that JDK is the Java major just installed or chosen,
// and `java -version` reports that major. It never runs the system's
// /usr/bin/java when /usr/libexec/java_home knows no JDK: on a Mac that stub
// opens the "install Java" dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileSystemOperating.h"
#include "platform/LoginShell.h"
#include "platform/ProcessRunning.h"
#include "profiling/ShellView.h"

namespace lumo {

struct AppServices;

class Verifier {
public:
    struct Result {
        std::string javaVersionOutput;             // java -version, stderr merged by the shell
        std::int32_t javaVersionExitCode = 0;      // -1 when the shell could not be started or java was not run
        std::optional<std::string> javaHomeValue;  // absent when unset or empty

        std::optional<int> expectedMajor{};  // the Java major just installed or chosen; nothing when not known
        ShellView terminal{};                // what the new Terminal window saw
        bool javaNotRegistered = false;      // `java` was the system stub and java_home knew no JDK: not run
        bool timedOut = false;               // a shell's start-up outlived the time limit
        ShellStartup startup{};              // the shell that verified and its start-up files

        // The Java major `java -version` reported, if any.
        std::optional<int> reportedMajor() const;
        // The major of the JDK JAVA_HOME points at, if it could be read.
        std::optional<int> javaHomeMajor() const;
        // The start-up file that sets JAVA_HOME last ("~/.zshrc"), when one can tell.
        std::optional<std::string> javaHomeSetIn() const;

        // True only when nothing timed out; `java -version` exited 0 and said
        // "version" (any case), with the expected major when one is known; and
        // JAVA_HOME, when set -- and it must be when `requiringJavaHome` --
        // resolves to a JDK with an executable bin/java of the expected major.
        bool passed(bool requiringJavaHome) const;
        // What failed, in one or two sentences for the user; empty when passed.
        std::string failure(bool requiringJavaHome) const;

        friend bool operator==(const Result&, const Result&) = default;
    };

    static constexpr const char* kVersionCommand = "command java -version 2>&1";
    static constexpr const char* kMarker = "__FXW_VERIFY_JAVA_HOME__:";
    static constexpr const char* kSystemJavaStub = "/usr/bin/java";

    Verifier(std::shared_ptr<const ProcessRunning> process, std::shared_ptr<const FileSystemOperating> fs,
             LoginShell shell, DiagnosticLog log = printDiagnosticLine);
    // The services' runner, file system and the user's login shell; when the
    // app runs translated on Apple silicon, the shells start natively.
    explicit Verifier(const AppServices& services);

    // Reads the Terminal view (and asks java_home at the same time), then runs
    // `java -version` in another fresh Terminal-view shell unless that would
    // start the stub. Never fails; blocks the calling (worker) thread.
    Result verify(std::optional<int> expectedMajor = std::nullopt) const;

private:
    std::shared_ptr<const ProcessRunning> m_process;
    std::shared_ptr<const FileSystemOperating> m_fs;
    LoginShell m_shell;
    DiagnosticLog m_log;
};

}  // namespace lumo
