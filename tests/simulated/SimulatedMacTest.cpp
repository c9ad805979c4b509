// The scenario loader and the simulated services.
#include <gtest/gtest.h>

#include <thread>

#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

std::string errorOf(std::string_view json) {
    const auto scenario = parseScenario(json);
    EXPECT_FALSE(scenario.ok()) << json;
    return scenario.ok() ? std::string() : scenario.error().description;
}

TEST(ScenarioLoader, EveryBundledScenarioLoads) {
    int count = 0;
    for (const char* name : {"no-jdk", "java-home-unset", "legacy-only", "java-ok", "empty-mac", "developer-mac",
                             "jdk-release-file-only", "jdk-info-plist-only", "malformed-jdk"}) {
        const auto scenario = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name + ".json");
        EXPECT_TRUE(scenario.ok()) << name << ": " << (scenario.ok() ? "" : scenario.error().description);
        ++count;
    }
    EXPECT_EQ(count, 9);
}

TEST(ScenarioLoader, ReadsTheWholeContract) {
    const auto scenario = parseScenario(R"({
      "description": "d", "home": "/Users/kim", "macosVersion": "15.1",
      "environment": {"SHELL": "/bin/bash"},
      "files": {"/Users/kim/.zprofile": "export A=1\n",
                "/opt/homebrew/bin/brew": {"executable": true},
                "/Applications/Warp.app": {"directory": true},
                "/x/Info.plist": {"base64": "YnBsaXN0MDA="}},
      "commands": [{"argv": ["/usr/bin/uname", "-m"], "stdout": "arm64\n", "delayMs": 5},
                   {"argv": ["/b"], "lines": ["one", "two"], "exitCode": -1, "lineDelayMs": 1}],
      "http": [{"url": "https://e.test/a", "status": 404, "body": "gone", "headers": {"ETag": "x"}}]})");
    ASSERT_TRUE(scenario.ok()) << scenario.error().description;
    EXPECT_EQ(scenario->home, "/Users/kim");
    EXPECT_EQ(scenario->macosVersion, (OperatingSystemVersion{15, 1, 0}));
    EXPECT_EQ(scenario->files.at("/x/Info.plist").contents, "bplist00");
    EXPECT_TRUE(scenario->files.at("/opt/homebrew/bin/brew").executable);
    EXPECT_TRUE(scenario->files.at("/Applications/Warp.app").directory);
    EXPECT_EQ(scenario->commands[0].delayMs, 5);
    EXPECT_EQ(scenario->commands[1].lines, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(scenario->commands[1].exitCode, -1);
    EXPECT_EQ(scenario->http[0].status, 404);
    EXPECT_EQ(scenario->http[0].headers, (HTTPHeaders{{"ETag", "x"}}));
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
        {R"({"homes": "/Users/x"})", "unknown key \"homes\""},
        {R"({"commands": [{"argv": ["/a"]}, {"argv": ["/b"], "stdot": "x"}]})", "unknown key \"commands[1].stdot\""},
        {R"({"files": {"/a": {"text": "x", "mode": 7}}})", "unknown key \"files./a.mode\""},
        {R"({"http": [{"url": "u", "code": 200}]})", "unknown key \"http[0].code\""},
        {R"({"home": 7})", "\"home\" must be a string"},
        {R"({"home": "Users/x"})", "\"home\" must be an absolute path"},
        {R"({"macosVersion": "fourteen"})", "\"macosVersion\" must look like \"14.5.0\""},
        {R"({"macosVersion": "14.5.0.1"})", "\"macosVersion\" must look like \"14.5.0\""},
        {R"({"environment": {"PATH": ["/bin"]}})", "\"environment.PATH\" must be a string"},
        {R"({"files": {"/a": 3}})", "\"files./a\" must be a string or an object"},
        {R"({"files": {"a": "x"}})", "file path \"a\" must be absolute"},
        {R"({"files": {"/a": {"executable": "yes"}}})", "\"files./a.executable\" must be true or false"},
        {R"({"files": {"/a": {"base64": "%%%"}}})", "\"files./a.base64\" is not valid base64"},
        {R"({"files": {"/a": {"directory": true, "text": "x"}}})",
         "\"files./a\" is a directory and cannot have contents or be executable"},
        {R"({"commands": {}})", "\"commands\" must be a list"},
        {R"({"commands": [{"stdout": "x"}]})", "\"commands[0]\" needs an \"argv\""},
        {R"({"commands": [{"argv": []}]})", "\"commands[0].argv\" must name the executable"},
        {R"({"commands": [{"argv": ["/a", 1]}]})", "\"commands[0].argv[1]\" must be a string"},
        {R"({"commands": [{"argv": ["/a"], "exitCode": 1.5}]})", "\"commands[0].exitCode\" must be an integer"},
        {R"({"commands": [{"argv": ["/a"], "exitCode": 4294967296}]})", "\"commands[0].exitCode\" is out of range"},
        {R"({"commands": [{"argv": ["/a"], "delayMs": -1}]})", "\"commands[0].delayMs\" is out of range"},
        {R"({"http": [{"status": 200}]})", "\"http[0]\" needs a \"url\""},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.json), c.message) << c.json;
    EXPECT_EQ(parseScenario(R"({"homes": 1})").error().code, scenario_error::kInvalid);
}

