#include "platform/live/LiveProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ProcessCancellation.h"
#include "platform/ProcessTestSupport.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using process_event::Exited;
using process_event::FailedToStart;
using process_event::Line;
using test::collect;
using test::hasSingleTerminal;
using Events = std::vector<ProcessStreamEvent>;

constexpr std::size_t kTenMegabytes = 10 * 1024 * 1024;

class LiveProcessRunnerTest : public ::testing::Test {
protected:
    Result<ProcessResult> sh(const std::string& script) const { return runner.run("/bin/sh", {"-c", script}); }
    ProcessStream shStream(const std::string& script) const { return runner.stream("/bin/sh", {"-c", script}); }
    Events streamed(const std::string& script) const {
        auto run = shStream(script);
        return collect(run.events);
    }
    // The text of the next event, which must be a line.
    static std::string nextLine(ProcessStream& run) {
        auto event = run.events.next();
        if (!event || !std::holds_alternative<Line>(*event)) {
            ADD_FAILURE() << "expected a line";
            return {};
        }
        return std::get<Line>(*event).text;
    }

    LiveProcessRunner runner;
};

std::set<int> parseDescriptors(const std::string& text) {
    std::set<int> fds;
    std::istringstream in(text);
    for (int fd = 0; in >> fd;) fds.insert(fd);
    return fds;
}

// Descriptors of this test process that a child could legitimately inherit
// (opened by the test environment without close-on-exec).
std::set<int> inheritableDescriptors() {
    std::set<int> fds;
    for (int fd = 3; fd < 4096; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags != -1 && (flags & FD_CLOEXEC) == 0) fds.insert(fd);
    }
    return fds;
}

// --- One-shot runs -----------------------------------------------------------

TEST_F(LiveProcessRunnerTest, RunKeepsStdoutAndStderrApartAndReturnsTheExitCode) {
    EXPECT_EQ(*sh("printf 'out1\\nout2'; printf 'err' >&2; printf '\\n' ; exit 7"),
              (ProcessResult{7, "out1\nout2\n", "err"}));
    EXPECT_EQ(*sh("printf 'only an error' >&2; exit 1"), (ProcessResult{1, "", "only an error"}));
    // A silent child. stdin is /dev/null, so cat sees end of file at once.
    EXPECT_EQ(*runner.run("/bin/cat", {}), (ProcessResult{0, "", ""}));
}

TEST_F(LiveProcessRunnerTest, RunReplacesBytesThatAreNotUtf8SoTheRestStillReads) {
    EXPECT_EQ(*sh("printf 'bad \\377\\376\\nMARK:ok'; printf 'caf\\303\\251' >&2"),
              (ProcessResult{0, "bad \xEF\xBF\xBD\xEF\xBF\xBD\nMARK:ok", "caf\xC3\xA9"}));
    EXPECT_EQ(sh("printf '\\355\\240\\200'")->stdoutText.find('\xED'), std::string::npos)
        << "an encoded surrogate is not UTF-8";
}

TEST_F(LiveProcessRunnerTest, ATimeLimitKillsTheWholeGroupAndKeepsWhatCameBefore) {
    // The grandchild holds the pipes too: the kill must reach it, or reading
    // would wait for it. The limit leaves the shell ample time to say
    // "before" however loaded the machine; the sleeps outlast it 50 times, and
    // an end before `bound` can only come from the kill.
    const auto limit = std::chrono::seconds(2);
    const auto bound = std::chrono::seconds(40);
    const auto started = std::chrono::steady_clock::now();
    const auto result = runner.run("/bin/sh", {"-c", "echo before; sleep 100 & sleep 100; echo after"}, std::nullopt,
                                   RunOptions{limit});
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->timedOut);
    EXPECT_EQ(result->stdoutText, "before\n");
    EXPECT_LT(std::chrono::steady_clock::now() - started, bound);
    EXPECT_FALSE(runner.run("/bin/true", {}, std::nullopt, RunOptions{std::chrono::seconds(60)})->timedOut);
}

TEST_F(LiveProcessRunnerTest, ATimeLimitPassingAfterTheChildExitedEndsTheRunAfterTheGrace) {
    // The child exits at once; its grandchild holds the pipes, silent, for
    // 30 s. The limit falls inside the grace after the exit.
    const auto started = std::chrono::steady_clock::now();
    const auto result = runner.run("/bin/sh", {"-c", "echo out; sleep 30 & exit 0"}, std::nullopt,
                                   RunOptions{LiveProcessRunner::kGraceAfterExit});
    ASSERT_TRUE(result);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "waited for the grandchild";
    if (!result->timedOut) {
        EXPECT_EQ(result->stdoutText, "out\n");
    }
}

