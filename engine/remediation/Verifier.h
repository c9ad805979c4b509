// Verifier: does Java work the way the user will meet it, in a new Terminal?
//
// Every verify() starts two fresh login shells (nothing is cached), so a block
// just appended to ~/.zprofile or a version manager's new default is seen:
//
//   Verifier::Result result = Verifier(ShellRunner(services.processRunner)).verify();
//   if (result.passed(/*requiringJavaHome=*/true)) { ... }
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ShellRunner.h"

namespace lumo {

class Verifier {
public:
    struct Result {
        std::string javaVersionOutput;             // java -version, stderr merged by the shell
        std::int32_t javaVersionExitCode = 0;      // -1 when the shell could not be started
        std::optional<std::string> javaHomeValue;  // absent when unset or empty

        // Exit code 0, "version" somewhere in the output (any case), and, when
        // required, a JAVA_HOME.
        bool passed(bool requiringJavaHome) const;

        friend bool operator==(const Result&, const Result&) = default;
    };

    static constexpr const char* kVersionCommand = "java -version 2>&1";
    static constexpr const char* kMarker = "__FXW_VERIFY_JAVA_HOME__:";
    static constexpr const char* kHomeCommand = "echo __FXW_VERIFY_JAVA_HOME__:$JAVA_HOME";

    explicit Verifier(ShellRunner shell) : m_shell(std::move(shell)) {}

    // Runs both login shells at once and waits for both. Never fails; blocks
    // the calling (worker) thread.
    Result verify() const;

private:
    ShellRunner m_shell;
};

}  // namespace lumo
