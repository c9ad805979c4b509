// A process killed in the middle of a flush, or the moment record() returns,
// loses no event: the next process delivers every one of them (some maybe
// twice).
#include <signal.h>

#include <filesystem>
#include <set>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TelemetryReceiver.h"
#include "platform/FileSystemOperating.h"
#include "platform/live/LiveProcessRunner.h"
#include "support/TestSupport.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

class TelemetryCrashTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(receiver.start().ok()); }

    // The crash child's arguments (see helpers/TelemetryCrashChild.cpp).
    std::vector<std::string> arguments(const std::string& mode, const std::string& endpoint,
                                       std::size_t count = 0) const {
        std::vector<std::string> list{mode, endpoint, "crash-key", pendingFile};
        if (count > 0) list.push_back(std::to_string(count));
        return list;
    }

    // A process that delivers what is pending, run to its end.
    void deliverPending() const {
        const auto delivered = runner.run(TELEMETRY_CRASH_CHILD, arguments("deliver", receiver.endpointURL()));
        ASSERT_TRUE(delivered.ok());
        EXPECT_EQ(delivered->exitCode, 0);
    }

    std::set<std::int64_t> deliveredIndexes() const {
        std::set<std::int64_t> indexes;
        for (const auto& row : receiver.rows())
            indexes.insert(nlohmann::json::parse(row.eventData)["index"].get<std::int64_t>());
        return indexes;
    }

    test::TemporaryDirectory dir;
    TelemetryReceiver receiver{
        TelemetryReceiver::Options{.databasePath = joinPath(dir.path(), "rx.sqlite3"), .anonKey = "crash-key"}};
    std::string pendingFile = joinPath(dir.path(), "Support/Lumora/pending-events.json");
    LiveProcessRunner runner;
};

TEST_F(TelemetryCrashTest, EventsOfAProcessKilledMidFlushAreAllDeliveredByTheNextOne) {
    constexpr std::size_t kEvents = 200;
    receiver.stall(20ms);  // slow answers keep the first process mid-flush
    auto recorder = runner.stream(TELEMETRY_CRASH_CHILD, arguments("record", receiver.endpointURL(), kEvents));
    const auto recorded = recorder.events.next();  // its process id, once every record() has returned
    ASSERT_TRUE(recorded && std::holds_alternative<process_event::Line>(*recorded));
    ASSERT_TRUE(test::eventually([&] { return receiver.rowCount() >= 10; }));
    receiver.stall(60s);  // the request now in flight is never answered
    ::kill(std::stoi(std::get<process_event::Line>(*recorded).text), SIGKILL);
    EXPECT_EQ(test::collect(recorder.events), std::vector<ProcessStreamEvent>{process_event::Exited{SIGKILL}});
    ASSERT_LT(receiver.rowCount(), kEvents);

    receiver.stall(0ms);
    deliverPending();
    EXPECT_EQ(deliveredIndexes().size(), kEvents);  // duplicates allowed, losses not
    EXPECT_LE(receiver.rowCount(), kEvents + 1);    // at most the one in flight twice
    EXPECT_FALSE(std::filesystem::exists(pendingFile + "l"));
}

TEST_F(TelemetryCrashTest, EventsOfAProcessKilledTheMomentRecordReturnsAreAllDeliveredByTheNextOne) {
    constexpr std::size_t kEvents = 50;
    // The first process finds nothing listening: the only copy of each event
    // is the one record() wrote.
    TelemetryReceiver gone(TelemetryReceiver::Options{.anonKey = "crash-key"});
    ASSERT_TRUE(gone.start().ok());
    gone.stop();
    const auto killed = runner.run(TELEMETRY_CRASH_CHILD, arguments("record-and-die", gone.endpointURL(), kEvents));
    ASSERT_TRUE(killed.ok());
    EXPECT_EQ(killed->exitCode, SIGKILL);

    deliverPending();
    EXPECT_EQ(deliveredIndexes().size(), kEvents);
    EXPECT_EQ(receiver.rowCount(), kEvents);
}

}  // namespace
}  // namespace lumo
