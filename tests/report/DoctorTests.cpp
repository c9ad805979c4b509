// The doctor report in-process: its JSON with hostile machine text, and the
// command line's error handling.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/Doctor.h"
#include "support/JDKSupport.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

SystemProfile profileWithJDK(const JDKInfo& jdk, std::optional<std::string> javaHome = std::nullopt) {
    SystemProfile profile;
    profile.architecture = Architecture::appleSilicon;
    profile.macosVersion = {14, 5, 0};
    profile.shell = Shell::zsh();
    profile.javaState.installedJDKs = {jdk};
    profile.javaState.jvmDirContents = {"x.jdk"};
    profile.javaState.javaHomeInActiveShell = std::move(javaHome);
    return profile;
}

// Text from the machine: invalid UTF-8 is replaced in both forms, and control
// characters never reach the terminal.
TEST(DoctorReportTest, ChecklistAndFixFitTheMachineAndTheMachinesTextIsMadeSafe) {
    // An Intel-only SDKMAN JDK on Apple silicon.
    SystemProfile rosetta =
        profileWithJDK(test::makeJDK("21.0.5", "Eclipse Adoptium", "x86_64", "/jdk21", "sdkman"), "/jdk21");
    rosetta.homebrewPrefix = "/opt/homebrew/bin/brew";
    rosetta.aiTooling.cursor = true;
    rosetta.aiTooling.claudeCodeCLI = true;
    SystemProfile notUTF8 = profileWithJDK(test::makeJDK("21.0.5", "Vendor \xff\xfe", "arm64", "/jvm/\xc3(.jdk"));
    notUTF8.shell = Shell::other("sh\xe2\x82");
    notUTF8.javaState.jvmDirContents = {"bad\x80name.jdk"};
    // U+202E and U+2066 reorder what follows them; U+009B is a C1 escape.
    const JDKInfo hostile =
        test::makeJDK("21\x1b[2J", "Evil\x1b]0;title\x07 \u202Egnp.exe\u2066x\u2069", "arm64", "/jdk\r\n21\xc2\x9bJ");
    SystemProfile slow = profileWithJDK(test::makeJDK("25", "Eclipse Adoptium", "arm64", "/jdk25"));
    slow.javaState.terminalView.timedOut = true;
    slow.javaState.shellStartup = {"/bin/zsh", "zsh", "/Users/alex", 15, {"/Users/alex/.zshrc"}, {}};
    using JSON = std::vector<std::pair<std::string, nlohmann::json>>;
    const struct {
        const char* name;
        SystemProfile profile;
        std::vector<std::string> shown;
        JSON json = {};  // pointer and value
    } rows[] = {
        {"invalid UTF-8",
         notUTF8,
         {},
         JSON{{"/profile/java/installedJDKs/0/vendor", "Vendor \uFFFD\uFFFD"},
              {"/fixes/javaHome/id", "zprofile:/jvm/\uFFFD(.jdk"}}},
        {"control characters and reordering marks",
         profileWithJDK(hostile),
         {"Evil?]0;title? ?gnp.exe?x?", "/jdk??21?J", "JAVA_HOME isn't set"}},
        {"an Intel-only JDK on Apple silicon",
         rosetta,
         {"(x86_64)  [sdkman]  runs only under Rosetta", "Processor: Apple silicon (Rosetta not installed)",
          "✓ JAVA_HOME in a new Terminal window: /jdk21"},
         JSON{{"/profile/architecture", "appleSilicon"},
              {"/profile/macosVersion", "14.5.0"},
              {"/profile/sdkman", nullptr},
              {"/profile/aiTools", {"claude-code-cli", "cursor"}},
              {"/fixes/javaHome", nullptr},
              {"/profile/java/installedJDKs/0/runsOnlyUnderRosetta", true},
              {"/fixes/nativeBuild/id", "brew:temurin@21"}}},
        {"a legacy JDK only",
         profileWithJDK(test::makeJDK("17.0.2", "Eclipse Adoptium", "x86_64", "/jdk17")),
         {"Install Java 25: Install Temurin (recommended)  [pkg:25]", "[keep-legacy:/jdk17]"}},
        {"the shell's start-up took too long",
         slow,
         {"✗ JAVA_HOME in a new Terminal window: unknown", "JAVA_HOME for apps started from the Dock: not set",
          "took longer than 15 seconds", "~/.zshrc"},
         JSON{{"/profile/java/activeShellTimedOut", true}}},
    };
    for (const auto& row : rows) {
        const Diagnosis diagnosis = JavaProfile().diagnose(row.profile.javaState);
        const std::string text = doctorText(row.profile, diagnosis, "Lumora for Java");
        for (const std::string unsafe : {"\x1b", "\x07", "\r", "\u202E", "\u2066", "\u2069", "\xc2\x9b"})
            EXPECT_EQ(text.find(unsafe), std::string::npos) << row.name << ": " << text;
        for (const std::string& shown : row.shown)
            EXPECT_NE(text.find(shown), std::string::npos) << row.name << ": " << text;
        // Valid UTF-8 throughout, or parsing throws.
        nlohmann::json json;
        ASSERT_NO_THROW(json = nlohmann::json::parse(doctorJSON(row.profile, diagnosis))) << row.name;
        for (const auto& [pointer, value] : row.json)
            EXPECT_EQ(json.at(nlohmann::json::json_pointer(pointer)), value) << row.name << ": " << pointer;
    }

    // The keys keep their documented order.
    const auto json = nlohmann::ordered_json::parse(doctorJSON(rosetta, JavaProfile().diagnose(rosetta.javaState)));
    const std::pair<const char*, std::vector<std::string>> objects[] = {
        {"", {"profile", "diagnosis", "fixes"}},
        {"/profile",
         {"architecture", "runsTranslated", "rosettaInstalled", "macosVersion", "shell", "shellPath",
          "startupDirectory", "startupFiles", "homebrew", "sdkman", "mise", "jenv", "asdf", "xcodeCommandLineTools",
          "java", "aiTools", "terminals", "isLikelyDeveloper"}},
        {"/profile/java",
         {"whichJava", "installedJDKs", "jvmDirContents", "javaHomeInActiveShell", "javaHomeInLoginShell",
          "javaInActiveShell", "activeShellTimedOut"}},
        {"/profile/java/installedJDKs/0",
         {"version", "vendor", "architecture", "path", "source", "runsOnlyUnderRosetta"}},
        {"/fixes/install", {"25", "21", "17"}},
    };
    for (const auto& [pointer, expected] : objects) {
        std::vector<std::string> keys;
        for (const auto& item : json.at(nlohmann::ordered_json::json_pointer(pointer)).items())
            keys.push_back(item.key());
        EXPECT_EQ(keys, expected) << pointer;
    }
}

