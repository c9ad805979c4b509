#include "platform/ShellRunner.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "platform/ProcessTestSupport.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using stream_event::Completed;
using stream_event::Output;
using test::collect;

// A real login zsh in a home of its own.
class ShellRunnerTest : public ::testing::Test {
protected:
    Environment environment() const { return {{"HOME", home.path()}, {"PATH", "/usr/bin:/bin"}}; }

    test::TemporaryDirectory home;
    std::shared_ptr<const ProcessRunning> process = std::make_shared<LiveProcessRunner>();
    LoginShell zsh{LoginShell::Kind::zsh, "/bin/zsh", environment()};
    ShellRunner shell{process, zsh};
};

TEST(LoginShellTest, IsTheAccountsShellWhenZshBashOrFishElseZsh) {
    const struct {
        const char* userShell;
        const char* shellVariable;
        const char* path;
        LoginShell::Kind kind;
    } rows[] = {
        {"/bin/zsh", "/bin/bash", "/bin/zsh", LoginShell::Kind::zsh},  // the account database wins over $SHELL
        {"/opt/homebrew/bin/fish", "", "/opt/homebrew/bin/fish", LoginShell::Kind::fish},
        {"", "/usr/local/bin/bash", "/usr/local/bin/bash", LoginShell::Kind::bash},
        {"/bin/tcsh", "/bin/zsh", "/bin/zsh", LoginShell::Kind::zsh},  // no script of ours for tcsh
        {"", "", "/bin/zsh", LoginShell::Kind::zsh},
    };
    for (const auto& row : rows) {
        HostInfo host;
        host.userShell = row.userShell;
        if (*row.shellVariable) host.environment["SHELL"] = row.shellVariable;
        const LoginShell shell = LoginShell::forHost(host);
        EXPECT_EQ(shell.path(), row.path) << row.userShell << " / " << row.shellVariable;
        EXPECT_EQ(shell.kind(), row.kind) << row.userShell << " / " << row.shellVariable;
    }
    HostInfo fishUser;
    fishUser.userShell = "/usr/bin/fish";
    EXPECT_EQ(LoginShell::forHost(fishUser).forPOSIXCommands().path(), "/bin/zsh") << "fish cannot run zsh syntax";
}

// Whatever the app was started with, the shell gets a clean environment.
TEST(LoginShellTest, RunsInACleanEnvironmentWithAFreshNonceEachRun) {
    HostInfo host;
    host.environment = {{"HOME", "/Users/alex"}, {"PATH", "/app/bin"}, {"JAVA_HOME", "/app/jdk"}, {"TERM", "xterm"}};
    EXPECT_EQ(LoginShell::forHost(host).environment(),
              (Environment{{"HOME", "/Users/alex"}, {"PATH", "/usr/bin:/bin:/usr/sbin:/sbin"}, {"TERM", "dumb"}}));

    const std::string nonce = LoginShell::makeNonce();
    EXPECT_EQ(nonce.size(), 16u);
    EXPECT_EQ(nonce.find_first_not_of("0123456789abcdef"), std::string::npos) << nonce;
    EXPECT_NE(nonce, LoginShell::makeNonce());
}

TEST(MarkerValueTest, TrimsSpacesAndSplitsAtEveryLineTerminator) {
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"m: \t/a b\t \r\n", "/a b"},       {"m:/one\r\nm:/two\u2028tail", "/two"},
        {"m:/one\nnoise m:/two\f", "/two"},  // the marker may follow other text
        {"m:/old\nm:   \n", std::nullopt},  {"no marker here\n", std::nullopt},
    };
    for (const auto& [text, expected] : rows) EXPECT_EQ(markerValue(text, "m:"), expected) << text;
}

TEST_F(ShellRunnerTest, StreamDeliversMergedOutputThenOneCompletedAndEndsTheShellWhenAbandoned) {
    const auto events =
        collect(shell.stream("/bin/zsh", {"-lc", "echo one; echo two >&2; printf last; exit 4"}, environment()));
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(std::count_if(events.begin(), events.end(), isTerminal), 1);
    EXPECT_EQ(std::vector<StreamEvent>(events.end() - 4, events.end()),
              (std::vector<StreamEvent>{Output{"one"}, Output{"two"}, Output{"last"}, Completed{4}}));

    // A program that cannot start gives one line and Completed(-1).
    const std::string missing = home.path() + "/no-such-shell";
    EXPECT_EQ(collect(shell.stream(missing, {"-lc", "true"})),
              (std::vector<StreamEvent>{Output{"Failed to start " + missing + ": No such file or directory"},
                                        Completed{-1}}));

    pid_t pid = 0;
    {
        auto stream = shell.stream("/bin/zsh", {"-lc", "echo PID:$$; sleep 1000; echo never"}, environment());
        // System-wide start-up files may print before the marker.
        while (pid == 0) {
            const auto event = stream.next();
            const auto* output = event ? std::get_if<Output>(&*event) : nullptr;
            ASSERT_NE(output, nullptr);
            pid = std::stoi(markerValue(output->text, "PID:").value_or("0"));
        }
        stream.cancel();
        EXPECT_FALSE(stream.next().has_value()) << "no Completed after the consumer stopped";
    }
    ASSERT_NE(pid, 0);
    EXPECT_TRUE(test::waitUntilGone(pid, /*zombieCounts=*/false));
}

TEST_F(ShellRunnerTest, QuotedValuesReachZshUnchangedAndRunNothing) {
    const std::string trap = home.path() + "/ran";
    const std::vector<std::string> values = {
        "He said \"hi\"",
        "C:\\dir\\ and a trailing backslash\\",
        "$(touch " + trap + ") ${HOME}",
        "`touch " + trap + "`",
        "line one\nline two, Zürich \xE2\x98\x95",
        "'single' !bang %s 100$",
        "",
    };
    const std::string out = home.path() + "/out";
    for (const auto& value : values) {
        SCOPED_TRACE(value);
        auto result =
            zsh.run(*process, LoginShell::View::login, "printf '%s' " + shellQuoted(value) + " > " + shellQuoted(out));
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->exitCode, 0) << result->stderrText;
        EXPECT_EQ(test::readFile(out), value);
    }
    EXPECT_FALSE(std::filesystem::exists(trap)) << "a quoted value ran a command";
    EXPECT_EQ(shellQuoted("17.0.2"), "\"17.0.2\"") << "ordinary values look as they always did";
}

}  // namespace
}  // namespace lumo
