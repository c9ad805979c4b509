#include "simulated/Scenario.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "platform/live/PosixFile.h"

namespace lumo {

namespace {

using nlohmann::json;

// Thrown inside the parser only; parseScenario turns it into an Error.
struct InvalidScenario {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) { throw InvalidScenario{message}; }

std::string quotedKey(const std::string& key) { return "\"" + key + "\""; }

void rejectUnknownKeys(const json& object, const std::set<std::string>& allowed, const std::string& where) {
    for (const auto& item : object.items())
        if (!allowed.count(item.key()))
            fail("unknown key " + quotedKey(where.empty() ? item.key() : where + "." + item.key()));
}

const json& requireObject(const json& value, const std::string& key) {
    if (!value.is_object()) fail(quotedKey(key) + " must be an object");
    return value;
}

std::string requireString(const json& value, const std::string& key) {
    if (!value.is_string()) fail(quotedKey(key) + " must be a string");
    return value.get<std::string>();
}

bool requireBool(const json& value, const std::string& key) {
    if (!value.is_boolean()) fail(quotedKey(key) + " must be true or false");
    return value.get<bool>();
}

long long requireInteger(const json& value, const std::string& key, long long minimum, long long maximum) {
    if (!value.is_number_integer()) fail(quotedKey(key) + " must be an integer");
    long long number = 0;
    if (value.is_number_unsigned()) {
        const auto unsignedNumber = value.get<unsigned long long>();
        if (unsignedNumber > static_cast<unsigned long long>(maximum)) fail(quotedKey(key) + " is out of range");
        number = static_cast<long long>(unsignedNumber);
    } else {
        number = value.get<long long>();
    }
    if (number < minimum || number > maximum) fail(quotedKey(key) + " is out of range");
    return number;
}

std::vector<std::string> requireStrings(const json& value, const std::string& key) {
    if (!value.is_array()) fail(quotedKey(key) + " must be a list of strings");
    std::vector<std::string> strings;
    for (std::size_t index = 0; index < value.size(); ++index)
        strings.push_back(requireString(value[index], key + "[" + std::to_string(index) + "]"));
    return strings;
}

std::optional<Bytes> decodeBase64(const std::string& text) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes decoded;
    unsigned buffer = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == ' ' || c == '\t') continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        if (padding) return std::nullopt;  // data after padding
        const auto position = alphabet.find(c);
        if (position == std::string::npos) return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(position);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            decoded.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    if (padding > 2 || bits >= 6) return std::nullopt;
    return decoded;
}

Bytes requireBase64(const json& value, const std::string& key) {
    const auto decoded = decodeBase64(requireString(value, key));
    if (!decoded) fail(quotedKey(key) + " is not valid base64");
    return *decoded;
}

OperatingSystemVersion parseVersion(const std::string& text) {
    OperatingSystemVersion version;
    int* parts[] = {&version.majorVersion, &version.minorVersion, &version.patchVersion};
    std::size_t part = 0;
    std::size_t at = 0;
    while (true) {
        const auto start = at;
        long long number = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6)
            number = number * 10 + (text[at++] - '0');
        if (at == start || part >= 3) fail("\"macosVersion\" must look like \"14.5.0\"");
        *parts[part++] = static_cast<int>(number);
        if (at == text.size()) break;
        if (text[at] != '.') fail("\"macosVersion\" must look like \"14.5.0\"");
        ++at;
    }
    return version;
}

ScenarioFile parseFile(const std::string& path, const json& value) {
    const std::string key = "files." + path;
    if (path.empty() || path.front() != '/') fail("file path " + quotedKey(path) + " must be absolute");
    ScenarioFile file;
    if (value.is_string()) {
        file.contents = value.get<std::string>();
        return file;
    }
    if (!value.is_object()) fail(quotedKey(key) + " must be a string or an object");
    rejectUnknownKeys(value, {"text", "base64", "executable", "directory", "symlink", "standIn"}, key);
    if (value.contains("text") && value.contains("base64")) fail(quotedKey(key) + " has both text and base64");
    if (value.contains("text")) file.contents = requireString(value["text"], key + ".text");
    if (value.contains("base64")) {
        file.contents = requireBase64(value["base64"], key + ".base64");
        file.isText = false;
    }
    if (value.contains("executable")) file.executable = requireBool(value["executable"], key + ".executable");
    if (value.contains("directory")) file.directory = requireBool(value["directory"], key + ".directory");
    if (value.contains("symlink")) {
        file.symlink = requireString(value["symlink"], key + ".symlink");
        if (file.symlink.empty()) fail(quotedKey(key + ".symlink") + " must name the link's target");
    }
    if (value.contains("standIn")) file.standIn = requireString(value["standIn"], key + ".standIn");
    const bool hasContents = value.contains("text") || value.contains("base64");
    if (file.directory && (hasContents || file.executable))
        fail(quotedKey(key) + " is a directory and cannot have contents or be executable");
    if (!file.symlink.empty() && (hasContents || file.executable || file.directory || !file.standIn.empty()))
        fail(quotedKey(key) + " is a symbolic link and cannot have contents or be anything else");
    if (!file.standIn.empty()) {
        if (hasContents || file.executable || file.directory)
            fail(quotedKey(key) + " is a stand-in and cannot have contents or be anything else");
        if (std::find(std::begin(kStandInNames), std::end(kStandInNames), file.standIn) == std::end(kStandInNames)) {
            std::string names;
            for (const char* name : kStandInNames) names += std::string(names.empty() ? "" : ", ") + name;
            fail(quotedKey(key + ".standIn") + " must be one of " + names);
        }
    }
    return file;
}

