// Simulated Macs for tests: the bundled scenarios, and commands built in one
// line.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "remediation/HomebrewInstaller.h"
#include "simulated/Scenario.h"

namespace lumo::test {

// scenarios/<name> of the source tree; an empty Mac, and a test failure, when
// it does not load.
inline Scenario bundledScenario(const std::string& name) {
    auto loaded = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name);
    EXPECT_TRUE(loaded) << name << ": " << (loaded ? "" : loaded.error().description);
    return loaded ? *loaded : Scenario{};
}

// A command that streams `lines`, each `lineDelayMs` apart, then exits.
inline ScenarioCommand streamed(std::vector<std::string> argv, std::vector<std::string> lines, int exitCode,
                                int lineDelayMs = 0) {
    ScenarioCommand command;
    command.argv = std::move(argv);
    command.lines = std::move(lines);
    command.exitCode = exitCode;
    command.lineDelayMs = lineDelayMs;
    return command;
}

// A command that prints `out` (and `err` on standard error) and exits.
inline ScenarioCommand oneShot(std::vector<std::string> argv, std::string out, int exitCode = 0, std::string err = {}) {
    ScenarioCommand command;
    command.argv = std::move(argv);
    command.stdoutText = std::move(out);
    command.stderrText = std::move(err);
    command.exitCode = exitCode;
    return command;
}

// Homebrew's install script on a simulated Mac: served at its URL, then run
// as `/bin/bash -c <script>`, streaming `lines` before it exits.
inline void homebrewInstallScript(Scenario& mac, std::vector<std::string> lines, int exitCode, int lineDelayMs = 0) {
    const std::string script = "#!/bin/bash\n# Homebrew's install script\n";
    mac.http.push_back({kHomebrewInstallScriptURL, 200, script, {}});
    mac.commands.push_back(streamed({"/bin/bash", "-c", script}, std::move(lines), exitCode, lineDelayMs));
}

}  // namespace lumo::test
