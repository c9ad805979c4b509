// The doctor report in-process: its JSON with hostile machine text, and the
// command line's error handling.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "report/Doctor.h"
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
    const JDKInfo jdk{"21.0.5", "Vendor \xff\xfe", "arm64",
                      "/Library/Java/JavaVirtualMachines/\xc3(.jdk/Contents/Home"};
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
    const JDKInfo jdk{"21.0.5", "Eclipse Adoptium", "arm64", "/jdk21"};
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
    EXPECT_EQ(keys, (std::vector<std::string>{"architecture", "macosVersion", "shell", "homebrew", "sdkman", "mise",
                                              "jenv", "asdf", "xcodeCommandLineTools", "java", "aiTools", "terminals",
                                              "isLikelyDeveloper"}));
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
}

TEST(DoctorTextTest, ControlCharactersFromTheMachineNeverReachTheTerminal) {
    const JDKInfo jdk{"21\x1b[2J", "Evil\x1b]0;title\x07", "arm64", "/jdk\r\n21"};
    const SystemProfile profile = profileWithJDK(jdk);
    const std::string text = doctorText(profile, JavaProfile().diagnose(profile.javaState), "Lumora for Java");
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("JAVA_HOME isn't set"), std::string::npos);
}

TEST(DoctorTextTest, RecommendsTheFixThatFitsTheDiagnosis) {
    const JDKInfo legacy{"17.0.2", "Eclipse Adoptium", "x86_64", "/jdk17"};
    const SystemProfile profile = profileWithJDK(legacy);
    const std::string text = doctorText(profile, JavaProfile().diagnose(profile.javaState), "Lumora for Java");
    EXPECT_NE(text.find("Install Java 25: Install Temurin (recommended)  [pkg:25]"), std::string::npos) << text;
    EXPECT_NE(text.find("[keep-legacy:/jdk17]"), std::string::npos) << text;

    const SystemProfile settled = profileWithJDK({"25", "Eclipse Adoptium", "arm64", "/jdk25"}, "/jdk25");
    const std::string ok = doctorText(settled, JavaProfile().diagnose(settled.javaState), "Lumora for Java");
    EXPECT_NE(ok.find("✓ JAVA_HOME in a login shell: /jdk25"), std::string::npos) << ok;
    EXPECT_NE(ok.find("Nothing to fix."), std::string::npos) << ok;
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