ScenarioCommand parseCommand(const json& value, const std::string& key) {
    requireObject(value, key);
    rejectUnknownKeys(value, {"argv", "stdout", "stderr", "exitCode", "delayMs", "lines", "lineDelayMs"}, key);
    if (!value.contains("argv")) fail(quotedKey(key) + " needs an \"argv\"");
    ScenarioCommand command;
    command.argv = requireStrings(value["argv"], key + ".argv");
    if (command.argv.empty()) fail(quotedKey(key + ".argv") + " must name the executable");
    if (value.contains("stdout")) command.stdoutText = requireString(value["stdout"], key + ".stdout");
    if (value.contains("stderr")) command.stderrText = requireString(value["stderr"], key + ".stderr");
    if (value.contains("exitCode"))
        command.exitCode = static_cast<std::int32_t>(requireInteger(value["exitCode"], key + ".exitCode",
                                                                    std::numeric_limits<std::int32_t>::min(),
                                                                    std::numeric_limits<std::int32_t>::max()));
    constexpr long long kLongestDelay = 600'000;  // ten minutes
    if (value.contains("delayMs"))
        command.delayMs = static_cast<int>(requireInteger(value["delayMs"], key + ".delayMs", 0, kLongestDelay));
    if (value.contains("lines")) command.lines = requireStrings(value["lines"], key + ".lines");
    if (value.contains("lineDelayMs"))
        command.lineDelayMs =
            static_cast<int>(requireInteger(value["lineDelayMs"], key + ".lineDelayMs", 0, kLongestDelay));
    return command;
}

ScenarioHTTPResponse parseHTTP(const json& value, const std::string& key) {
    requireObject(value, key);
    rejectUnknownKeys(value, {"url", "status", "body", "base64", "headers"}, key);
    if (!value.contains("url")) fail(quotedKey(key) + " needs a \"url\"");
    ScenarioHTTPResponse response;
    response.url = requireString(value["url"], key + ".url");
    if (value.contains("status"))
        response.status = static_cast<int>(requireInteger(value["status"], key + ".status", 100, 599));
    if (value.contains("body") && value.contains("base64")) fail(quotedKey(key) + " has both body and base64");
    if (value.contains("body")) response.body = requireString(value["body"], key + ".body");
    if (value.contains("base64")) response.body = requireBase64(value["base64"], key + ".base64");
    if (value.contains("headers")) {
        for (const auto& item : requireObject(value["headers"], key + ".headers").items())
            response.headers.emplace_back(item.key(), requireString(item.value(), key + ".headers." + item.key()));
    }
    return response;
}

ScenarioExpectation parseExpectation(const json& value) {
    requireObject(value, "expect");
    rejectUnknownKeys(value, {"diagnosis", "fix", "verdict", "audit"}, "expect");
    ScenarioExpectation expect;
    if (!value.contains("diagnosis")) fail("\"expect\" needs a \"diagnosis\"");
    expect.diagnosis = requireString(value["diagnosis"], "expect.diagnosis");
    if (value.contains("fix")) expect.fix = requireString(value["fix"], "expect.fix");
    expect.verdict = value.contains("verdict") ? requireString(value["verdict"], "expect.verdict") : "none";
    if (expect.verdict != "passed" && expect.verdict != "failed" && expect.verdict != "none")
        fail("\"expect.verdict\" must be \"passed\", \"failed\" or \"none\"");
    if (value.contains("audit")) {
        const auto& audit = requireObject(value["audit"], "expect.audit");
        rejectUnknownKeys(audit, {"commandLineTools", "homebrew", "warp"}, "expect.audit");
        if (audit.contains("commandLineTools"))
            expect.audit.commandLineTools = requireBool(audit["commandLineTools"], "expect.audit.commandLineTools");
        if (audit.contains("homebrew")) expect.audit.homebrew = requireBool(audit["homebrew"], "expect.audit.homebrew");
        if (audit.contains("warp")) expect.audit.warp = requireBool(audit["warp"], "expect.audit.warp");
    }
    return expect;
}

