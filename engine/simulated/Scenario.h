// A simulated Mac, described by a scenario file (see scenarios/README.md).
//
//   Result<Scenario> scenario = loadScenario("scenarios/no-jdk.json");
//   if (!scenario) { std::cerr << scenario.error().description << '\n'; return 2; }
//   AppServices services = makeSimulatedServices(*scenario);
//
// Unknown keys and values of the wrong type are errors whose description names
// the key ("commands[2].exitCode must be an integer").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/HostInfo.h"
#include "platform/ProcessTypes.h"
#include "platform/Result.h"

namespace lumo {

// Error domain of scenario loading; codes below.
inline constexpr const char* kScenarioErrorDomain = "Scenario";
namespace scenario_error {
inline constexpr int kUnreadable = 1;  // missing or unreadable file
inline constexpr int kNotJSON = 2;     // not JSON at all
inline constexpr int kInvalid = 3;     // JSON, but not a scenario
}  // namespace scenario_error

struct ScenarioFile {
    Bytes contents;  // from "text" or "base64" (or the plain string form)
    bool executable = false;
    bool directory = false;

    friend bool operator==(const ScenarioFile&, const ScenarioFile&) = default;
};

// One answer of a command. Several entries with the same argv answer
// successive runs in order; the last one keeps answering.
struct ScenarioCommand {
    std::vector<std::string> argv;  // executable path first
    std::string stdoutText;
    std::string stderrText;
    std::int32_t exitCode = 0;
    int delayMs = 0;                                // one-shot: wait this long before answering
    std::optional<std::vector<std::string>> lines;  // streamed output (else stdout then stderr lines)
    int lineDelayMs = 0;                            // pause before each streamed line

    friend bool operator==(const ScenarioCommand&, const ScenarioCommand&) = default;
};

struct ScenarioHTTPResponse {
    std::string url;
    int status = 200;
    Bytes body;  // from "body" (text) or "base64"
    HTTPHeaders headers;

    friend bool operator==(const ScenarioHTTPResponse&, const ScenarioHTTPResponse&) = default;
};

struct Scenario {
    std::string description;
    std::string home = "/Users/alex";
    OperatingSystemVersion macosVersion{14, 5, 0};
    Environment environment;
    std::map<std::string, ScenarioFile> files;
    std::vector<ScenarioCommand> commands;
    std::vector<ScenarioHTTPResponse> http;

    friend bool operator==(const Scenario&, const Scenario&) = default;
};

// Parses scenario JSON. The error's description names the offending key.
Result<Scenario> parseScenario(std::string_view json);

// Reads and parses a scenario file; the error's description starts with the
// path ("scenarios/x.json: not JSON (...)").
Result<Scenario> loadScenario(const std::string& path);

}  // namespace lumo
