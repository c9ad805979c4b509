#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "InstallerTestSupport.h"
#include "remediation/PrivilegedExecutor.h"

namespace lumo::test {
namespace {

namespace fs = std::filesystem;

std::uint32_t modeOf(const std::string& path) {
    return static_cast<std::uint32_t>(fs::status(path).permissions() & fs::perms::mask);
}

// The text of the AppleScript string literal that follows `prefix`.
std::string appleScriptLiteralAfter(const std::string& script, const std::string& prefix) {
    const auto start = script.find(prefix);
    if (start == std::string::npos) return "<missing>";
    std::string text;
    for (auto i = start + prefix.size(); i < script.size(); ++i) {
        if (script[i] == '\\' && i + 1 < script.size()) {
            text += script[++i];
        } else if (script[i] == '"') {
            return text;
        } else {
            text += script[i];
        }
    }
    return "<unterminated>";
}

TEST(PrivilegedExecutorTest, SandboxHoldsTheTwoScriptsAndTheTwoEntryEnvironment) {
    InstallerWorld world;
    PrivilegedExecutor executor(world.fs, world.appEnvironment);
    auto sandbox = executor.prepare("Enter \"your\" password \\ now");
    ASSERT_TRUE(sandbox.ok()) << sandbox.error().description;

    EXPECT_EQ(fs::path(sandbox->directory).parent_path().string(), world.fs->temporary);
    EXPECT_TRUE(
        std::regex_match(fs::path(sandbox->directory).filename().string(),
                         std::regex("fxw-priv-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << sandbox->directory;
    const std::string askpass = sandbox->directory + "/askpass.sh";
    const std::string wrapper = sandbox->directory + "/sudo";
    EXPECT_EQ(readFile(wrapper), "#!/bin/bash\nexec /usr/bin/sudo -A \"$@\"");
    EXPECT_EQ(readFile(askpass),
              "#!/bin/bash\n"
              "osascript <<'EOF'\n"
              "display dialog \"Enter \\\"your\\\" password \\\\ now\" default answer \"\" with hidden answer "
              "with title \"Fixwell for Java\" with icon caution\n"
              "return text returned of result\n"
              "EOF");
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
// with -A, and sudo's askpass call shows the prompt exactly as given: the
// here-document is quoted, so `$HOME` and backticks stay text.
TEST(PrivilegedExecutorTest, ChildSudoGoesThroughTheWrapperToTheAskpassDialog) {
    InstallerWorld world;
    const std::string log = world.root.path() + "/log";
    fs::create_directories(log);
    const std::string realSudo = world.program("real-sudo",
                                               "echo \"$*\" > \"$LOG/sudo-args\"\n"
                                               "password=$(\"$SUDO_ASKPASS\")\n"
                                               "printf '%s' \"$password\" > \"$LOG/password\"\n");
    world.program("osascript", "cat > \"$LOG/applescript\"\necho hunter2\n");
    const std::string child = world.program("child", "command -v sudo > \"$LOG/which-sudo\"\nsudo -n true\n");

    PrivilegedExecutor executor(world.fs, world.appEnvironment, PrivilegedPrograms{.sudo = realSudo});
    const std::string prompt = "Password for \"$HOME\" and `touch " + log + "/ran` \\o/";
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
    EXPECT_EQ(readFile(log + "/applescript"),
              "display dialog \"Password for \\\"$HOME\\\" and `touch " + log +
                  "/ran` \\\\o/\" default answer \"\" with hidden answer with title \"Fixwell for Java\" with icon "
                  "caution\nreturn text returned of result\n");
    EXPECT_FALSE(fs::exists(log + "/ran"));
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
        EXPECT_EQ(executor.runAdministratorInstaller(*world.process, "/tmp/x.pkg", "p", cancellation),
                  testCase.expected)
            << testCase.name;
    }

    InstallerWorld world;
    PrivilegedExecutor missing(world.fs, world.appEnvironment, PrivilegedPrograms{.osascript = world.bin + "/none"});
    CancellableProcess cancellation;
    const auto outcome = missing.runAdministratorInstaller(*world.process, "/tmp/x.pkg", "p", cancellation);
    EXPECT_EQ(outcome.kind, AdministratorOutcome::Kind::failed);
    EXPECT_EQ(outcome.message.rfind("Failed to start osascript: ", 0), 0u) << outcome.message;
}

TEST(PrivilegedExecutorTest, AdministratorScriptForAnOrdinaryPath) {
    EXPECT_EQ(PrivilegedExecutor::administratorScript(
                  "/usr/sbin/installer", "/Users/ann/Library/Caches/Fixwell/temurin-21-aarch64.pkg",
                  "Enter Mac password to install Temurin to /Library/Java/JavaVirtualMachines/"),
              "do shell script \"/usr/sbin/installer -pkg '/Users/ann/Library/Caches/Fixwell/temurin-21-aarch64.pkg' "
              "-target /\" with administrator privileges with prompt \"Enter Mac password to install Temurin to "
              "/Library/Java/JavaVirtualMachines/\"");
}

// The command macOS runs as root, taken out of the script osascript receives
// and run by /bin/sh as `do shell script` would: the package path arrives as
// one literal argument, and nothing in it is executed.
TEST(PrivilegedExecutorTest, PackagePathReachesTheRootShellAsOneLiteralArgument) {
    InstallerWorld world;
    const std::string marker = world.root.path() + "/PWNED";
    const std::string pkgPath =
        world.root.path() + "/Caches/a \"b\" \\c $(touch " + marker + ") `touch " + marker + "2` it's $HOME.pkg";
    const std::string installer = world.program("installer", "printf '%s\\n' \"$@\"\n");
    const std::string osascript =
        world.program("osascript", "printf '%s' \"$2\" > \"" + world.root.path() + "/script\"\n");
    PrivilegedExecutor executor(world.fs, world.appEnvironment,
                                PrivilegedPrograms{.osascript = osascript, .installer = installer});
    CancellableProcess cancellation;
    ASSERT_EQ(executor.runAdministratorInstaller(*world.process, pkgPath, "Say \"yes\"", cancellation),
              AdministratorOutcome::succeeded());

    const std::string script = readFile(world.root.path() + "/script");
    EXPECT_EQ(appleScriptLiteralAfter(script, "with prompt \""), "Say \"yes\"");
    const std::string command = appleScriptLiteralAfter(script, "do shell script \"");
    auto ran = world.process->run("/bin/sh", {"-c", command});
    ASSERT_TRUE(ran.ok());
    EXPECT_EQ(ran->stdoutText, "-pkg\n" + pkgPath + "\n-target\n/\n");
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(marker + "2"));
}

}  // namespace
}  // namespace lumo::test