Scenario parseDocument(const json& document) {
    if (!document.is_object()) fail("a scenario must be a JSON object");
    rejectUnknownKeys(document,
                      {"description", "home", "macosVersion", "machine", "translated", "userShell", "passwordDialog",
                       "administrator", "environment", "files", "commands", "http", "expect"},
                      "");
    Scenario scenario;
    if (document.contains("description")) scenario.description = requireString(document["description"], "description");
    if (document.contains("home")) {
        scenario.home = requireString(document["home"], "home");
        if (scenario.home.empty() || scenario.home.front() != '/') fail("\"home\" must be an absolute path");
    }
    if (document.contains("macosVersion"))
        scenario.macosVersion = parseVersion(requireString(document["macosVersion"], "macosVersion"));
    if (document.contains("machine")) {
        scenario.machine = requireString(document["machine"], "machine");
        if (scenario.machine != "arm64" && scenario.machine != "x86_64")
            fail("\"machine\" must be \"arm64\" or \"x86_64\"");
    }
    if (document.contains("translated")) scenario.translated = requireBool(document["translated"], "translated");
    if (document.contains("userShell")) {
        scenario.userShell = requireString(document["userShell"], "userShell");
        if (scenario.userShell->empty() || scenario.userShell->front() != '/')
            fail("\"userShell\" must be an absolute path");
    }
    if (document.contains("passwordDialog")) {
        const std::string answer = requireString(document["passwordDialog"], "passwordDialog");
        if (answer != "enter" && answer != "cancel") fail("\"passwordDialog\" must be \"enter\" or \"cancel\"");
        scenario.passwordDialogCancelled = answer == "cancel";
    }
    if (document.contains("administrator"))
        scenario.administrator = requireBool(document["administrator"], "administrator");
    if (document.contains("environment")) {
        for (const auto& item : requireObject(document["environment"], "environment").items())
            scenario.environment[item.key()] = requireString(item.value(), "environment." + item.key());
    }
    if (document.contains("files")) {
        for (const auto& item : requireObject(document["files"], "files").items())
            scenario.files[item.key()] = parseFile(item.key(), item.value());
    }
    if (document.contains("commands")) {
        const auto& commands = document["commands"];
        if (!commands.is_array()) fail("\"commands\" must be a list");
        for (std::size_t index = 0; index < commands.size(); ++index)
            scenario.commands.push_back(parseCommand(commands[index], "commands[" + std::to_string(index) + "]"));
    }
    if (document.contains("http")) {
        const auto& responses = document["http"];
        if (!responses.is_array()) fail("\"http\" must be a list");
        for (std::size_t index = 0; index < responses.size(); ++index)
            scenario.http.push_back(parseHTTP(responses[index], "http[" + std::to_string(index) + "]"));
    }
    if (document.contains("expect")) scenario.expect = parseExpectation(document["expect"]);
    if (const auto valid = validateScenario(scenario); !valid) fail(valid.error().description);
    return scenario;
}

// "/a/b/../c" and friends: only plain absolute paths name files.
bool isPlainAbsolutePath(const std::string& path) {
    if (path.empty() || path.front() != '/' || path == "/") return false;
    if (path.back() == '/' || path.find("//") != std::string::npos) return false;
    for (const char* part : {"/./", "/../"})
        if (path.find(part) != std::string::npos) return false;
    return !path.ends_with("/.") && !path.ends_with("/..");
}