TEST_F(LiveProcessRunnerTest, ChildrenHaveNoControllingTerminal) {
    // Opening /dev/tty fails in a session without a terminal, whatever the
    // app itself was started from.
    const auto result = sh("if (: </dev/tty) 2>/dev/null; then echo tty; else echo none; fi");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->stdoutText, "none\n");
}

TEST_F(LiveProcessRunnerTest, EnvironmentReplacesTheAppsOrIsInherited) {
    EXPECT_EQ(runner.run("/usr/bin/env", {}, Environment{{"ONLY", "this one"}})->stdoutText, "ONLY=this one\n");
    ::setenv("LUMO_PROCESS_TEST", "inherited", 1);
    EXPECT_EQ(sh("printf %s \"$LUMO_PROCESS_TEST\"")->stdoutText, "inherited");
}

TEST_F(LiveProcessRunnerTest, ProgramsThatCannotStartFailBothWays) {
    test::TemporaryDirectory dir;
    const std::string notExecutable = dir.write("script.sh", "#!/bin/sh\necho hi\n", /*executable=*/false);
    const struct {
        std::string path;
        int code;
    } cases[] = {{dir.path() + "/missing", ENOENT}, {notExecutable, EACCES}, {dir.path(), EACCES}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        auto result = runner.run(c.path, {"x"});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code, c.code);
        EXPECT_EQ(result.error().description, std::strerror(c.code));

        auto run = runner.stream(c.path, {"x"});
        EXPECT_EQ(collect(run.events), (Events{FailedToStart{std::strerror(c.code)}}));
        run.cancellation->cancel();  // nothing attached: harmless
    }
    // A NUL would cut an argument short; such a run is refused.
    auto refused = runner.run("/bin/echo", {std::string("a\0b", 3)});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EINVAL);
}

TEST_F(LiveProcessRunnerTest, RunDrainsBothPipesAtOnceWithoutDeadlock) {
    // Two writers fill both pipes at the same time; a runner that read one
    // pipe to its end before the other would wait forever.
    const auto n = std::to_string(kTenMegabytes);
    auto result = sh("head -c " + n + " /dev/zero & head -c " + n + " /dev/zero >&2; wait");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->exitCode, 0);
    EXPECT_EQ(result->stdoutText.size(), kTenMegabytes);
    EXPECT_EQ(result->stderrText.size(), kTenMegabytes);
}

TEST_F(LiveProcessRunnerTest, ChildrenGetDefaultSignalsAlthoughTheAppIgnoresSigpipe) {
    struct sigaction current {};
    ::sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    // With SIGPIPE ignored, `yes` would report a write error instead of
    // quietly dying when `head` goes away.
    EXPECT_EQ(*sh("yes | head -n 1"), (ProcessResult{0, "y\n", ""}));
}

// --- Streamed runs -----------------------------------------------------------

TEST_F(LiveProcessRunnerTest, StreamMergesBothOutputsInTheOrderWritten) {
    EXPECT_EQ(streamed("echo one; echo two >&2; echo three; exit 2"),
              (Events{Line{"one"}, Line{"two"}, Line{"three"}, Exited{2}}));
    EXPECT_EQ(streamed("true"), (Events{Exited{0}}));
}

TEST_F(LiveProcessRunnerTest, StreamSplitsLinesAtLfCrAndCrLf) {
    // The sleep makes the CR and its LF arrive in separate reads.
    EXPECT_EQ(
        streamed("printf 'a\\r\\nb\\rc\\n\\nd\\r'; sleep 0.2; printf '\\ne\\r\\n'; printf 'x\\377y'"),
        (Events{Line{"a"}, Line{"b"}, Line{"c"}, Line{""}, Line{"d"}, Line{"e"}, Line{"x\xEF\xBF\xBDy"}, Exited{0}}));
}

TEST_F(LiveProcessRunnerTest, LastLinesBeforeExitAreNeverLost) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto events = streamed("printf 'a\\nb\\nlast'; exit 3");
        ASSERT_EQ(events, (Events{Line{"a"}, Line{"b"}, Line{"last"}, Exited{3}})) << "attempt " << attempt;
    }
}

TEST_F(LiveProcessRunnerTest, ABackgroundGrandchildHoldingThePipeDoesNotHoldUpTheEnd) {
    // The grandchild keeps the output pipes open for 30 s after the child has
    // exited; both runs still end, long before it does.
    auto result = sh("sleep 30 & echo $!");
    ASSERT_TRUE(result.ok());
    const pid_t first = std::stoi(result->stdoutText);
    EXPECT_EQ(::kill(first, 0), 0) << "ended while the grandchild still runs";

    auto run = shStream("sleep 30 & echo $!; echo done");
    const pid_t second = std::stoi(nextLine(run));
    EXPECT_EQ(collect(run.events), (Events{Line{"done"}, Exited{0}}));
    EXPECT_EQ(::kill(second, 0), 0) << "a normal end does not signal what the child left behind";

    ::kill(first, SIGTERM);
    ::kill(second, SIGTERM);
}