TEST(SimulatedProcesses, AnswersByExactArgvInTurn) {
    SimulatedProcessRunner runner({test::oneShot({"/bin/zsh", "-lc", "java -version"}, "", 0, "first\n"),
                                   test::oneShot({"/bin/zsh", "-lc", "java -version"}, "", 0, "second\n"),
                                   test::oneShot({"/usr/bin/which", "java"}, "/usr/bin/java\n", 3)});
    EXPECT_EQ(runner.run("/bin/zsh", {"-lc", "java -version"})->stderrText, "first\n");
    EXPECT_EQ(runner.run("/bin/zsh", {"-lc", "java -version"})->stderrText, "second\n");
    EXPECT_EQ(runner.run("/bin/zsh", {"-lc", "java -version"})->stderrText, "second\n");  // the last one stays
    EXPECT_EQ(*runner.run("/usr/bin/which", {"java"}), (ProcessResult{3, "/usr/bin/java\n", ""}));

    const auto missing = runner.run("/usr/bin/which", {"java", "-a"});
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
    auto failed = runner.stream("/usr/bin/java", {});
    EXPECT_EQ(test::collect(failed.events),
              (std::vector<ProcessStreamEvent>{process_event::FailedToStart{"No such file or directory"}}));
    EXPECT_EQ(runner.invocations().size(), 6u);
}

TEST(SimulatedProcesses, StreamsLinesAndStopsWhenCancelled) {
    SimulatedProcessRunner runner({test::streamed({"/brew", "install"}, {"a", "b"}, 0, 1),
                                   test::streamed({"/slow"}, std::vector<std::string>(100, "line"), 0, 50),
                                   test::oneShot({"/plain"}, "out 1\nout 2\n", 4, "err\n")});
    auto install = runner.stream("/brew", {"install"});
    EXPECT_EQ(test::collect(install.events),
              (std::vector<ProcessStreamEvent>{process_event::Line{"a"}, process_event::Line{"b"},
                                               process_event::Exited{0}}));
    auto plain = runner.stream("/plain", {});
    EXPECT_EQ(test::collect(plain.events),
              (std::vector<ProcessStreamEvent>{process_event::Line{"out 1"}, process_event::Line{"out 2"},
                                               process_event::Line{"err"}, process_event::Exited{4}}));

    auto slow = runner.stream("/slow", {});
    const auto first = slow.events.next();
    ASSERT_TRUE(first);
    slow.cancellation->cancel();
    const auto rest = test::collect(slow.events);
    ASSERT_FALSE(rest.empty());
    EXPECT_LT(rest.size(), 50u) << "the stream went on for seconds after the cancel";
    EXPECT_EQ(rest.back(), ProcessStreamEvent(process_event::Exited{15}));
}

