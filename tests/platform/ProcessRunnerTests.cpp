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
using Events = std::vector<ProcessStreamEvent>;

const ProcessResult kFailed{-1, "", "not run", false};

constexpr std::size_t kTenMegabytes = 10 * 1024 * 1024;

class LiveProcessRunnerTest : public ::testing::Test {
protected:
    Result<ProcessResult> sh(const std::string& script, RunOptions options = {}) const {
        return runner.run("/bin/sh", {"-c", script}, std::nullopt, options);
    }
    ProcessStream shStream(const std::string& script) const { return runner.stream("/bin/sh", {"-c", script}); }
    Events streamed(const std::string& script) const { return collect(shStream(script).events); }
    // The text of the next event, which must be a line.
    static std::string nextLine(ProcessStream& run) {
        auto event = run.events.next();
        const auto* line = event ? std::get_if<Line>(&*event) : nullptr;
        EXPECT_NE(line, nullptr) << "expected a line";
        return line ? line->text : std::string();
    }

    LiveProcessRunner runner;
};

// The descriptors in `listing` (one a line) that are not in `allowed`.
std::vector<int> leakedDescriptors(const std::string& listing, const std::set<int>& allowed) {
    std::vector<int> leaks;
    std::istringstream in(listing);
    for (int fd = 0; in >> fd;) {
        if (!allowed.contains(fd)) leaks.push_back(fd);
    }
    return leaks;
}

// --- One-shot runs -----------------------------------------------------------

TEST_F(LiveProcessRunnerTest, RunKeepsStdoutAndStderrApartAndReturnsTheExitCode) {
    // The app ignores SIGPIPE; its children get the default, or `yes` would
    // report a write error instead of quietly dying when `head` goes away.
    struct sigaction current {};
    ::sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    ::setenv("LUMO_PROCESS_TEST", "inherited", 1);
    const std::pair<std::string, ProcessResult> rows[] = {
        {"printf 'out1\\nbad \\377'; printf 'caf\\303\\251' >&2; printf '\\n' ; exit 7",
         {7, "out1\nbad \xEF\xBF\xBD\n", "caf\xC3\xA9"}},
        // Opening /dev/tty fails in a session without a terminal, whatever the app was started from.
        {"if (: </dev/tty) 2>/dev/null; then echo tty; else echo none; fi", {0, "none\n", ""}},
        {"yes | head -n 1", {0, "y\n", ""}},
        {"printf %s \"$LUMO_PROCESS_TEST\"", {0, "inherited", ""}},
    };
    for (const auto& [script, expected] : rows) EXPECT_EQ(sh(script).valueOr(kFailed), expected) << script;
    // stdin is /dev/null, so cat sees end of file at once.
    EXPECT_EQ(*runner.run("/bin/cat", {}), (ProcessResult{0, "", ""}));
    EXPECT_EQ(runner.run("/usr/bin/env", {}, Environment{{"ONLY", "this one"}})->stdoutText, "ONLY=this one\n");
}

