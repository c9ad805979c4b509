// The telemetry service against the real receiver over loopback, with the
// live file system and HTTP client.
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "TelemetryReceiver.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "simulated/SimulatedServices.h"
#include "support/TestSupport.h"
#include "telemetry/TelemetryService.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kKey = "test-anon-key";
constexpr const char* kAppID = "example.lumo.java";

class TelemetryServiceTest : public ::testing::Test {
protected:
    void SetUp() override { startReceiver(0); }

    void startReceiver(int port) {
        m_receiver.reset();
        m_receiver = std::make_unique<TelemetryReceiver>(TelemetryReceiver::Options{
            .port = port, .databasePath = joinPath(m_dir.path(), "rx.sqlite3"), .anonKey = kKey});
        ASSERT_TRUE(m_receiver->start().ok());
        m_endpoint = m_receiver->endpointURL();
    }

    TelemetryService::Configuration configuration() {
        TelemetryService::Configuration config;
        config.endpointURL = m_endpoint;
        config.anonKey = kKey;
        config.appVersion = "1.0 (7)";
        config.appID = kAppID;
        config.urlSessionFactory = [] { return std::make_shared<LiveHTTPFetcher>(); };
        config.kvStore = m_store;
        config.fs = m_fs;
        config.pendingFileURL = pendingFile();
        config.userDefaultsPrefix = "example.lumo";
        config.clock = [] { return TelemetryService::Clock::time_point(std::chrono::milliseconds(1767605400125)); };
        config.retryPauses = {50ms, 100ms};
        config.log = [this](const std::string& line) {
            std::lock_guard lock(m_logMutex);
            m_logs.push_back(line);
        };
        return config;
    }

    std::unique_ptr<TelemetryService> startService() { return std::make_unique<TelemetryService>(configuration()); }

    std::string pendingFile() const { return joinPath(m_dir.path(), "Support/Lumora/pending-events.json"); }

    std::vector<std::string> pendingNames() const {
        const auto events = decodePendingEvents(test::readFile(pendingFile()));
        std::vector<std::string> names;
        if (events) {
            for (const auto& event : *events) names.push_back(event.eventName);
        }
        return names;
    }

    std::vector<std::string> deliveredNames() const {
        std::vector<std::string> names;
        for (const auto& row : m_receiver->rows()) names.push_back(row.eventName);
        return names;
    }

    std::vector<std::string> logs() {
        std::lock_guard lock(m_logMutex);
        return m_logs;
    }

    // The flush has ended (delivered everything or given up).
    static bool idle(TelemetryService& service) { return !service.snapshot().isFlushing; }

    test::TemporaryDirectory m_dir;
    std::shared_ptr<InMemoryKeyValueStore> m_store = std::make_shared<InMemoryKeyValueStore>();
    std::shared_ptr<LiveFileSystem> m_fs = std::make_shared<LiveFileSystem>();
    std::unique_ptr<TelemetryReceiver> m_receiver;
    std::string m_endpoint;
    std::mutex m_logMutex;
    std::vector<std::string> m_logs;  // guarded by m_logMutex
};

TEST_F(TelemetryServiceTest, DeliversEveryEventInOrderWithTheExactRecordAndLeavesNoFile) {
    auto service = startService();
    const JSONObject data{{"exit_code", 1}, {"reason", "line \"one\""}, {"ratio", 0.25},
                          {"ok", true},     {"none", nullptr},          {"tools", JSONArray{"warp", "iterm2"}}};
    service->record("remediation_failed", data);
    service->emit("consent_given");
    service->record("app_launched", {{"macos_major", 14}});
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 3 && idle(*service); }));

    EXPECT_THAT(deliveredNames(), ElementsAre("remediation_failed", "consent_given", "app_launched"));
    EXPECT_EQ(m_receiver->requestCount(), 3u);  // one POST per event
    const auto rows = m_receiver->rows();
    const auto& first = rows.front();
    EXPECT_EQ(first.sessionID, service->sessionID().lowercaseString());
    EXPECT_EQ(m_store->string("example.lumo.session_id"), service->sessionID().uuidString());
    EXPECT_EQ(first.clientTimestamp, "2026-01-05T09:30:00.125Z");
    EXPECT_EQ(first.appVersion, "1.0 (7)");
    EXPECT_EQ(first.appID, kAppID);
    EXPECT_EQ(nlohmann::json::parse(first.eventData), toJSON(JSONValue(data)).value());
    EXPECT_EQ(rows[1].eventData, "{}");

    EXPECT_FALSE(m_fs->fileExists(pendingFile()));
    EXPECT_TRUE(logs().empty());
}

