// A process killed in the middle of a flush, or the moment record() returns,
// loses no event: the next process delivers every one of them (some maybe
// twice).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TelemetryReceiver.h"
#include "platform/FileSystemOperating.h"
#include "support/TestSupport.h"

extern char** environ;

namespace lumo {
namespace {

using namespace std::chrono_literals;

struct Child {
    pid_t pid = -1;
    int output = -1;  // read end of the child's standard output
};

// Kills and reaps a child the test left running (a failed assertion).
struct ChildGuard {
    Child& child;
    ~ChildGuard() {
        if (child.pid > 0) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, nullptr, 0);
        }
        if (child.output >= 0) close(child.output);
    }
};

Child spawnChild(const std::vector<std::string>& arguments) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(TELEMETRY_CRASH_CHILD));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, TELEMETRY_CRASH_CHILD, &actions, nullptr, argv.data(), environ) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    child.output = fds[0];
    return child;
}

std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Starts a process that delivers what is pending and waits for it to finish.
void deliverPending(const std::vector<std::string>& common) {
    auto arguments = common;
    arguments.insert(arguments.begin(), "deliver");
    Child deliverer = spawnChild(arguments);
    ChildGuard guard{deliverer};
    ASSERT_GT(deliverer.pid, 0);
    const int delivered = waitForExit(deliverer.pid);
    deliverer.pid = -1;
    ASSERT_TRUE(WIFEXITED(delivered));
    EXPECT_EQ(WEXITSTATUS(delivered), 0);
}

std::set<std::int64_t> deliveredIndexes(const TelemetryReceiver& receiver) {
    std::set<std::int64_t> indexes;
    for (const auto& row : receiver.rows())
        indexes.insert(nlohmann::json::parse(row.eventData)["index"].get<std::int64_t>());
    return indexes;
}

TEST(TelemetryCrashTest, EventsOfAProcessKilledMidFlushAreAllDeliveredByTheNextOne) {
    constexpr int kEvents = 200;
    test::TemporaryDirectory dir;
    TelemetryReceiver receiver(
        TelemetryReceiver::Options{.databasePath = joinPath(dir.path(), "rx.sqlite3"), .anonKey = "crash-key"});
    ASSERT_TRUE(receiver.start().ok());
    const std::string pendingFile = joinPath(dir.path(), "Support/Lumora/pending-events.json");
    const std::vector<std::string> common{receiver.endpointURL(), "crash-key", pendingFile};

    receiver.stall(20ms);  // slow answers keep the first process mid-flush
    auto arguments = common;
    arguments.insert(arguments.begin(), "record");
    arguments.push_back(std::to_string(kEvents));
    Child recorder = spawnChild(arguments);
    ChildGuard recorderGuard{recorder};
    ASSERT_GT(recorder.pid, 0);
    EXPECT_EQ(readLine(recorder.output), "recorded");
    ASSERT_TRUE(test::eventually([&] { return receiver.rowCount() >= 10; }));
    receiver.stall(60s);  // the request now in flight is never answered
    kill(recorder.pid, SIGKILL);
    const int killed = waitForExit(recorder.pid);
    recorder.pid = -1;
    ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL);
    const std::size_t beforeRestart = receiver.rowCount();
    ASSERT_LT(beforeRestart, static_cast<std::size_t>(kEvents));

    receiver.stall(0ms);
    deliverPending(common);

    const auto indexes = deliveredIndexes(receiver);
    EXPECT_EQ(indexes.size(), static_cast<std::size_t>(kEvents));  // duplicates allowed, losses not
    EXPECT_EQ(*indexes.begin(), 0);
    EXPECT_EQ(*indexes.rbegin(), kEvents - 1);
    EXPECT_LE(receiver.rowCount(), static_cast<std::size_t>(kEvents) + 1);  // at most the one in flight twice
    EXPECT_FALSE(std::filesystem::exists(pendingFile + "l"));
}

TEST(TelemetryCrashTest, EventsOfAProcessKilledTheMomentRecordReturnsAreAllDeliveredByTheNextOne) {
    constexpr int kEvents = 50;
    test::TemporaryDirectory dir;
    TelemetryReceiver receiver(
        TelemetryReceiver::Options{.databasePath = joinPath(dir.path(), "rx.sqlite3"), .anonKey = "crash-key"});
    ASSERT_TRUE(receiver.start().ok());
    const std::string pendingFile = joinPath(dir.path(), "Support/Lumora/pending-events.json");
    const std::vector<std::string> common{receiver.endpointURL(), "crash-key", pendingFile};

    // The first process finds nothing listening: the only copy of each event
    // is the one record() wrote.
    TelemetryReceiver gone(TelemetryReceiver::Options{.anonKey = "crash-key"});
    ASSERT_TRUE(gone.start().ok());
    gone.stop();
    auto arguments = std::vector<std::string>{"record-and-die", gone.endpointURL(), "crash-key", pendingFile};
    arguments.push_back(std::to_string(kEvents));
    Child recorder = spawnChild(arguments);
    ChildGuard recorderGuard{recorder};
    ASSERT_GT(recorder.pid, 0);
    const int killed = waitForExit(recorder.pid);
    recorder.pid = -1;
    ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL);

    deliverPending(common);
    const auto indexes = deliveredIndexes(receiver);
    EXPECT_EQ(indexes.size(), static_cast<std::size_t>(kEvents));
    EXPECT_EQ(receiver.rowCount(), static_cast<std::size_t>(kEvents));
}

}  // namespace
}  // namespace lumo
