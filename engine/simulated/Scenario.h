// A simulated Mac, described by a scenario file (see scenarios/README.md).
//
//   Result<Scenario> scenario = loadScenario("scenarios/no-jdk.json");
//   if (!scenario) { std::cerr << scenario.error().description << '\n'; return 2; }
//   AppServices services = makeSimulatedServices(*scenario);
//
// Unknown keys and values of the wrong type are errors whose description names
// the key ("commands[2].exitCode must be an integer"). So is a scenario that
// tells a story no Mac could: a canned answer for a shell (what a shell prints
// follows from the start-up files and programs on the simulated disk), a file
// where the simulated Mac keeps one of its own programs, a file inside another
// file, or a link that leads out of the Mac.
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
    ScenarioFile() = default;
    ScenarioFile(Bytes text, bool isExecutable = false, bool isDirectory = false)  // NOLINT: a file is its text
        : contents(std::move(text)), executable(isExecutable), directory(isDirectory) {}

    Bytes contents;  // from "text" or "base64" (or the plain string form)
    bool executable = false;
    bool directory = false;
    bool isText = true;    // given as text: absolute Mac paths in it name the simulated Mac's files
    std::string symlink;   // a symbolic link to this target (absolute or relative) instead of a file
    std::string standIn;   // the simulated Mac's own version of a program goes here (kStandInNames)

    static ScenarioFile text(std::string text) {
        ScenarioFile file;
        file.contents = std::move(text);
        return file;
    }
    static ScenarioFile bytes(Bytes bytes) {
        ScenarioFile file;
        file.contents = std::move(bytes);
        file.isText = false;
        return file;
    }
    static ScenarioFile emptyExecutable() {
        ScenarioFile file;
        file.executable = true;
        return file;
    }
    static ScenarioFile folder() {
        ScenarioFile file;
        file.directory = true;
        return file;
    }
    static ScenarioFile link(std::string target) {
        ScenarioFile file;
        file.symlink = std::move(target);
        return file;
    }
    static ScenarioFile program(std::string standIn) {
        ScenarioFile file;
        file.standIn = std::move(standIn);
        return file;
    }

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

    // A command that streams `output`, each line `lineDelayMs` apart, then exits.
    static ScenarioCommand streaming(std::vector<std::string> argv, std::vector<std::string> output,
                                     std::int32_t exitCode, int lineDelayMs = 0) {
        ScenarioCommand command;
        command.argv = std::move(argv);
        command.lines = std::move(output);
        command.exitCode = exitCode;
        command.lineDelayMs = lineDelayMs;
        return command;
    }

    friend bool operator==(const ScenarioCommand&, const ScenarioCommand&) = default;
};

struct ScenarioHTTPResponse {
    std::string url;
    int status = 200;
    Bytes body;  // from "body" (text) or "base64"
    HTTPHeaders headers;

    friend bool operator==(const ScenarioHTTPResponse&, const ScenarioHTTPResponse&) = default;
};

// What walking the app's journey on this Mac leads to (every bundled
// scenario states it, and a test holds it to it).
struct ScenarioExpectation {
    std::string diagnosis;  // the diagnosis id, e.g. "D1_NoJDK"
    std::string fix;        // the id of the fix the journey takes; empty when there is nothing to fix
    std::string verdict;    // "passed", "failed", or "none" when nothing was verified
    // What the Mac has when the journey ends (after every fix the audit
    // offers, when the journey gets that far), as the audit's report reads it.
    struct Audit {
        bool commandLineTools = false;
        bool homebrew = false;
        bool warp = false;
        friend bool operator==(const Audit&, const Audit&) = default;
    };
    Audit audit;

    friend bool operator==(const ScenarioExpectation&, const ScenarioExpectation&) = default;
};

// Stand-ins a scenario may place with "standIn" (the shells zsh and bash,
// java_home, the java stub and the other programs every Mac has are always
// there).
inline constexpr const char* kStandInNames[] = {"java", "brew", "mise", "jenv", "sdkman-init", "fish"};

struct Scenario {
    std::string description;
    std::string home = "/Users/alex";
    OperatingSystemVersion macosVersion{14, 5, 0};
    std::string machine = "arm64";         // the processor: "arm64" or "x86_64"
    bool translated = false;               // the app itself runs under Rosetta (on "arm64")
    std::optional<std::string> userShell;  // the account's login shell; default: $SHELL, else /bin/zsh
    bool passwordDialogCancelled = false;  // every macOS password dialog is cancelled
    bool administrator = true;             // the user may use sudo
    Environment environment;
    std::map<std::string, ScenarioFile> files;
    std::vector<ScenarioCommand> commands;
    std::vector<ScenarioHTTPResponse> http;
    std::optional<ScenarioExpectation> expect;

    friend bool operator==(const Scenario&, const Scenario&) = default;
};

// Parses scenario JSON. The error's description names the offending key.
Result<Scenario> parseScenario(std::string_view json);

// The checks parseScenario makes beyond the JSON's shape, for scenarios built
// in code: the first story no Mac could tell, or success.
Status validateScenario(const Scenario& scenario);

// The account's login shell: `userShell`, else the environment's SHELL, else /bin/zsh.
std::string loginShell(const Scenario& scenario);

// True for an executable that is a shell (zsh, bash, sh, fish, ...): its
// answers are never canned.
bool isShellProgram(const std::string& executable);

// True for a path where every simulated Mac has a program of its own
// (/usr/libexec/java_home, /usr/bin/java, /bin/zsh, ...).
bool isMacOwnProgram(const std::string& macPath);

// Reads and parses a scenario file; the error's description starts with the
// path ("scenarios/x.json: not JSON (...)").
Result<Scenario> loadScenario(const std::string& path);

}  // namespace lumo