TEST_F(LiveProcessRunnerTest, ATimeLimitKillsTheWholeGroupAndKeepsWhatCameBefore) {
    // The grandchild holds the pipes too: the kill must reach it, or reading
    // would wait for it. The limit leaves the shell ample time to say
    // "before" however loaded the machine; the sleeps outlast it 50 times, and
    // an end before 40 s can only come from the kill.
    const auto started = std::chrono::steady_clock::now();
    const auto result = sh("echo before; sleep 100 & sleep 100; echo after", RunOptions{std::chrono::seconds(2)});
    EXPECT_EQ(result.valueOr(kFailed), (ProcessResult{SIGKILL, "before\n", "", true}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(40));
    EXPECT_FALSE(runner.run("/bin/true", {}, std::nullopt, RunOptions{std::chrono::seconds(60)})->timedOut);

    // The child exits at once; its grandchild holds the pipes, silent, for
    // 30 s. The limit falls inside the grace after the exit.
    const auto exited = std::chrono::steady_clock::now();
    const auto grace = sh("echo out; sleep 30 & exit 0", RunOptions{LiveProcessRunner::kGraceAfterExit});
    EXPECT_LT(std::chrono::steady_clock::now() - exited, std::chrono::seconds(15)) << "waited for the grandchild";
    ASSERT_TRUE(grace.ok());
    if (!grace->timedOut) {
        EXPECT_EQ(grace->stdoutText, "out\n");
    }
}

TEST_F(LiveProcessRunnerTest, ProgramsThatCannotStartFailBothWays) {
    const std::string missing = "/nonexistent/lumo-tool";
    auto result = runner.run(missing, {"x"});
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, ENOENT);
    EXPECT_EQ(result.error().description, std::strerror(ENOENT));
    auto run = runner.stream(missing, {"x"});
    EXPECT_EQ(collect(run.events), (Events{FailedToStart{std::strerror(ENOENT)}}));
    run.cancellation->cancel();  // nothing attached: harmless

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

// --- Streamed runs -----------------------------------------------------------

TEST_F(LiveProcessRunnerTest, StreamMergesBothOutputsInTheOrderWrittenAndSplitsLinesAtLfCrAndCrLf) {
    const std::pair<const char*, Events> rows[] = {
        {"echo one; echo two >&2; echo three; exit 2", {Line{"one"}, Line{"two"}, Line{"three"}, Exited{2}}},
        // The sleep makes the CR and its LF arrive in separate reads.
        {"printf 'a\\r\\nb\\rc\\n\\nd\\r'; sleep 0.2; printf '\\ne\\r\\n'; printf 'x\\377y'",
         {Line{"a"}, Line{"b"}, Line{"c"}, Line{""}, Line{"d"}, Line{"e"}, Line{"x\xEF\xBF\xBDy"}, Exited{0}}},
    };
    for (const auto& [script, expected] : rows) EXPECT_EQ(streamed(script), expected) << script;
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
    EXPECT_TRUE(test::isGone(std::stoi(sh("echo $$").valueOr(kFailed).stdoutText))) << "run left a zombie";
    auto run = shStream("echo $$");
    const pid_t pid = std::stoi(nextLine(run));
    EXPECT_EQ(collect(run.events), (Events{Exited{0}}));
    EXPECT_TRUE(test::isGone(pid)) << "stream left a zombie";
}

// --- Cancellation ------------------------------------------------------------

// The cancel handle (any number of times, also after the end), the consumer's
// cancel and the consumer's handle destroyed all stop the child's whole group.
TEST_F(LiveProcessRunnerTest, CancellingOrAbandoningAStreamTerminatesTheChildAndItsChildren) {
    for (const std::string way : {"handle", "consumer", "destroyed"}) {
        SCOPED_TRACE(way);
        pid_t child = 0;
        pid_t grandchild = 0;
        {
            auto run = shStream("sleep 1000 & echo $!; echo $$; wait");
            grandchild = std::stoi(nextLine(run));
            child = std::stoi(nextLine(run));
            if (way == "handle") {
                run.cancellation->cancel();
                run.cancellation->cancel();
                EXPECT_EQ(collect(run.events), (Events{Exited{SIGTERM}}));
                run.cancellation->cancel();  // after the child is reaped: nothing is sent
            } else if (way == "consumer") {
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
    // Descriptors the test environment opened without close-on-exec are
    // inherited legitimately.
    std::set<int> allowed;
    for (int fd = 3; fd < 4096; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags != -1 && (flags & FD_CLOEXEC) == 0) allowed.insert(fd);
    }
    // A stream held open keeps its pipe in this process meanwhile, and runs on
    // several threads make and hand out pipes at the same time.
    auto held = shStream("exec sleep 30");
    std::mutex lock;
    std::vector<int> leaks;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                const auto found =
                    leakedDescriptors(runner.run(LUMO_LIST_FDS, {}).valueOr(kFailed).stdoutText, allowed);
                std::lock_guard guard(lock);
                leaks.insert(leaks.end(), found.begin(), found.end());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_THAT(leaks, ::testing::IsEmpty());
    held.events.cancel();
}

}  // namespace
}  // namespace lumo