// Where a link's relative target leads, from the directory holding the link;
// nothing when it climbs above "/".
bool relativeTargetStaysInside(const std::string& linkPath, const std::string& target) {
    int depth = 0;
    for (std::size_t at = 1; at < linkPath.size(); ++at)
        if (linkPath[at] == '/') ++depth;  // directories above the link's own
    std::size_t start = 0;
    while (start <= target.size()) {
        auto end = target.find('/', start);
        if (end == std::string::npos) end = target.size();
        const std::string part = target.substr(start, end - start);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

Error scenarioError(int code, std::string description) {
    return Error{kScenarioErrorDomain, code, std::move(description)};
}

}  // namespace

Result<Scenario> parseScenario(std::string_view text) {
    json document;
    try {
        document = json::parse(text.begin(), text.end());
    } catch (const json::exception& error) {
        std::string reason = error.what();
        if (const auto bracket = reason.find("] "); reason.front() == '[' && bracket != std::string::npos)
            reason.erase(0, bracket + 2);
        return scenarioError(scenario_error::kNotJSON, "not JSON (" + reason + ")");
    }
    try {
        return parseDocument(document);
    } catch (const InvalidScenario& invalid) {
        return scenarioError(scenario_error::kInvalid, invalid.message);
    } catch (const json::exception& error) {
        return scenarioError(scenario_error::kInvalid, error.what());
    }
}

bool isMacOwnProgram(const std::string& macPath) {
    static const std::set<std::string> programs = {
#include "simulated/MacPrograms.inc"
    };
    return programs.count(macPath) > 0;
}

std::string loginShell(const Scenario& scenario) {
    if (scenario.userShell) return *scenario.userShell;
    const auto shell = scenario.environment.find("SHELL");
    return shell != scenario.environment.end() ? shell->second : "/bin/zsh";
}

bool isShellProgram(const std::string& executable) {
    const std::string name = executable.substr(executable.find_last_of('/') + 1);
    for (const char* shell : {"zsh", "bash", "sh", "fish", "dash", "ksh", "tcsh", "csh"})
        if (name == shell) return true;
    return false;
}

Status validateScenario(const Scenario& scenario) {
    const auto invalid = [](std::string message) -> Status {
        return scenarioError(scenario_error::kInvalid, std::move(message));
    };
    if (scenario.translated && scenario.machine != "arm64")
        return invalid("\"translated\" needs \"machine\": \"arm64\" (only Apple silicon runs apps under Rosetta)");
    for (std::size_t index = 0; index < scenario.commands.size(); ++index) {
        const std::string& executable = scenario.commands[index].argv.front();
        if (isShellProgram(executable))
            return invalid(quotedKey("commands[" + std::to_string(index) + "]") + " pins " + executable +
                           ": what a shell prints follows from the Mac's start-up files and programs, so describe "
                           "those in \"files\" instead");
    }
    for (const auto& [path, file] : scenario.files) {
        const std::string key = quotedKey("files." + path);
        if (!isPlainAbsolutePath(path))
            return invalid("file path " + quotedKey(path) + " must be a plain absolute path (no ., .. or //)");
        if (isMacOwnProgram(path))
            return invalid(key + ": the simulated Mac has its own " + path + "; leave it out");
        for (std::string ancestor = path.substr(0, path.rfind('/')); !ancestor.empty();
             ancestor = ancestor.substr(0, ancestor.rfind('/'))) {
            const auto found = scenario.files.find(ancestor);
            if (found != scenario.files.end() && !found->second.directory)
                return invalid(key + ": " + ancestor + " is not a directory");
        }
        if (!file.symlink.empty() && file.symlink.front() != '/' && !relativeTargetStaysInside(path, file.symlink))
            return invalid(key + ": the link's target " + file.symlink + " leads out of the Mac");
    }
    return Status::success();
}

Result<Scenario> loadScenario(const std::string& path) {
    // A scenario is a regular file of a sane size: a named pipe or a device
    // (/dev/zero) given by mistake is refused at once, never read forever.
    constexpr std::size_t kMaximumScenarioSize = 16 * 1024 * 1024;
    auto text = posix::readRegularFile(path, kMaximumScenarioSize);
    if (!text) {
        const int code = text.error().code;
        if (code == ENOENT) return scenarioError(scenario_error::kUnreadable, path + ": no such scenario file");
        if (code == EISDIR) {
            return scenarioError(scenario_error::kUnreadable, path + ": is a directory, not a scenario file");
        }
        if (code == posix::kNotRegularFileCode) {
            return scenarioError(scenario_error::kUnreadable,
                                 path + ": not a regular file (a named pipe, a device or a socket), not a scenario file");
        }
        if (code == EFBIG) {
            return scenarioError(scenario_error::kUnreadable, path + ": larger than " +
                                                                  posix::byteCountText(kMaximumScenarioSize) +
                                                                  ", too large for a scenario file");
        }
        return scenarioError(scenario_error::kUnreadable, "cannot read the scenario file " + text.error().description);
    }
    auto scenario = parseScenario(*text);
    if (!scenario) {
        Error error = scenario.error();
        error.description = path + ": " + error.description;
        return error;
    }
    return scenario;
}

}  // namespace lumo
