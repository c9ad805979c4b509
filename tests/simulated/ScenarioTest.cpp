// The scenario loader: the format, its errors, and the stories it refuses.
#include <gtest/gtest.h>

#include "simulated/Scenario.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

std::string errorOf(std::string_view json) {
    const auto scenario = parseScenario(json);
    EXPECT_FALSE(scenario.ok()) << json;
    return scenario.ok() ? std::string() : scenario.error().description;
}

// The keys the bundled scenarios leave out (their walks read the rest).
TEST(ScenarioLoader, ReadsWhatNoBundledScenarioSays) {
    const auto scenario = parseScenario(R"({
      "macosVersion": "15.1", "userShell": "/opt/homebrew/bin/fish", "passwordDialog": "cancel", "administrator": false,
      "commands": [{"argv": ["/usr/bin/uname", "-m"], "stdout": "arm64\n", "delayMs": 5},
                   {"argv": ["/b"], "lines": ["one", "two"], "exitCode": -1, "lineDelayMs": 1}],
      "http": [{"url": "https://e.test/a", "status": 404, "body": "gone", "headers": {"ETag": "x"}}],
      "expect": {"diagnosis": "D1_NoJDK", "fix": "pkg:25", "verdict": "passed", "audit": {"homebrew": true}}})");
    ASSERT_TRUE(scenario.ok()) << scenario.error().description;
    EXPECT_EQ(scenario->macosVersion, (OperatingSystemVersion{15, 1, 0}));
    EXPECT_EQ(scenario->userShell, "/opt/homebrew/bin/fish");
    EXPECT_TRUE(scenario->passwordDialogCancelled);
    EXPECT_FALSE(scenario->administrator);
    EXPECT_EQ(scenario->commands[0].delayMs, 5);
    EXPECT_EQ(scenario->commands[1].lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(scenario->http[0].headers, (HTTPHeaders{{"ETag", "x"}}));
    ASSERT_TRUE(scenario->expect);
    EXPECT_EQ(scenario->expect->audit, (ScenarioExpectation::Audit{false, true, false}));  // the unnamed are false
}

TEST(ScenarioLoader, ErrorsNameTheFileAndTheKey) {
    const auto missing = loadScenario("/nonexistent/nothing.json");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, scenario_error::kUnreadable);
    EXPECT_EQ(missing.error().description, "/nonexistent/nothing.json: no such scenario file");

    test::TemporaryDirectory directory;
    const auto notJSON = loadScenario(directory.write("bad.json", "{\"home\": \"/Users/x\",,}"));
    ASSERT_FALSE(notJSON.ok());
    EXPECT_EQ(notJSON.error().code, scenario_error::kNotJSON);
    EXPECT_EQ(notJSON.error().description.rfind(directory.path() + "/bad.json: not JSON (", 0), 0u)
        << notJSON.error().description;
    EXPECT_EQ(loadScenario(directory.path()).error().code, scenario_error::kUnreadable);

    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {R"([1, 2])", "a scenario must be a JSON object"},
        {R"({"commands": [{"argv": ["/a"]}, {"argv": ["/b"], "stdot": "x"}]})", "unknown key \"commands[1].stdot\""},
        {R"({"files": {"/a": {"text": "x", "mode": 7}}})", "unknown key \"files./a.mode\""},
        {R"({"home": "Users/x"})", "\"home\" must be an absolute path"},
        {R"({"macosVersion": "14.5.0.1"})", "\"macosVersion\" must look like \"14.5.0\""},
        {R"({"machine": "ppc"})", "\"machine\" must be \"arm64\" or \"x86_64\""},
        {R"({"passwordDialog": "maybe"})", "\"passwordDialog\" must be \"enter\" or \"cancel\""},
        {R"({"environment": {"PATH": ["/bin"]}})", "\"environment.PATH\" must be a string"},
        {R"({"files": {"a": "x"}})", "file path \"a\" must be absolute"},
        {R"({"files": {"/a/../b": "x"}})", "file path \"/a/../b\" must be a plain absolute path (no ., .. or //)"},
        {R"({"files": {"/a": {"base64": "%%%"}}})", "\"files./a.base64\" is not valid base64"},
        {R"({"files": {"/a": {"directory": true, "text": "x"}}})",
         "\"files./a\" is a directory and cannot have contents or be executable"},
        {R"({"files": {"/a": {"standIn": "python"}}})",
         "\"files./a.standIn\" must be one of java, brew, mise, jenv, sdkman-init, fish"},
        {R"({"commands": [{"argv": ["/a"], "exitCode": 4294967296}]})", "\"commands[0].exitCode\" is out of range"},
        {R"({"http": [{"status": 200}]})", "\"http[0]\" needs a \"url\""},
        {R"({"expect": {"diagnosis": "D1_NoJDK", "verdict": "fine"}})",
         "\"expect.verdict\" must be \"passed\", \"failed\" or \"none\""},
        // Stories no Mac could tell.
        {R"({"commands": [{"argv": ["/usr/bin/uname"]}, {"argv": ["/bin/zsh", "-lc", "echo $JAVA_HOME"]}]})",
         "\"commands[1]\" pins /bin/zsh: what a shell prints follows from the Mac's start-up files and programs, "
         "so describe those in \"files\" instead"},
        {R"({"files": {"/usr/libexec/java_home": {"executable": true}}})",
         "\"files./usr/libexec/java_home\": the simulated Mac has its own /usr/libexec/java_home; leave it out"},
        {R"({"files": {"/opt/x": "a file", "/opt/x/y": "inside it"}})",
         "\"files./opt/x/y\": /opt/x is not a directory"},
        {R"({"files": {"/Users/a/link": {"symlink": "../../../etc/passwd"}}})",
         "\"files./Users/a/link\": the link's target ../../../etc/passwd leads out of the Mac"},
        {R"({"machine": "x86_64", "translated": true})",
         "\"translated\" needs \"machine\": \"arm64\" (only Apple silicon runs apps under Rosetta)"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.json), c.message) << c.json;
    EXPECT_EQ(parseScenario(R"({"homes": 1})").error().code, scenario_error::kInvalid);
}

}  // namespace
}  // namespace lumo
