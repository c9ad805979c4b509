// The doctor report in-process: its JSON with hostile machine text, and the
// command line's error handling.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
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

TEST(DoctorJSONTest, InvalidUTF8FromTheMachineIsReplacedNotThrown) {
    const JDKInfo jdk = test::makeJDK("21.0.5", "Vendor \xff\xfe", "arm64",
                                      "/Library/Java/JavaVirtualMachines/\xc3(.jdk/Contents/Home");
    SystemProfile profile = profileWithJDK(jdk);
    profile.shell = Shell::other("sh\xe2\x82");
    profile.javaState.jvmDirContents = {"bad\x80name.jdk"};
    const Diagnosis diagnosis = JavaProfile().diagnose(profile.javaState);

    std::string text;
    ASSERT_NO_THROW(text = doctorJSON(profile, diagnosis));
    const auto json = nlohmann::json::parse(text);  // valid UTF-8 throughout, or this throws
    EXPECT_EQ(json["profile"]["java"]["installedJDKs"][0]["vendor"], "Vendor \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(json["diagnosis"]["id"], "D2_HomeUnset");
    EXPECT_NE(json["fixes"]["javaHome"]["id"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(DoctorJSONTest, HasTheContractShapeInOrder) {
    // An Intel-only SDKMAN JDK on Apple silicon.
    const JDKInfo jdk = test::makeJDK("21.0.5", "Eclipse Adoptium", "x86_64", "/jdk21", "sdkman");
    SystemProfile profile = profileWithJDK(jdk, "/jdk21");
    profile.homebrewPrefix = "/opt/homebrew/bin/brew";
    profile.aiTooling.cursor = true;
    profile.aiTooling.claudeCodeCLI = true;
    const auto json = nlohmann::ordered_json::parse(doctorJSON(profile, JavaProfile().diagnose(profile.javaState)));

    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"profile", "diagnosis", "fixes"}));
    keys.clear();
    for (const auto& item : json["profile"].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"architecture", "runsTranslated", "rosettaInstalled", "macosVersion",
                                              "shell", "shellPath", "startupDirectory", "startupFiles", "homebrew",
                                              "sdkman", "mise", "jenv", "asdf", "xcodeCommandLineTools", "java",
                                              "aiTools", "terminals", "isLikelyDeveloper"}));
    keys.clear();
    for (const auto& item : json["profile"]["java"].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"whichJava", "installedJDKs", "jvmDirContents", "javaHomeInActiveShell",
                                              "javaHomeInLoginShell", "javaInActiveShell", "activeShellTimedOut"}));
    keys.clear();
    for (const auto& item : json["profile"]["java"]["installedJDKs"][0].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"version", "vendor", "architecture", "path", "source",
                                              "runsOnlyUnderRosetta"}));
    keys.clear();
    for (const auto& item : json["fixes"]["install"].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"25", "21", "17"}));

    EXPECT_EQ(json["profile"]["architecture"], "appleSilicon");
    EXPECT_EQ(json["profile"]["macosVersion"], "14.5.0");
    EXPECT_TRUE(json["profile"]["sdkman"].is_null());
    EXPECT_EQ(json["profile"]["aiTools"], (nlohmann::ordered_json{"claude-code-cli", "cursor"}));
    EXPECT_EQ(json["profile"]["isLikelyDeveloper"], true);
    EXPECT_EQ(json["diagnosis"]["id"], "D4_ModernHomeSet");
    EXPECT_EQ(json["fixes"]["install"]["21"]["id"], "brew:temurin@21");
    // Only a D2 diagnosis has a JAVA_HOME fix.
    EXPECT_TRUE(json["fixes"]["javaHome"].is_null());
    EXPECT_EQ(json["profile"]["java"]["installedJDKs"][0]["source"], "sdkman");
    EXPECT_EQ(json["profile"]["java"]["installedJDKs"][0]["runsOnlyUnderRosetta"], true);
    EXPECT_EQ(json["fixes"]["nativeBuild"]["id"], "brew:temurin@21");

    const std::string text = doctorText(profile, JavaProfile().diagnose(profile.javaState), "Lumora for Java");
    EXPECT_NE(text.find("(x86_64)  [sdkman]  runs only under Rosetta"), std::string::npos) << text;
    EXPECT_NE(text.find("Processor: Apple silicon (Rosetta not installed)"), std::string::npos) << text;
}

TEST(DoctorTextTest, ControlCharactersFromTheMachineNeverReachTheTerminal) {
    // U+202E and U+2066 reorder what follows them; U+009B is a C1 escape.
    const JDKInfo jdk = test::makeJDK("21\x1b[2J", "Evil\x1b]0;title\x07 \u202Egnp.exe\u2066x\u2069", "arm64",
                                      "/jdk\r\n21\xc2\x9b"
                                      "2J");
    const SystemProfile profile = profileWithJDK(jdk);
    const std::string text = doctorText(profile, JavaProfile().diagnose(profile.javaState), "Lumora for Java");
    for (const std::string unsafe : {"\x1b", "\x07", "\r", "\u202E", "\u2066", "\u2069", "\xc2\x9b"}) {
        EXPECT_EQ(text.find(unsafe), std::string::npos) << text;
    }
    EXPECT_NE(text.find("Evil?]0;title? ?gnp.exe?x?"), std::string::npos) << text;
    EXPECT_NE(text.find("/jdk??21?2J"), std::string::npos) << text;
    EXPECT_NE(text.find("JAVA_HOME isn't set"), std::string::npos);
}

