#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "InstallerTestSupport.h"
#include "remediation/InstallerPackage.h"
#include "remediation/PrivilegedExecutor.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t modeOf(const std::string& path) {
    return static_cast<std::uint32_t>(fs::status(path).permissions() & fs::perms::mask);
}

TEST(PrivilegedExecutorTest, SandboxHoldsTheTwoScriptsAndTheTwoEntryEnvironment) {
    InstallerWorld world;
    PrivilegedExecutor executor(world.fs, world.appEnvironment);
    auto sandbox = executor.prepare("Enter your password");
    ASSERT_TRUE(sandbox.ok()) << sandbox.error().description;

    EXPECT_EQ(fs::path(sandbox->directory).parent_path().string(), world.fs->temporary);
    EXPECT_TRUE(
        std::regex_match(fs::path(sandbox->directory).filename().string(),
                         std::regex("fxw-priv-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << sandbox->directory;
    const std::string askpass = sandbox->directory + "/askpass.sh";
    const std::string wrapper = sandbox->directory + "/sudo";
    EXPECT_EQ(readFile(wrapper), "#!/bin/bash\nexec /usr/bin/sudo -A \"$@\"");
    EXPECT_EQ(modeOf(askpass), 0700u);
    EXPECT_EQ(modeOf(wrapper), 0700u);
    EXPECT_EQ(sandbox->environment, (Environment{{"PATH", sandbox->directory + ":" + world.appEnvironment["PATH"]},
                                                 {"SUDO_ASKPASS", askpass}}));

    // Each preparation is a new directory; cleanup removes only its own.
    auto second = executor.prepare("again");
    ASSERT_TRUE(second.ok());
    EXPECT_NE(second->directory, sandbox->directory);
    sandbox->cleanup();
    EXPECT_FALSE(fs::exists(sandbox->directory));
    EXPECT_TRUE(fs::exists(second->directory));
    second->cleanup();
    second->cleanup();  // a second cleanup is harmless
    EXPECT_TRUE(world.sandboxes().empty());
}

TEST(PrivilegedExecutorTest, WithoutAnAppPathTheSystemPathFollowsTheSandbox) {
    InstallerWorld world;
    for (const Environment& environment : {Environment{}, Environment{{"PATH", ""}, {"HOME", "/x"}}}) {
        auto sandbox = PrivilegedExecutor(world.fs, environment).prepare("p");
        ASSERT_TRUE(sandbox.ok());
        EXPECT_EQ(sandbox->environment.at("PATH"), sandbox->directory + ":/usr/bin:/bin:/usr/sbin:/sbin");
        sandbox->cleanup();
    }
}

TEST(PrivilegedExecutorTest, PreparationFailsWithTheFileSystemError) {
    InstallerWorld world;
    world.fs->temporary = world.root.write("not-a-directory", "x");
    auto sandbox = PrivilegedExecutor(world.fs, world.appEnvironment).prepare("p");
    ASSERT_FALSE(sandbox.ok());
    EXPECT_EQ(sandbox.error().domain, kPosixErrorDomain);
    EXPECT_FALSE(sandbox.error().description.empty());
}

// A child's plain `sudo` reaches the wrapper, the wrapper runs the real sudo
// with -A, and sudo's askpass call shows the prompt exactly as given: it
// reaches osascript as an argument, so a line that would end a here-document,
// `$HOME` and backticks stay text and nothing runs.
TEST(PrivilegedExecutorTest, ChildSudoGoesThroughTheWrapperToTheAskpassDialog) {
    InstallerWorld world;
    const std::string log = world.root.path() + "/log";
    fs::create_directories(log);
    const std::string realSudo = world.program("real-sudo",
                                               "echo \"$*\" > \"$LOG/sudo-args\"\n"
                                               "password=$(\"$SUDO_ASKPASS\" 'Password:')\n"
                                               "printf '%s' \"$password\" > \"$LOG/password\"\n");
    // Records the argument after the script's -e lines, and answers.
    const std::string osascript = world.program("askpass-osascript",
                                                "while [ \"$1\" = -e ]; do shift 2; done\n"
                                                "printf '%s' \"$1\" > \"$LOG/prompt\"\n"
                                                "printf '%s' \"$2\" > \"$LOG/title\"\necho hunter2\n");
    const std::string child = world.program("child", "command -v sudo > \"$LOG/which-sudo\"\nsudo -n true\n");

    PrivilegedExecutor executor(world.fs, world.appEnvironment,
                                PrivilegedPrograms{.sudo = realSudo, .osascript = osascript});
    const std::string prompt = "Password for \"$HOME\" and `touch " + log + "/ran`\nEOF\ntouch " + log +
                               "/ran2\n'; touch " + log + "/ran3; '\\o/";
    auto sandbox = executor.prepare(prompt);
    ASSERT_TRUE(sandbox.ok());
    Environment environment = world.appEnvironment;
    for (const auto& [key, value] : sandbox->environment) environment[key] = value;
    environment["LOG"] = log;

    auto result = world.process->run("/bin/bash", {child}, environment);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->exitCode, 0) << result->stderrText;
    EXPECT_EQ(readFile(log + "/which-sudo"), sandbox->directory + "/sudo\n");
    EXPECT_EQ(readFile(log + "/sudo-args"), "-A -n true\n");
    EXPECT_EQ(readFile(log + "/password"), "hunter2");
    EXPECT_EQ(readFile(log + "/prompt"), prompt);
    EXPECT_EQ(readFile(log + "/title"), "Fixwell for Java");
    for (const char* marker : {"/ran", "/ran2", "/ran3"}) EXPECT_FALSE(fs::exists(log + marker)) << marker;
    sandbox->cleanup();
}

struct AdministratorCase {
    const char* name;
    const char* osascriptBody;
    AdministratorOutcome expected;
};

TEST(PrivilegedExecutorTest, AdministratorRunOutcomesAreClassifiedInOrder) {
    const AdministratorCase cases[] = {
        {"success", "echo 'installer: The install was successful.'\nexit 0\n", AdministratorOutcome::succeeded()},
        {"dialog cancelled", "echo '0:88: execution error: User canceled. (-128)' >&2\nexit 1\n",
         AdministratorOutcome::canceled()},
        {"cancel wording only", "echo 'User Canceled' >&2\nexit 1\n", AdministratorOutcome::canceled()},
        {"installer error",
         "echo\necho '  installer: Error - the package path specified was invalid.  ' >&2\necho\nexit 1\n",
         AdministratorOutcome::failed("installer: Error - the package path specified was invalid.")},
        {"silent failure", "exit 1\n", AdministratorOutcome::failed("osascript exited 1")},
        {"success despite noise", "echo 'User canceled'\nexit 0\n", AdministratorOutcome::succeeded()},
    };
    for (const auto& testCase : cases) {
        InstallerWorld world;
        const std::string osascript = world.program("osascript", testCase.osascriptBody);
        PrivilegedExecutor executor(world.fs, world.appEnvironment, PrivilegedPrograms{.osascript = osascript});
        CancellableProcess cancellation;
        EXPECT_EQ(executor.runAdministratorInstaller(*world.process, {"/tmp/x.pkg", "", ""}, "p", cancellation),
                  testCase.expected)
            << testCase.name;
    }

    InstallerWorld world;
    PrivilegedExecutor missing(world.fs, world.appEnvironment, PrivilegedPrograms{.osascript = world.bin + "/none"});
    CancellableProcess cancellation;
    const auto outcome = missing.runAdministratorInstaller(*world.process, {"/tmp/x.pkg", "", ""}, "p", cancellation);
    EXPECT_EQ(outcome.kind, AdministratorOutcome::Kind::failed);
    EXPECT_EQ(outcome.message.rfind("Failed to start osascript: ", 0), 0u) << outcome.message;
}

// A ProcessRunning whose stream says one line and ends without an exit status.
class SilentEnd final : public ProcessRunning {
public:
    Result<ProcessResult> run(const std::string&, const std::vector<std::string>&, const std::optional<Environment>&,
                              const RunOptions&) const override {
        return ProcessResult{};
    }
    ProcessStream stream(const std::string&, const std::vector<std::string>&,
                         const std::optional<Environment>&) const override {
        auto [events, sink] = makeEventStream<ProcessStreamEvent>();
        sink.yield(process_event::Line{"osascript: lost"});
        sink.finish();
        return {std::move(events), std::make_shared<LiveProcessCancellation>()};
    }
};

TEST(PrivilegedExecutorTest, AStreamEndingWithoutExitStatusIsAFailureNotACancel) {
    InstallerWorld world;
    CancellableProcess cancellation;
    EXPECT_EQ(PrivilegedExecutor(world.fs, world.appEnvironment)
                  .runAdministratorInstaller(SilentEnd(), {"/tmp/x.pkg", "", ""}, "p", cancellation),
              AdministratorOutcome::failed("osascript exited without an exit status"));
}

// The whole administrator command, through osascript's arguments and /bin/sh,
// for a package in a folder whose name holds quotes, backslashes, `$`,
// backticks and a line break: root installs its own checked copy or nothing.
TEST(PrivilegedExecutorTest, RootInstallsOnlyItsOwnCheckedCopy) {
    struct Case {
        const char* name;
        std::string pkgutilAnswer;  // empty: pkgutil prints nothing and fails
        bool expectedDigestMatches;
        const char* installerBody;  // empty: the world's recording installer
        AdministratorOutcome expected;
    };
    const std::string eclipse = "Developer ID Installer: Eclipse Foundation, Inc. (JCDTMS22B4)";
    const auto refused = [](const char* message) {
        return AdministratorOutcome::failed(std::string("0:0: execution error: ") + message + " (1)");
    };
    const Case cases[] = {
        {"genuine", pkgutilSignedAnswer(eclipse), true, "", AdministratorOutcome::succeeded()},
        {"changed bytes", pkgutilSignedAnswer(eclipse), false, "", refused(kPackageChangedMessage)},
        {"unsigned", "Package \"package.pkg\":\n   Status: no signature\n", true, "", refused(kPackageUnsignedMessage)},
        {"another team", pkgutilSignedAnswer("Developer ID Installer: Mallory Ltd (ABCDE12345)"), true, "",
         refused(kPackageUnsignedMessage)},
        {"team only in the name", pkgutilSignedAnswer("Developer ID Installer: Eve (JCDTMS22B4) (ABCDE12345)"), true,
         "", refused(kPackageUnsignedMessage)},
        {"missing file, status 0", "Package does not exist: \"package.pkg\"\n", true, "",
         refused(kPackageUnsignedMessage)},
        {"installer fails", pkgutilSignedAnswer(eclipse), true,
         "echo 'installer: Error - the package is damaged.' >&2\nexit 1\n",
         refused("installer: Error - the package is damaged.")},
    };
    for (const auto& testCase : cases) {
        InstallerWorld world;
        const std::string package = world.root.write(
            "Caches/a \"b\" \\c $(touch PWNED) `touch PWNED2`\nit's $HOME/t.pkg", "xar! genuine Temurin");
        world.root.write("pkgutil-answer", testCase.pkgutilAnswer);
        PrivilegedPrograms programs = world.programs;
        if (*testCase.installerBody) programs.installer = world.program("failing-installer", testCase.installerBody);
        const std::string digest = sha256Hex("xar! genuine Temurin");
        const CheckedPackage checked{package, testCase.expectedDigestMatches ? digest : std::string(64, 'a'),
                                     kTemurinInstallerTeamID};
        CancellableProcess cancellation;
        const std::string prompt = "Say \"yes\" \\ $HOME";
        world.program("dialog", "printf '%s' \"$1\" > \"" + world.file("prompt") + "\"\n");

        EXPECT_EQ(PrivilegedExecutor(world.fs, world.appEnvironment, programs)
                      .runAdministratorInstaller(*world.process, checked, prompt, cancellation),
                  testCase.expected)
            << testCase.name;
        EXPECT_EQ(readFile(world.file("prompt")), prompt) << testCase.name;
        const std::string log = world.installerLog();
        if (testCase.expected == AdministratorOutcome::succeeded()) {
            // -pkg, root's copy (not the download), -target, /, its digest, its folder's mode.
            std::istringstream lines(log);
            std::vector<std::string> fields;
            for (std::string line; std::getline(lines, line);) fields.push_back(line);
            ASSERT_EQ(fields.size(), 6u) << log;
            EXPECT_EQ(fields[0], "-pkg");
            EXPECT_EQ(fs::path(fields[1]).parent_path().parent_path().string(), programs.rootScratchDirectory);
            EXPECT_EQ(fs::path(fields[1]).parent_path().filename().string().rfind("fxw-root-", 0), 0u) << fields[1];
            EXPECT_EQ(fields[2], "-target");
            EXPECT_EQ(fields[3], "/");
            EXPECT_EQ(fields[4], digest);
            EXPECT_EQ(fields[5], "drwx------");
        } else if (!*testCase.installerBody) {
            EXPECT_EQ(log, "") << testCase.name << ": the installer must not run";
        }
        EXPECT_TRUE(world.rootFolders().empty()) << testCase.name;
        EXPECT_FALSE(fs::exists(world.root.path() + "/Caches/PWNED")) << testCase.name;
        EXPECT_FALSE(fs::exists("PWNED")) << testCase.name;
        EXPECT_FALSE(fs::exists("PWNED2")) << testCase.name;
    }
}

}  // namespace
}  // namespace lumo::test