TEST_F(TelemetryServiceTest, EventsRecordedDuringAFlushArePersistedAtOnceAndSentByIt) {
    m_receiver->stall(60s);
    auto service = startService();
    service->record("chooser_shown");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->requestCount() == 1; }));
    service->record("remediation_applied");
    service->record("remediation_completed");
    service->waitUntilPersisted();

    // The first send is still in flight; all three are queued and on disk.
    const auto state = service->snapshot();
    EXPECT_TRUE(state.isFlushing);
    EXPECT_EQ(state.pending.size(), 3u);
    EXPECT_THAT(pendingNames(), ElementsAre("chooser_shown", "remediation_applied", "remediation_completed"));

    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 3 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("chooser_shown", "remediation_applied", "remediation_completed"));
    EXPECT_FALSE(m_fs->fileExists(pendingFile()));
}

TEST_F(TelemetryServiceTest, ClientErrorsDropTheEventAfterTheLogLine) {
    auto service = startService();
    service->record("Not-Snake-Case");  // the receiver's schema refuses it: 422
    service->record("nps_shown");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 1 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("nps_shown"));
    EXPECT_EQ(m_receiver->requestCount(), 2u);  // no retry for a 4xx
    EXPECT_THAT(logs(), ElementsAre("Telemetry: dropping event after 422 (likely event_name or schema mismatch)"));
    service.reset();

    // A wrong key is a 401: dropped the same way, never retried.
    auto config = configuration();
    config.anonKey = "wrong";
    TelemetryService wrongKey(config);
    wrongKey.record("nps_shown");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->requestCount() == 3 && idle(wrongKey); }));
    EXPECT_EQ(logs().back(), "Telemetry: dropping event after 401 (likely event_name or schema mismatch)");
    EXPECT_EQ(m_receiver->rowCount(), 1u);
}

TEST_F(TelemetryServiceTest, ServerErrorsAreRetriedTwiceAfterPausesThenTheEventStaysQueued) {
    m_receiver->failNext(3, 500);
    auto service = startService();
    service->record("verify_failed", {{"exit_code", 1}});
    ASSERT_TRUE(test::eventually([&] { return m_receiver->requestCount() == 3 && idle(*service); }));

    const auto times = m_receiver->requestTimes();
    EXPECT_GE(times[1] - times[0], 50ms);
    EXPECT_GE(times[2] - times[1], 100ms);
    EXPECT_EQ(service->snapshot().pending.size(), 1u);
    EXPECT_THAT(pendingNames(), ElementsAre("verify_failed"));
    EXPECT_TRUE(logs().empty());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(m_receiver->requestCount(), 3u);  // three attempts per flush, no more

    // The next recorded event starts a flush that sends the old head first.
    service->record("verify_offered_followup");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 2 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("verify_failed", "verify_offered_followup"));
    EXPECT_FALSE(m_fs->fileExists(pendingFile()));
}

TEST_F(TelemetryServiceTest, RequestTimeoutAndTooManyRequestsAreRetriedNotDropped) {
    auto service = startService();
    m_receiver->failNext(1, 429);
    service->record("offer_shown");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 1 && idle(*service); }));
    m_receiver->failNext(2, 408);
    service->record("offer_action");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 2 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("offer_shown", "offer_action"));
    EXPECT_EQ(m_receiver->requestCount(), 5u);
    EXPECT_TRUE(logs().empty());
}