TEST(DoctorTextTest, RecommendsTheFixThatFitsTheDiagnosis) {
    const JDKInfo legacy = test::makeJDK("17.0.2", "Eclipse Adoptium", "x86_64", "/jdk17");
    const SystemProfile profile = profileWithJDK(legacy);
    const std::string text = doctorText(profile, JavaProfile().diagnose(profile.javaState), "Lumora for Java");
    EXPECT_NE(text.find("Install Java 25: Install Temurin (recommended)  [pkg:25]"), std::string::npos) << text;
    EXPECT_NE(text.find("[keep-legacy:/jdk17]"), std::string::npos) << text;

    const SystemProfile settled = profileWithJDK(test::makeJDK("25", "Eclipse Adoptium", "arm64", "/jdk25"), "/jdk25");
    const std::string ok = doctorText(settled, JavaProfile().diagnose(settled.javaState), "Lumora for Java");
    EXPECT_NE(ok.find("✓ JAVA_HOME in a new Terminal window: /jdk25"), std::string::npos) << ok;
    EXPECT_NE(ok.find("JAVA_HOME for apps started from the Dock: not set"), std::string::npos) << ok;
    std::string flat = ok;  // the explanation is wrapped
    for (auto at = flat.find("\n    "); at != std::string::npos; at = flat.find("\n    ")) flat.replace(at, 5, " ");
    EXPECT_NE(flat.find("Nothing to fix. Terminal sees JAVA_HOME as /jdk25; apps started from the Dock see it unset."),
              std::string::npos)
        << ok;
}

TEST(DoctorTextTest, SaysWhenTheShellStartUpTookTooLong) {
    SystemProfile slow = profileWithJDK(test::makeJDK("25", "Eclipse Adoptium", "arm64", "/jdk25"));
    slow.javaState.terminalView.timedOut = true;
    slow.javaState.shellStartup = {"/bin/zsh", "zsh", "/Users/alex", 15, {"/Users/alex/.zshrc"}, {}};
    const Diagnosis diagnosis = JavaProfile().diagnose(slow.javaState);
    EXPECT_EQ(diagnosis.kind(), Diagnosis::Case::unknown);
    const std::string text = doctorText(slow, diagnosis, "Lumora for Java");
    EXPECT_NE(text.find("✗ JAVA_HOME in a new Terminal window: unknown"), std::string::npos) << text;
    EXPECT_NE(text.find("took longer than 15 seconds"), std::string::npos) << text;
    EXPECT_NE(text.find("~/.zshrc"), std::string::npos) << text;
    EXPECT_EQ(nlohmann::json::parse(doctorJSON(slow, diagnosis))["profile"]["java"]["activeShellTimedOut"], true);
}

struct CommandResult {
    int status;
    std::string out;
    std::string err;
};

CommandResult doctor(const std::vector<std::string>& arguments) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = runDoctorCommand(arguments, out, err);
    return {status, out.str(), err.str()};
}

TEST(DoctorCommandTest, BadScenarioOrCommandLineIsOneLineAndStatus2) {
    test::TemporaryDirectory directory;
    const std::string notJSON = directory.write("broken.json", "{\"home\": ");
    const std::string notContract = directory.write("extra.json", "{\"home\": \"/Users/a\", \"wifi\": true}");
    const std::string wrongType = directory.write("type.json", "{\"commands\": [{\"argv\": \"uname\"}]}");
    const std::string binary = directory.write("binary.json", std::string("\x00\xff\xfe{", 4));
    const std::string missing = directory.path() + "/missing.json";

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--doctor", "--scenario", missing}, missing},
        {{"--doctor", "--json", "--scenario", notJSON}, notJSON},
        {{"--doctor", "--scenario", notContract}, notContract},
        {{"--doctor", "--scenario=" + wrongType, "--json"}, wrongType},
        {{"--doctor", "--scenario", binary}, binary},
        {{"--doctor", "--scenario", directory.path()}, directory.path()},
        {{"--doctor", "--scenario"}, "--scenario"},
        {{"--doctor", "--verbose"}, "--verbose"},
    };
    for (const auto& [arguments, named] : cases) {
        const CommandResult result = doctor(arguments);
        EXPECT_EQ(result.status, 2) << named;
        EXPECT_EQ(result.out, "") << named;
        ASSERT_FALSE(result.err.empty()) << named;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line: " << result.err;
        EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    }
    EXPECT_NE(doctor({"--doctor", "--scenario", notContract}).err.find("wifi"), std::string::npos);
}

TEST(DoctorCommandTest, ScenarioReportGoesToStdoutAlone) {
    test::TemporaryDirectory directory;
    // A Mac with nothing of its own: the JSON stays clean, whatever the shells print.
    const std::string empty = directory.write("empty.json", "{\"description\": \"nothing\"}");
    const CommandResult result = doctor({"--doctor", "--json", "--scenario", empty});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto json = nlohmann::json::parse(result.out);
    EXPECT_EQ(json["diagnosis"]["id"], "D1_NoJDK");
    EXPECT_EQ(json["fixes"]["install"]["25"]["id"], "pkg:25");
}

}  // namespace
}  // namespace lumo
