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
using test::hasSingleTerminal;

constexpr const char* kMarker = "__FXW_JAVA_HOME__:";
constexpr const char* kJavaHome = "/Library/Java/JavaVirtualMachines/jdk-21.jdk/Contents/Home";

// A real login zsh in a home of its own, whose .zprofile talks before it sets
// JAVA_HOME -- even printing a marker line of its own.
class ShellRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.write(".zprofile", std::string("echo 'Welcome to the build machine!'\n"
                                            "echo '__FXW_JAVA_HOME__:/from/a/banner'\n"
                                            "export JAVA_HOME='") +
                                    kJavaHome + "'\n");
    }

    Environment environment() const { return {{"HOME", home.path()}, {"PATH", "/usr/bin:/bin"}}; }
    Result<ProcessResult> loginShell(const std::string& command) const {
        return process->run(kLoginShell, {kLoginShellFlags, command}, environment());
    }

    test::TemporaryDirectory home;
    std::shared_ptr<const ProcessRunning> process = std::make_shared<LiveProcessRunner>();
    ShellRunner shell{process};
};

TEST_F(ShellRunnerTest, MarkerValueIsReadFromTheLastMarkerLineAfterTheBanners) {
    auto result = loginShell(std::string("echo ") + kMarker + "$JAVA_HOME");
    ASSERT_TRUE(result.ok());
    EXPECT_NE(result->stdoutText.find("Welcome"), std::string::npos);
    EXPECT_EQ(markerValue(result->stdoutText, kMarker), kJavaHome);

    // JAVA_HOME unset: the last marker line is empty, and the banner's value
    // further up does not count.
    result = loginShell(std::string("unset JAVA_HOME; echo ") + kMarker + "$JAVA_HOME");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(markerValue(result->stdoutText, kMarker), std::nullopt);
}

TEST(MarkerValueTest, TrimsSpacesAndSplitsAtEveryLineTerminator) {
    EXPECT_EQ(markerValue("m: \t/a b\t \r\n", "m:"), "/a b");
    EXPECT_EQ(markerValue("m:/one\r\nm:/two\u2028tail", "m:"), "/two");
    EXPECT_EQ(markerValue("m:/one\nnoise m:/two\f", "m:"), "/two") << "the marker may follow other text";
    EXPECT_EQ(markerValue("m:/old\nm:   \n", "m:"), std::nullopt);
    EXPECT_EQ(markerValue("no marker here\n", "m:"), std::nullopt);
    EXPECT_EQ(markerValue("", "m:"), std::nullopt);
}

TEST_F(ShellRunnerTest, StreamDeliversMergedOutputThenOneCompleted) {
    auto stream =
        shell.stream(kLoginShell, {kLoginShellFlags, "echo one; echo two >&2; printf last; exit 4"}, environment());
    const auto events = collect(stream);
    ASSERT_TRUE(hasSingleTerminal(events));
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(std::vector<StreamEvent>(events.end() - 4, events.end()),
              (std::vector<StreamEvent>{Output{"one"}, Output{"two"}, Output{"last"}, Completed{4}}));
}

TEST_F(ShellRunnerTest, AProgramThatCannotStartGivesOneLineAndCompletedMinusOne) {
    auto stream = shell.stream(home.path() + "/no-such-shell", {kLoginShellFlags, "true"});
    EXPECT_EQ(
        collect(stream),
        (std::vector<StreamEvent>{
            Output{"Failed to start " + home.path() + "/no-such-shell: No such file or directory"}, Completed{-1}}));
}

TEST_F(ShellRunnerTest, EndingTheConsumptionTerminatesTheShell) {
    pid_t pid = 0;
    {
        auto stream =
            shell.stream(kLoginShell, {kLoginShellFlags, "echo PID:$$; sleep 1000; echo never"}, environment());
        while (auto event = stream.next()) {
            const auto* output = std::get_if<Output>(&*event);
            ASSERT_NE(output, nullptr) << "ended before the shell reported its pid";
            if (auto value = markerValue(output->text, "PID:")) {
                pid = std::stoi(*value);
                break;
            }
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
        "plain",
        "He said \"hi\"",
        "C:\\dir\\ and a trailing backslash\\",
        "$(touch " + trap + ")",
        "`touch " + trap + "`",
        "$HOME ${HOME} $JAVA_HOME",
        "two  spaces\tand a tab",
        "line one\nline two",
        "Zürich \xE2\x98\x95 Ωmega",
        "'single' !bang %s 100$",
        "",
    };
    const std::string out = home.path() + "/out";
    for (const auto& value : values) {
        SCOPED_TRACE(value);
        auto result = loginShell("printf '%s' " + shellQuoted(value) + " > " + shellQuoted(out));
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result->exitCode, 0) << result->stderrText;
        EXPECT_EQ(test::readFile(out), value);
    }
    EXPECT_FALSE(std::filesystem::exists(trap)) << "a quoted value ran a command";
    EXPECT_EQ(shellQuoted("17.0.2"), "\"17.0.2\"") << "ordinary values look as they always did";
}

}  // namespace
}  // namespace lumo