TEST_F(TelemetryServiceTest, EventsQueuedWhileTheReceiverIsDownGoFirstAfterARestart) {
    const int port = m_receiver->port();
    m_receiver.reset();  // nothing listens on the endpoint now
    auto service = startService();
    service->record("audit_reached");
    service->record("audit_stage_outcome");
    service->record("audit_gated");
    ASSERT_TRUE(test::eventually([&] {
        const auto state = service->snapshot();
        return !state.isFlushing && state.pending.size() == 3;
    }));
    EXPECT_THAT(pendingNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated"));
    const UUID session = service->sessionID();
    service.reset();
    EXPECT_THAT(pendingNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated"));

    startReceiver(port);
    auto restarted = startService();
    restarted->record("nps_dismissed");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 4 && idle(*restarted); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated", "nps_dismissed"));
    EXPECT_EQ(restarted->sessionID(), session);
    for (const auto& row : m_receiver->rows()) EXPECT_EQ(row.sessionID, session.lowercaseString());
    EXPECT_FALSE(m_fs->fileExists(pendingFile()));
}

TEST_F(TelemetryServiceTest, AnUnreadablePendingFileStaysOnDiskAndNewEventsStillFlow) {
    const std::string directory = parentDirectory(pendingFile());
    ASSERT_TRUE(m_fs->createDirectory(directory, true).ok());
    ASSERT_TRUE(m_fs->write("[{\"sessionID\": broken", pendingFile(), false).ok());
    auto service = startService();
    service->waitUntilPersisted();
    ASSERT_EQ(logs().size(), 2u);
    EXPECT_THAT(logs()[0], HasSubstr("Telemetry: couldn't load pending events: "));
    EXPECT_THAT(logs()[1], HasSubstr("Telemetry: kept the unreadable pending file as pending-events.json.unreadable-"));
    EXPECT_TRUE(service->snapshot().pending.empty());

    service->record("goal_selected", {{"goal", "course"}, {"detail", nullptr}});
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 1 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("goal_selected"));

    // Saving the new queue never wrote over what could not be read.
    auto names = m_fs->contentsOfDirectory(directory);
    ASSERT_TRUE(names.ok());
    std::vector<std::string> kept;
    for (const auto& name : *names) {
        if (name.rfind("pending-events.json.unreadable-", 0) == 0) kept.push_back(name);
    }
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(test::readFile(joinPath(directory, kept[0])), "[{\"sessionID\": broken");
}

TEST_F(TelemetryServiceTest, EventsThatCannotBeEncodedAreRepairedOrDroppedAndNeverBlockTheQueue) {
    auto service = startService();
    service->record("nps_submitted", {{"score", std::numeric_limits<double>::quiet_NaN()}});
    service->record("audit_outbound_clicked", {{"url", "https://example.com/\xFF"}});
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 1 && idle(*service); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_outbound_clicked"));
    EXPECT_EQ(nlohmann::json::parse(m_receiver->rows()[0].eventData)["url"], "https://example.com/\xEF\xBF\xBD");
    ASSERT_EQ(logs().size(), 1u);
    EXPECT_THAT(logs()[0], HasSubstr("Telemetry: dropping event that cannot be encoded: nps_submitted"));
}

TEST_F(TelemetryServiceTest, ShutdownCancelsASendInFlightAndKeepsItsEvent) {
    m_receiver->stall(60'000ms);
    auto service = startService();
    service->record("remediation_canceled");
    ASSERT_TRUE(test::eventually([&] { return m_receiver->requestCount() == 1; }));
    service->shutdown();  // must not wait for the stalled answer
    service->record("ignored_after_shutdown");
    EXPECT_THAT(pendingNames(), ElementsAre("remediation_canceled"));
}

TEST_F(TelemetryServiceTest, RecordingFromManyThreadsLosesNothing) {
    auto service = startService();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&service, t] {
            for (int i = 0; i < 25; ++i) service->record("offer_action", {{"thread", t}, {"index", i}});
        });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() == 100 && idle(*service); }));

    // Each thread's events arrive in the order that thread recorded them.
    std::map<std::int64_t, std::int64_t> next;
    for (const auto& row : m_receiver->rows()) {
        const auto data = nlohmann::json::parse(row.eventData);
        EXPECT_EQ(data["index"].get<std::int64_t>(), next[data["thread"].get<std::int64_t>()]++);
    }
}

}  // namespace
}  // namespace lumo
