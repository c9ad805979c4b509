// The simulated Mac where the scenario walks cannot see: its sandbox's
// borders, its disk's corner cases, pinned programs, the real tools'
// refusals, its lifetime and its threads. (Start-up files, JDKs, installs
// and arch -arm64 are walked on the bundled scenarios; the shells' parity
// with this machine's is LiveParityTest's.)
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "simulated/MacSandbox.h"
#include "simulated/SimulatedServices.h"
#include "support/ScenarioCommands.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

const std::string kJVM = "/Library/Java/JavaVirtualMachines";
const Environment kApp = {{"HOME", "/Users/alex"},
                          {"USER", "alex"},
                          {"SHELL", "/bin/zsh"},
                          {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"},
                          {"LANG", "en_US.UTF-8"}};

// A Mac made from `scenario` (the app's environment unless it names one), and what its login shells say.
struct Mac {
    explicit Mac(Scenario scenario) {
        if (scenario.environment.empty()) scenario.environment = kApp;
        services = makeSimulatedServices(scenario);
    }

    // The shell's standard output and error, merged, after a login shell ran
    // `script` with the engine's clean environment.
    std::string shell(const std::string& script, const char* flags = "-ilc", const char* program = "/bin/zsh") const {
        Environment clean = kApp;
        clean["TERM"] = "dumb";
        const auto result =
            services.processRunner->run(program, {flags, script}, clean, RunOptions{std::chrono::seconds(60)});
        EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().description);
        return result.ok() ? result->stdoutText + result->stderrText : std::string();
    }
    ProcessResult run(const std::string& program, const std::vector<std::string>& arguments) const {
        const auto result = services.processRunner->run(program, arguments);
        EXPECT_TRUE(result.ok()) << program << ": " << (result.ok() ? "" : result.error().description);
        return result.ok() ? *result : ProcessResult{-1, "", ""};
    }

    AppServices services;
};

TEST(MacPaths, MacPathsMoveIntoTheSandboxAndBackOut) {
    const auto sandbox = *MacSandbox::create(Scenario{});
    const std::string R = sandbox->root();
    const struct {
        const char* mac;
        std::string host;
    } cases[] = {
        {"/usr/bin:/bin:/usr/sbin:/sbin", R + "/usr/bin:" + R + "/bin:" + R + "/usr/sbin:" + R + "/sbin"},
        // Not the start of a path: left alone.
        {"\"$HOME\"/Library ${X}/bin $(pwd)/usr ~/Library a/usr",
         "\"$HOME\"/Library ${X}/bin $(pwd)/usr ~/Library a/usr"},
        {"https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh 2>/dev/null /usrx /Usersfoo",
         "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh 2>/dev/null /usrx /Usersfoo"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sandbox->hostText(c.mac), c.host) << c.mac;
        EXPECT_EQ(sandbox->macText(sandbox->hostText(c.mac)), c.mac) << c.mac;
        EXPECT_EQ(sandbox->hostText(c.host), c.host) << "twice: " << c.mac;
    }
    EXPECT_EQ(sandbox->macText(R + " and " + R + "x/y"), "/ and " + R + "x/y");
    EXPECT_EQ(sandbox->hostPath("/Users/../../../etc/passwd"), R + "/etc/passwd");
    EXPECT_EQ(sandbox->hostPath("relative"), std::nullopt);
}

TEST(SimulatedDisk, ASiblingThatSortsBeforeTheSlashHidesNothing) {
    // "JavaVirtualMachines.bak" sorts between "JavaVirtualMachines" and its
    // children: listings, removals and moves must not stop there.
    const auto fs = test::simulatedDisk(
        "/Users/kim", {{kJVM + "/temurin-21.jdk/Contents/Home/release", ScenarioFile::text("JAVA_VERSION=\"21\"\n")},
                       {"/Library/Java/JavaVirtualMachines.bak/old.jdk/x", ScenarioFile::text("old")}});
    EXPECT_EQ(*fs->contentsOfDirectory(kJVM), (std::vector<std::string>{"temurin-21.jdk"}));
    EXPECT_EQ(*fs->contentsOfDirectory("/Library/Java"),
              (std::vector<std::string>{"JavaVirtualMachines", "JavaVirtualMachines.bak"}));
    ASSERT_TRUE(fs->moveItem(kJVM, "/Library/Java/JVMs").ok());
    EXPECT_TRUE(fs->fileExists("/Library/Java/JVMs/temurin-21.jdk/Contents/Home/release"));
    ASSERT_TRUE(fs->removeItem("/Library/Java/JVMs").ok());
    EXPECT_FALSE(fs->fileExists("/Library/Java/JVMs"));
    EXPECT_TRUE(fs->fileExists("/Library/Java/JavaVirtualMachines.bak/old.jdk/x"));
}