TEST_F(LiveProcessRunnerTest, ChildIsReapedBeforeItsEndIsReported) {
    auto result = sh("echo $$");
    ASSERT_TRUE(result.ok());
    EXPECT_TRUE(test::isGone(std::stoi(result->stdoutText))) << "run left a zombie";

    auto run = shStream("echo $$");
    const pid_t pid = std::stoi(nextLine(run));
    EXPECT_TRUE(hasSingleTerminal(collect(run.events)));
    EXPECT_TRUE(test::isGone(pid)) << "stream left a zombie";
}

// --- Cancellation ------------------------------------------------------------

TEST_F(LiveProcessRunnerTest, CancelTerminatesTheChildAndRepeatsHarmlessly) {
    auto run = shStream("echo started; exec sleep 30");
    EXPECT_EQ(nextLine(run), "started");
    run.cancellation->cancel();
    run.cancellation->cancel();
    EXPECT_EQ(collect(run.events), (Events{Exited{SIGTERM}}));
    run.cancellation->cancel();  // after the child is reaped: nothing is sent
}

TEST_F(LiveProcessRunnerTest, AbandoningAStreamTerminatesTheChildAndItsChildren) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "stream destroyed" : "stream cancelled");
        pid_t child = 0;
        pid_t grandchild = 0;
        {
            auto run = shStream("sleep 1000 & echo $!; echo $$; wait");
            grandchild = std::stoi(nextLine(run));
            child = std::stoi(nextLine(run));
            if (!destroy) {
                run.events.cancel();
                EXPECT_FALSE(run.events.next().has_value());
            }
        }
        EXPECT_TRUE(test::waitUntilGone(child, /*zombieCounts=*/false)) << "child " << child;
        EXPECT_TRUE(test::waitUntilGone(grandchild, /*zombieCounts=*/true)) << "grandchild " << grandchild;
    }
}

struct RecordingChild final : TerminableChild {
    void terminate() override { ++terminations; }
    std::atomic<int> terminations{0};
};

TEST(ProcessCancellationTest, ACancelThatComesFirstStopsWhateverIsAttachedLater) {
    LiveProcessCancellation handle;
    handle.cancel();
    auto child = std::make_shared<RecordingChild>();
    handle.attach(child);
    EXPECT_EQ(child->terminations.load(), 1);
    handle.cancel();
    EXPECT_EQ(child->terminations.load(), 1) << "a second cancel sends nothing more";

    // One job, two steps, cancelled between them: the second step is stopped
    // the moment it is attached.
    CancellableProcess job;
    auto first = std::make_shared<LiveProcessCancellation>();
    job.attach(first);
    job.cancel();
    EXPECT_TRUE(first->isCanceled());
    auto second = std::make_shared<LiveProcessCancellation>();
    auto secondChild = std::make_shared<RecordingChild>();
    second->attach(secondChild);
    job.attach(second);
    EXPECT_TRUE(job.isCanceled());
    EXPECT_EQ(secondChild->terminations.load(), 1);
}

// --- Descriptors -------------------------------------------------------------

TEST_F(LiveProcessRunnerTest, ChildrenInheritNoDescriptorOfTheRunner) {
    const std::set<int> allowed = inheritableDescriptors();
    // A stream held open keeps its pipe in this process meanwhile, and runs on
    // several threads make and hand out pipes at the same time.
    auto held = shStream("exec sleep 30");
    std::mutex lock;
    std::vector<std::string> leaks;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                auto result = runner.run(LUMO_LIST_FDS, {});
                const auto fds = result ? parseDescriptors(result->stdoutText) : std::set<int>{-1};
                for (const int fd : fds) {
                    if (!allowed.contains(fd)) {
                        std::lock_guard guard(lock);
                        leaks.push_back(std::to_string(fd));
                    }
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_THAT(leaks, ::testing::IsEmpty());

    auto listed = runner.stream(LUMO_LIST_FDS, {});
    for (const auto& event : collect(listed.events)) {
        if (const auto* line = std::get_if<Line>(&event)) {
            EXPECT_TRUE(allowed.contains(std::stoi(line->text))) << line->text;
        }
    }
    held.events.cancel();
}

}  // namespace
}  // namespace lumo
