// Simulated Macs for tests: the bundled scenarios, scenarios written inline,
// their files and commands in one line each.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "remediation/HomebrewInstaller.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"

namespace lumo::test {

// scenarios/<name> of the source tree; an empty Mac, and a test failure, when
// it does not load.
inline Scenario bundledScenario(const std::string& name) {
    auto loaded = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name);
    EXPECT_TRUE(loaded) << name << ": " << (loaded ? "" : loaded.error().description);
    return loaded ? *loaded : Scenario{};
}

// A scenario written in the test; an empty Mac, and a test failure, when it
// does not parse.
inline Scenario scenarioFrom(std::string_view json) {
    auto parsed = parseScenario(json);
    EXPECT_TRUE(parsed) << (parsed ? "" : parsed.error().description);
    return parsed ? *parsed : Scenario{};
}

// The disk of a simulated Mac with these files (and nothing else of the
// scenario's); the sandbox lives as long as the file system does.
inline std::shared_ptr<SimulatedFileSystem> simulatedDisk(std::string home,
                                                          std::map<std::string, ScenarioFile> files) {
    Scenario scenario;
    scenario.home = std::move(home);
    scenario.files = std::move(files);
    auto sandbox = MacSandbox::create(scenario);
    EXPECT_TRUE(sandbox) << (sandbox ? "" : sandbox.error().description);
    return std::make_shared<SimulatedFileSystem>(sandbox ? *sandbox : nullptr);
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

}  // namespace lumo::test