TEST(SimulatedDisk, LinksAreWrittenThroughAndNeverLeadOutOfTheMac) {
    const auto fs = test::simulatedDisk("/Users/kim", {{"/Users/kim/dotfiles/zshrc", ScenarioFile::text("# mine\n")},
                                                       {"/Users/kim/.zshrc", ScenarioFile::link("dotfiles/zshrc")},
                                                       {"/Users/kim/escape", ScenarioFile::link("/etc")}});
    // A start-up file that is a link stays a link; the file it leads to changes.
    ASSERT_TRUE(fs->write("export JAVA_HOME=/x\n", "/Users/kim/.zshrc", true).ok());
    EXPECT_EQ(*fs->readString("/Users/kim/dotfiles/zshrc"), "export JAVA_HOME=/x\n");
    EXPECT_TRUE(fs->attributesOfItem("/Users/kim/.zshrc")->isSymbolicLink);
    EXPECT_EQ(*fs->resolvingSymlinks("/Users/kim/.zshrc"), "/Users/kim/dotfiles/zshrc");

    // An absolute link leads to the Mac's /etc, never this machine's.
    EXPECT_TRUE(fs->fileExists("/Users/kim/escape/zprofile"));
    EXPECT_FALSE(fs->fileExists("/Users/kim/escape/hostname"));
}

TEST(SimulatedProcesses, PinnedProgramsAnswerInTurnAndShellsAreNeverPinned) {
    Scenario scenario;
    scenario.commands = {test::oneShot({"/usr/bin/xcode-select", "-p"}, "", 2, "first\n"),
                         test::oneShot({"/usr/bin/xcode-select", "-p"}, "/Library/Developer/CommandLineTools\n"),
                         test::oneShot({"/bin/zsh", "-lc", "echo hi"}, "a canned lie\n")};
    const Mac mac(scenario);
    EXPECT_EQ(mac.run("/usr/bin/xcode-select", {"-p"}).stderrText, "first\n");
    EXPECT_EQ(mac.run("/usr/bin/xcode-select", {"-p"}).stdoutText, "/Library/Developer/CommandLineTools\n");
    EXPECT_EQ(mac.run("/usr/bin/xcode-select", {"-p"}).stdoutText, "/Library/Developer/CommandLineTools\n");
    EXPECT_EQ(mac.run("/bin/zsh", {"-lc", "echo hi"}).stdoutText, "hi\n");  // the real zsh
    EXPECT_EQ(mac.services.processRunner->run("/usr/local/bin/nothing", {}).error().code, ENOENT);
}

// java_home as the real one when nothing matches: the default on standard
// output, the refusal on standard error, and -F fails.
TEST(SimulatedPrograms, JavaHomeAnswersAnUnmatchedVersionAsTheRealOneDoes) {
    const Mac mac(test::bundledScenario("java-home-unset.json"));
    const ProcessResult unmatched = mac.run("/usr/libexec/java_home", {"-v", "25"});
    EXPECT_EQ(unmatched.stderrText, "Unable to find any JVMs matching version \"25\".\n");
    EXPECT_EQ(unmatched.stdoutText, kJVM + "/temurin-21.jdk/Contents/Home\n");
    EXPECT_EQ(mac.run("/usr/libexec/java_home", {"-F", "-v", "25"}).exitCode, 1);
}