TEST(SimulatedFiles, TreeReadsAndWrites) {
    SimulatedFileSystem fs("/Users/kim", {{"/Users/kim/.zprofile", {"export A=1\n", false, false}},
                                          {"/opt/homebrew/bin/brew", {"", true, false}},
                                          {"/Applications/Warp.app", {"", false, true}},
                                          {"/data/junk", {"\xff\xfe", false, false}}});
    bool isDirectory = false;
    EXPECT_TRUE(fs.fileExists("/opt/homebrew", &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_TRUE(fs.isExecutableFile("/opt/homebrew/bin/brew"));
    EXPECT_FALSE(fs.isExecutableFile("/Users/kim/.zprofile"));
    EXPECT_FALSE(fs.isExecutableFile("/opt/homebrew/bin"));
    EXPECT_FALSE(fs.fileExists("/usr/local/bin/brew"));
    EXPECT_TRUE(fs.fileExists(fs.temporaryDirectory()));
    EXPECT_EQ(*fs.contentsOfDirectory("/Users/kim"), (std::vector<std::string>{".zprofile"}));
    EXPECT_EQ(fs.contentsOfDirectory("/nowhere").error().code, ENOENT);
    EXPECT_EQ(fs.readString("/data/junk").error().code, 261);
    EXPECT_EQ(*fs.readData("/data/junk"), "\xff\xfe");

    ASSERT_TRUE(fs.write("export A=1\nexport JAVA_HOME=/x\n", "/Users/kim/.zprofile", true).ok());
    EXPECT_EQ(*fs.readString("/Users/kim//.zprofile"), "export A=1\nexport JAVA_HOME=/x\n");
    EXPECT_EQ(fs.write("x", "/Users/kim/missing/file", false).error().code, ENOENT);
    ASSERT_TRUE(fs.moveItem("/Users/kim/.zprofile", "/Users/kim/.zprofile.bak").ok());
    EXPECT_FALSE(fs.fileExists("/Users/kim/.zprofile"));
    EXPECT_EQ(fs.moveItem("/Users/kim/.zprofile.bak", "/opt/homebrew/bin/brew").error().code, EEXIST);
    ASSERT_TRUE(fs.setPosixPermissions(0700, "/Users/kim/.zprofile.bak").ok());
    EXPECT_EQ(fs.attributesOfItem("/Users/kim/.zprofile.bak")->posixPermissions, 0700u);
    ASSERT_TRUE(fs.moveItem("/opt/homebrew", "/opt/brew").ok());  // a whole tree moves
    EXPECT_TRUE(fs.isExecutableFile("/opt/brew/bin/brew"));
    ASSERT_TRUE(fs.removeItem("/opt").ok());
    EXPECT_FALSE(fs.fileExists("/opt/brew/bin/brew"));
    const auto caches = fs.cachesDirectory();
    ASSERT_TRUE(caches.ok());
    EXPECT_TRUE(fs.fileExists(*caches, &isDirectory) && isDirectory);
}

TEST(SimulatedServicesConcurrency, WritersAndReadersDoNotRace) {
    const auto scenario = parseScenario(R"({"home": "/Users/kim", "commands": [{"argv": ["/a"], "stdout": "x"}]})");
    ASSERT_TRUE(scenario.ok());
    const AppServices services = makeSimulatedServices(*scenario);
    EXPECT_TRUE(services.isFixtureMode);
    std::vector<std::thread> threads;
    for (int index = 0; index < 8; ++index) {
        threads.emplace_back([&services, index] {
            for (int round = 0; round < 50; ++round) {
                const std::string path = "/Users/kim/f" + std::to_string(index);
                (void)services.fs->write(std::to_string(round), path, true);
                (void)services.fs->contentsOfDirectory("/Users/kim");
                (void)services.processRunner->run("/a", {});
                services.store->set(PreferenceValue(std::int64_t{round}), "k" + std::to_string(index));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(services.fs->contentsOfDirectory("/Users/kim")->size(), 8u);
    EXPECT_EQ(std::get<std::int64_t>(*services.store->value("k3")), 49);
}

TEST(SimulatedHTTP, ListedURLsAnswerOthersCannotConnect) {
    const auto scenario = parseScenario(
        R"({"http": [{"url": "https://api.test/v3", "body": "{}"}, {"url": "https://dl.test/x.pkg", "base64": "AAEC"}]})");
    ASSERT_TRUE(scenario.ok());
    const AppServices services = makeSimulatedServices(*scenario);
    HTTPRequest request;
    request.url = "https://api.test/v3";
    const auto answered = services.http->data(request);
    ASSERT_TRUE(answered.ok());
    EXPECT_EQ(answered->response.statusCode, 200);
    EXPECT_EQ(answered->body, "{}");
    request.url = "https://other.test/";
    EXPECT_EQ(services.http->data(request).error().code, url_error::kCannotConnectToHost);
    const auto download = services.http->download("https://dl.test/x.pkg");
    ASSERT_TRUE(download.ok());
    EXPECT_EQ(*services.fs->readData(download->location), std::string("\x00\x01\x02", 3));
}

}  // namespace
}  // namespace lumo
