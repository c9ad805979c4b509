#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "InstallerTestSupport.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

// The sandbox holds the sudo wrapper and the askpass script, owner-only, and
// the two-entry environment that puts them first. A child's plain `sudo`
// reaches the wrapper, the wrapper runs the real sudo with -A, and sudo's
// askpass call shows the prompt exactly as given: it reaches osascript as an
// argument, so a line that would end a here-document, `$HOME` and backticks
// stay text and nothing runs.
TEST(PrivilegedExecutorTest, ChildSudoGoesThroughTheSandboxWrapperToTheAskpassDialog) {
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
    ASSERT_TRUE(sandbox.ok()) << sandbox.error().description;
    const std::string dir = sandbox->directory;
    EXPECT_TRUE(std::regex_match(dir, std::regex(world.fs->temporary + "/fxw-priv-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-"
                                                                       "[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << dir;
    for (const char* file : {"/sudo", "/askpass.sh"})
        EXPECT_EQ(fs::status(dir + file).permissions(), fs::perms::owner_all) << file;
    EXPECT_EQ(sandbox->environment,
              (Environment{{"PATH", dir + ":" + world.appEnvironment["PATH"]}, {"SUDO_ASKPASS", dir + "/askpass.sh"}}));
    Environment environment = world.appEnvironment;
    for (const auto& [key, value] : sandbox->environment) environment[key] = value;
    environment["LOG"] = log;

    auto result = world.process->run("/bin/bash", {child}, environment);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->exitCode, 0) << result->stderrText;
    EXPECT_EQ(readFile(log + "/which-sudo"), dir + "/sudo\n");
    EXPECT_EQ(readFile(log + "/sudo-args"), "-A -n true\n");
    EXPECT_EQ(readFile(log + "/password"), "hunter2");
    EXPECT_EQ(readFile(log + "/prompt"), prompt);
    EXPECT_EQ(readFile(log + "/title"), "Fixwell for Java");
    for (const char* marker : {"/ran", "/ran2", "/ran3"}) EXPECT_FALSE(fs::exists(log + marker)) << marker;

    // Each preparation is a new directory; cleanup removes only its own, and a
    // second cleanup is harmless. Without an app PATH the system's follows the sandbox.
    auto second = PrivilegedExecutor(world.fs, Environment{{"PATH", ""}}).prepare("again");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->environment.at("PATH"), second->directory + ":/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(readFile(second->directory + "/sudo"), "#!/bin/bash\nexec /usr/bin/sudo -A \"$@\"");
    sandbox->cleanup();
    sandbox->cleanup();
    EXPECT_EQ(world.sandboxes(), std::vector<std::string>{fs::path(second->directory).filename().string()});
    second->cleanup();
}

TEST(PrivilegedExecutorTest, AdministratorRunOutcomesAreClassifiedInOrder) {
    using Outcome = AdministratorOutcome;
    const struct {
        int exitCode;
        const char* output;
        Outcome expected;
    } rows[] = {
        {1, "0:88: execution error: User canceled. (-128)", Outcome::canceled()},
        {1, "User Canceled", Outcome::canceled()},
        {1, "\n  installer: Error - bad path.  \n\n", Outcome::failed("installer: Error - bad path.")},
        {1, "", Outcome::failed("osascript exited 1")},
        {0, "User canceled", Outcome::succeeded()},  // the exit status decides first
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PrivilegedExecutor::classifyAdministratorRun(row.exitCode, row.output), row.expected) << row.output;
    }
}

// A ProcessRunning whose stream says one line and ends without an exit status.
class SilentEnd final : public HomeProcessRunner {
public:
    using HomeProcessRunner::HomeProcessRunner;
    ProcessStream stream(const std::string&, const std::vector<std::string>&,
                         const std::optional<Environment>&) const override {
        auto [events, sink] = makeEventStream<ProcessStreamEvent>();
        sink.yield(process_event::Line{"osascript: lost"});
        sink.finish();
        return {std::move(events), std::make_shared<LiveProcessCancellation>()};
    }
};

// An osascript that cannot start, or whose stream ends without an exit status,
// is a failure, never a cancel or a success.
TEST(PrivilegedExecutorTest, AnOsascriptThatCannotStartOrEndsSilentlyIsAFailure) {
    InstallerWorld world;
    CancellableProcess cancellation;
    EXPECT_EQ(PrivilegedExecutor(world.fs, world.appEnvironment)
                  .runAdministratorInstaller(SilentEnd(world.fs->home), {"/tmp/x.pkg", "", ""}, "p", cancellation),
              AdministratorOutcome::failed("osascript exited without an exit status"));
    PrivilegedExecutor missing(world.fs, world.appEnvironment, PrivilegedPrograms{.osascript = world.bin + "/none"});
    const auto outcome = missing.runAdministratorInstaller(*world.process, {"/tmp/x.pkg", "", ""}, "p", cancellation);
    EXPECT_EQ(outcome.message.rfind("Failed to start osascript: ", 0), 0u) << outcome.message;
}

// The whole administrator command, through osascript's arguments and /bin/sh,
// for a package in a folder whose name holds quotes, backslashes, `$`,
// backticks and a line break: root installs its own checked copy or nothing.
TEST(PrivilegedExecutorTest, RootInstallsOnlyItsOwnCheckedCopy) {
    const std::string genuine = pkgutilSignedAnswer("Developer ID Installer: Eclipse Foundation, Inc. (JCDTMS22B4)");
    const auto refused = [](const std::string& message) {
        return AdministratorOutcome::failed("0:0: execution error: " + message + " (1)");
    };
    const auto notSigned = refused(kPackageUnsignedMessage);
    const std::string digest = sha256Hex("xar! genuine Temurin");
    const struct {
        const char* name;
        std::string pkgutilAnswer;
        std::string digest;         // the one checked
        const char* installerBody;  // empty: the world's recording installer
        AdministratorOutcome expected;
    } rows[] = {
        {"genuine", genuine, digest, "", AdministratorOutcome::succeeded()},
        {"changed bytes", genuine, std::string(64, 'a'), "", refused(kPackageChangedMessage)},
        {"unsigned", "Package \"package.pkg\":\n   Status: no signature\n", digest, "", notSigned},
        {"team only in the name", pkgutilSignedAnswer("Developer ID Installer: Eve (JCDTMS22B4) (X1)"), digest, "",
         notSigned},
        {"installer fails", genuine, digest, "echo 'installer: damaged.' >&2; exit 1", refused("installer: damaged.")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        InstallerWorld world;
        // A folder whose name holds quotes, backslashes, `$`, backticks and a line break.
        const std::string package = world.root.write(
            "Caches/a \"b\" \\c $(touch PWNED) `touch PWNED2`\nit's $HOME/t.pkg", "xar! genuine Temurin");
        world.root.write("pkgutil-answer", row.pkgutilAnswer);
        if (*row.installerBody) world.programs.installer = world.program("failing-installer", row.installerBody);
        const std::string prompt = "Say \"yes\" \\ $HOME";
        world.program("dialog", "printf '%s' \"$1\" > \"" + world.file("prompt") + "\"\n");
        CancellableProcess cancellation;
        const CheckedPackage checked{package, row.digest, kTemurinInstallerTeamID};
        EXPECT_EQ(PrivilegedExecutor(world.fs, world.appEnvironment, world.programs)
                      .runAdministratorInstaller(*world.process, checked, prompt, cancellation),
                  row.expected);
        EXPECT_EQ(readFile(world.file("prompt")), prompt);
        const std::string log = world.installerLog();
        if (row.expected == AdministratorOutcome::succeeded()) {
            // -pkg, root's copy in a private folder of its own, -target, /, its digest, that folder's mode.
            EXPECT_TRUE(std::regex_match(
                log, std::regex("-pkg\n" + world.programs.rootScratchDirectory +
                                "/fxw-root-[^/\n]+/[^/\n]+\n-target\n/\n" + digest + "\ndrwx------\n")))
                << log;
        } else if (!*row.installerBody) {
            EXPECT_EQ(log, "") << "the installer must not run";
        }
        EXPECT_TRUE(world.rootFolders().empty());
        for (const std::string& marker :
             {world.root.path() + "/Caches/PWNED", std::string("PWNED"), std::string("PWNED2")})
            EXPECT_FALSE(fs::exists(marker)) << marker;
    }
}

}  // namespace
}  // namespace lumo::test
