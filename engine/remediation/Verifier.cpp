#include "remediation/Verifier.h"

#include <algorithm>
#include <cctype>
#include <future>
#include <iostream>
#include <system_error>

namespace lumo {

namespace {

struct JavaVersionOutput {
    std::string merged;
    std::int32_t exitCode = -1;
};

JavaVersionOutput runVersion(const ProcessRunning& process) {
    auto result = process.run(kLoginShell, {kLoginShellFlags, Verifier::kVersionCommand});
    if (!result) {
        std::cout << "Verifier: couldn't run java -version: " << result.error().description << std::endl;
        return {};
    }
    return {std::move(result->stdoutText), result->exitCode};
}

std::optional<std::string> runHome(const ProcessRunning& process) {
    auto result = process.run(kLoginShell, {kLoginShellFlags, Verifier::kHomeCommand});
    if (!result) {
        std::cout << "Verifier: couldn't read JAVA_HOME: " << result.error().description << std::endl;
        return markerValue("", Verifier::kMarker);
    }
    return markerValue(result->stdoutText, Verifier::kMarker);
}

}  // namespace

bool Verifier::Result::passed(bool requiringJavaHome) const {
    if (javaVersionExitCode != 0) return false;
    std::string lowered = javaVersionOutput;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered.find("version") == std::string::npos) return false;
    if (!requiringJavaHome) return true;
    return javaHomeValue.has_value() && !javaHomeValue->empty();
}

Verifier::Result Verifier::verify() const {
    const ProcessRunning& process = m_shell.process();
    // The home shell runs on its own thread while this one runs java -version.
    std::future<std::optional<std::string>> home;
    try {
        home = std::async(std::launch::async, [&process] { return runHome(process); });
    } catch (const std::system_error&) {
        // No thread to spare: run the two shells one after the other.
        home = std::async(std::launch::deferred, [&process] { return runHome(process); });
    }
    JavaVersionOutput version = runVersion(process);
    return Result{std::move(version.merged), version.exitCode, home.get()};
}

}  // namespace lumo
