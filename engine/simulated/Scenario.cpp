#include "simulated/Scenario.h"

#include <nlohmann/json.hpp>

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
    rejectUnknownKeys(value, {"text", "base64", "executable", "directory"}, key);
    if (value.contains("text") && value.contains("base64")) fail(quotedKey(key) + " has both text and base64");
    if (value.contains("text")) file.contents = requireString(value["text"], key + ".text");
    if (value.contains("base64")) file.contents = requireBase64(value["base64"], key + ".base64");
    if (value.contains("executable")) file.executable = requireBool(value["executable"], key + ".executable");
    if (value.contains("directory")) file.directory = requireBool(value["directory"], key + ".directory");
    if (file.directory && (value.contains("text") || value.contains("base64") || file.executable))
        fail(quotedKey(key) + " is a directory and cannot have contents or be executable");
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

Scenario parseDocument(const json& document) {
    if (!document.is_object()) fail("a scenario must be a JSON object");
    rejectUnknownKeys(document, {"description", "home", "macosVersion", "environment", "files", "commands", "http"},
                      "");
    Scenario scenario;
    if (document.contains("description")) scenario.description = requireString(document["description"], "description");
    if (document.contains("home")) {
        scenario.home = requireString(document["home"], "home");
        if (scenario.home.empty() || scenario.home.front() != '/') fail("\"home\" must be an absolute path");
    }
    if (document.contains("macosVersion"))
        scenario.macosVersion = parseVersion(requireString(document["macosVersion"], "macosVersion"));
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
    return scenario;
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