// The password dialog's Cancel: osascript fails with -128, before the script runs.
TEST(SimulatedPrograms, ACancelledPasswordDialogFailsAsOnTheMac) {
    Scenario scenario;
    scenario.passwordDialogCancelled = true;
    const Mac mac(scenario);
    const ProcessResult installed = mac.run(
        "/usr/bin/osascript", {"-e",
                               "do shell script \"/usr/sbin/installer -pkg '/Users/alex/Downloads/t.pkg' -target /\""
                               " with administrator privileges with prompt \"P\""});
    EXPECT_EQ(installed.exitCode, 1);
    EXPECT_NE(installed.stderrText.find("execution error: User canceled. (-128)"), std::string::npos);
}

// What the journeys do not walk: where the real tools refuse. (Installing
// Homebrew, SDKMAN's, mise's and jEnv's routes are walked on their scenarios.)
TEST(SimulatedPrograms, ToolsRefuseWhereTheRealOnesDo) {
    Scenario refused;
    refused.administrator = false;
    refused.files = {{"/Users/alex/.sdkman/bin/sdkman-init.sh", ScenarioFile::program("sdkman-init")},
                     {"/Users/alex/.local/bin/mise", ScenarioFile::program("mise")},
                     {"/Users/alex/.zshrc", ScenarioFile::text("source \"$HOME/.sdkman/bin/sdkman-init.sh\"\n")}};
    const Mac mac(refused);
    // Homebrew's install script without an administrator's password.
    const std::string stopped = mac.shell(
        "NONINTERACTIVE=1 /bin/bash -c \"$(curl -fsSL "
        "https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh)\"; echo \"exit $?\"");
    EXPECT_NE(stopped.find("Need sudo access on macOS (e.g. the user alex needs to be an Administrator)!"),
              std::string::npos);
    EXPECT_NE(stopped.find("exit 1\n"), std::string::npos) << stopped;

    // SDKMAN: identifiers are full versions; "25-tem" is refused, with or without a folder argument.
    const std::string sdk = "source \"/Users/alex/.sdkman/bin/sdkman-init.sh\" && sdk ";
    EXPECT_NE(mac.shell(sdk + "install java 25-tem").find("Stop! java 25-tem is not available."), std::string::npos);
    EXPECT_NE(mac.shell(sdk + "install java 25-tem y").find("Invalid path! Refusing to link java 25-tem to //y."),
              std::string::npos);
    EXPECT_EQ(mac.shell("echo \"[$JAVA_HOME]\"; command -v sdk", "-lc"), "[]\n");  // loaded from ~/.zshrc only
    // mise installs itself off PATH.
    EXPECT_NE(mac.shell("mise --version").find("command not found"), std::string::npos);
    // This machine's java never leaks into the Mac: `java` is Apple's stub.
    EXPECT_NE(mac.shell("java -version").find("Unable to locate a Java Runtime."), std::string::npos);
}

TEST(SimulatedMac, TheSandboxGoesWithItsLastUser) {
    std::string root;
    {
        const AppServices services = makeSimulatedServices(Scenario{});
        const auto stream = services.processRunner->stream("/bin/zsh", {"-c", "sleep 0.2"});
        root = dynamic_cast<const SimulatedFileSystem&>(*services.fs).sandbox()->root();
        EXPECT_TRUE(std::filesystem::exists(root));
    }
    EXPECT_TRUE(test::eventually([&] { return !std::filesystem::exists(root); }));
}

TEST(SimulatedServicesConcurrency, WritersReadersAndShellsDoNotRace) {
    const AppServices services = makeSimulatedServices(test::scenarioFrom(R"({"home": "/Users/kim"})"));
    std::vector<std::thread> threads;
    for (int index = 0; index < 4; ++index) {
        threads.emplace_back([&services, index] {
            for (int round = 0; round < 5; ++round) {
                const std::string path = "/Users/kim/f" + std::to_string(index);
                (void)services.fs->write(std::to_string(round), path, true);
                (void)services.fs->contentsOfDirectory("/Users/kim");
                (void)services.processRunner->run("/usr/bin/uname", {"-m"});
                services.store->set(PreferenceValue(std::int64_t{round}), "k" + std::to_string(index));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(services.fs->contentsOfDirectory("/Users/kim")->size(), 5u);  // Library, f0..f3
    EXPECT_EQ(std::get<std::int64_t>(*services.store->value("k3")), 4);
}

}  // namespace
}  // namespace lumo