// A named pipe would block the read forever and /dev/zero never ends: both
// are refused at once, as every other bad file or argument is.
TEST(DoctorCommandTest, BadScenarioOrCommandLineIsOneLineAndStatus2) {
    test::TemporaryDirectory directory;
    const std::string notJSON = directory.write("broken.json", "{\"home\": ");
    const std::string binary = directory.write("binary.json", std::string("\x00\xff\xfe{", 4));
    const std::string fifo = directory.path() + "/scenario.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--doctor", "--json", "--scenario", notJSON}, notJSON},
        {{"--doctor", "--scenario=" + binary, "--json"}, binary},
        {{"--doctor", "--scenario", directory.path()}, directory.path()},
        {{"--doctor", "--scenario", fifo}, fifo + ": not a regular file"},
        {{"--doctor", "--scenario", "/dev/zero"}, "/dev/zero: not a regular file"},
        {{"--doctor", "--scenario"}, "--scenario"},
        {{"--doctor", "--verbose"}, "--verbose"},
    };
    for (const auto& [arguments, named] : cases) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(runDoctorCommand(arguments, out, err), 2) << named;
        EXPECT_EQ(out.str(), "") << named;
        EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << "one line: " << err.str();
        EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
    }
}

}  // namespace
}  // namespace lumo
