// The telemetry service against the real receiver over loopback, with the
// live file system and HTTP client. Retry pauses are a few milliseconds:
// verdicts count requests and rows, never time. A process killed in the
// middle of a flush, or the moment record() returns, loses no event: the next
// process delivers every one of them (some maybe twice).
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "TelemetryReceiver.h"
#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveHTTPFetcher.h"
#include "platform/live/LiveProcessRunner.h"
#include "simulated/SimulatedServices.h"
#include "support/TestSupport.h"
#include "telemetry/TelemetryService.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kKey = "test-anon-key";

class TelemetryServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_receiver = std::make_unique<TelemetryReceiver>(
            TelemetryReceiver::Options{.databasePath = joinPath(m_dir.path(), "rx.sqlite3"), .anonKey = kKey});
        ASSERT_TRUE(m_receiver->start().ok());
        m_endpoint = m_receiver->endpointURL();
    }
    // An endpoint nothing listens on.
    static std::string deadEndpoint() {
        TelemetryReceiver gone(TelemetryReceiver::Options{.anonKey = kKey});
        EXPECT_TRUE(gone.start().ok());
        return gone.endpointURL();
    }

    TelemetryService::Configuration configuration() {
        TelemetryService::Configuration config;
        config.endpointURL = m_endpoint;
        config.anonKey = kKey;
        config.appVersion = "1.0 (7)";
        config.appID = "example.lumo.java";
        config.urlSessionFactory = [] { return std::make_shared<LiveHTTPFetcher>(); };
        config.kvStore = m_store;
        config.fs = m_fs;
        config.pendingFileURL = legacyFile();
        config.userDefaultsPrefix = "example.lumo";
        config.clock = [] { return TelemetryService::Clock::time_point(1767605400125ms); };  // 2026-01-05T09:30:00.125Z
        config.retryPause = 1ms;
        config.maximumRetryPause = 20ms;
        config.log = [this](const std::string& line) {
            std::lock_guard lock(m_logMutex);
            m_logs.push_back(line);
        };
        return config;
    }
    std::unique_ptr<TelemetryService> startService() { return std::make_unique<TelemetryService>(configuration()); }

    // The receiver holds its answer to "warm_up" while `names` queue up behind it.
    void recordBehindAStalledSend(TelemetryService& service, std::initializer_list<const char*> names) {
        m_receiver->stall(60s);
        service.record("warm_up");
        ASSERT_TRUE(test::eventually([&] { return m_receiver->requestCount() == 1; }));
        for (const char* name : names) service.record(name);
    }

    std::string directory() const { return joinPath(m_dir.path(), "Support/Lumora"); }
    std::string legacyFile() const { return joinPath(directory(), "pending-events.json"); }
    std::string journalFile() const { return PendingJournal::journalPath(legacyFile()); }

    std::vector<std::string> journalNames() const {
        std::vector<std::string> names;
        for (const auto& event : journal::replay(test::readFile(journalFile())).state.events)
            names.push_back(event.eventName);
        return names;
    }
    // What was delivered, drop reports aside.
    std::vector<std::string> deliveredNames() const {
        std::vector<std::string> names;
        for (const auto& row : m_receiver->rows()) {
            if (row.eventName != TelemetryService::kDropReportEvent) names.push_back(row.eventName);
        }
        return names;
    }
    // What the delivered drop reports say together for `cause`.
    std::int64_t reportedDrops(const char* cause) const {
        std::int64_t total = 0;
        for (const auto& row : m_receiver->rows()) {
            if (row.eventName == TelemetryService::kDropReportEvent)
                total += nlohmann::json::parse(row.eventData)[cause].get<std::int64_t>();
        }
        return total;
    }
    std::vector<std::string> logs() {
        std::lock_guard lock(m_logMutex);
        return m_logs;
    }

    // `events` delivered (drop reports aside), nothing left to do, and no file left behind.
    bool drained(TelemetryService& service, std::size_t events) {
        const auto state = service.snapshot();
        return deliveredNames().size() == events && state.pending.empty() && !state.isFlushing &&
               !m_fs->fileExists(journalFile());
    }
    std::vector<std::string> directoryEntries() const {
        auto names = m_fs->contentsOfDirectory(directory()).valueOr(std::vector<std::string>{});
        std::sort(names.begin(), names.end());
        return names;
    }
    void writeLegacyFile(const std::string& path, const std::deque<TelemetryEvent>& events) {
        ASSERT_TRUE(m_fs->createDirectory(directory(), true).ok());
        ASSERT_TRUE(m_fs->write(encodePendingEvents(events).value(), path, false).ok());
    }
    // A new service, as the next process starts one, delivers every index the crash child recorded.
    void nextProcessDeliversAll(std::size_t events) {
        const auto service = startService();
        ASSERT_TRUE(test::eventually(
            [&] {
                std::set<std::int64_t> indexes;
                for (const auto& row : m_receiver->rows())
                    indexes.insert(nlohmann::json::parse(row.eventData)["index"].get<std::int64_t>());
                return indexes.size() == events && !m_fs->fileExists(journalFile());
            },
            60s));
    }
    TelemetryEvent event(const std::string& name, const std::string& timestamp = "2026-01-05T09:30:00.125Z") const {
        return TelemetryEvent{*UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), timestamp, "0.9 (3)", name, {}};
    }

    test::TemporaryDirectory m_dir;
    std::shared_ptr<InMemoryKeyValueStore> m_store = std::make_shared<InMemoryKeyValueStore>();
    std::shared_ptr<LiveFileSystem> m_fs = std::make_shared<LiveFileSystem>();
    std::unique_ptr<TelemetryReceiver> m_receiver;
    std::string m_endpoint;
    std::mutex m_logMutex;
    std::vector<std::string> m_logs;  // guarded by m_logMutex
};

// A 401 does not blame the event: it is kept, and with nothing else recorded
// only the service's own retry timer can deliver it.
TEST_F(TelemetryServiceTest, DeliversTheExactRecordAndKeepsItThroughAnswersThatDoNotBlameIt) {
    auto service = startService();
    m_receiver->failNext(2, 401);
    service->record("remediation_failed", {{"reason", "couldn't write /Users/ada: Permission denied"},
                                           {"tools", JSONArray{"warp", JSONObject{{"path", "/Users/ada/bin/warp"}}}}});
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 1); }));
    EXPECT_EQ(m_receiver->requestCount(), 3u);
    EXPECT_THAT(logs(), ElementsAre("Telemetry: keeping events after 401 (check the endpoint and the key)"));

    const auto row = m_receiver->rows().front();
    EXPECT_EQ(row.eventName, "remediation_failed");
    EXPECT_EQ(row.sessionID, service->sessionID().lowercaseString());
    EXPECT_EQ(row.clientTimestamp, "2026-01-05T09:30:00.125Z");
    EXPECT_EQ(row.appVersion, "1.0 (7)");
    EXPECT_EQ(row.appID, "example.lumo.java");
    EXPECT_EQ(nlohmann::json::parse(row.eventData), nlohmann::json::parse(R"({
        "reason": "couldn't write /Users/~: Permission denied", "tools": ["warp", {"path": "/Users/~/bin/warp"}]})"));
}

TEST_F(TelemetryServiceTest, EventsRecordedDuringASendGoTogetherInTheNext) {
    auto service = startService();
    recordBehindAStalledSend(*service, {"remediation_applied", "remediation_completed"});
    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 3); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("warm_up", "remediation_applied", "remediation_completed"));
    EXPECT_EQ(m_receiver->requestCount(), 2u);  // the two behind the first went together
}

// A 422 blames the batch: it is split until the one refused event is dropped.
// A 500 may be the batch's fault too; an event that keeps failing alone is
// dropped after its attempts. The others are delivered either way.
TEST_F(TelemetryServiceTest, RefusedAndPoisonEventsAreDroppedAloneAndTheOthersAreDelivered) {
    m_receiver->failEventsNamed("poison_event", 500);
    auto config = configuration();
    config.maximumAttempts = 3;
    TelemetryService service(config);
    // The receiver's schema refuses "Not-Snake-Case" with 422.
    recordBehindAStalledSend(service, {"offer_shown", "Not-Snake-Case", "goal_selected", "poison_event", "nps_shown"});
    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return drained(service, 4); }));

    EXPECT_THAT(deliveredNames(), ElementsAre("warm_up", "offer_shown", "goal_selected", "nps_shown"));
    EXPECT_EQ(reportedDrops("rejected"), 1);
    EXPECT_EQ(reportedDrops("too_many_attempts"), 1);
    EXPECT_EQ(reportedDrops("count"), 2);
}

// A redirected POST is not followed: it may come back a GET, or without its key.
TEST_F(TelemetryServiceTest, TheRedirectingEndpointKeepsAllEvents) {
    httplib::Server redirector;
    std::atomic<int> hits{0};
    redirector.Post(".*", [&](const httplib::Request&, httplib::Response& response) {
        ++hits;
        response.status = 307;
        response.set_header("Location", m_endpoint);
    });
    const int port = redirector.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { redirector.listen_after_bind(); });
    while (!redirector.is_running()) std::this_thread::sleep_for(1ms);
    auto config = configuration();
    config.endpointURL = "http://127.0.0.1:" + std::to_string(port) + "/api/database/records/usage_events";
    {
        TelemetryService service(config);
        for (const char* name : {"audit_reached", "audit_gated", "nps_shown"}) service.record(name);
        ASSERT_TRUE(test::eventually([&] { return hits >= 3; }));
        EXPECT_EQ(service.snapshot().pending.size(), 3u);
    }
    redirector.stop();
    serving.join();
    EXPECT_EQ(m_receiver->rowCount(), 0u);
    EXPECT_THAT(journalNames(), ElementsAre("audit_reached", "audit_gated", "nps_shown"));
    EXPECT_THAT(logs(), Contains(HasSubstr("redirected to " + m_endpoint + " (307)")));
}

// Events that cannot be encoded or are too large are dropped when recorded;
// the others are kept while nothing answers, up to the queue's cap, and go
// first once an endpoint takes them.
TEST_F(TelemetryServiceTest, EventsAreBoundedWhileTheReceiverIsDownAndGoFirstAfterARestart) {
    auto config = configuration();
    config.endpointURL = deadEndpoint();
    config.maximumQueueLength = 3;
    config.maximumEventBytes = 1024;
    auto service = std::make_unique<TelemetryService>(config);
    service->record("nps_submitted", {{"score", std::numeric_limits<double>::quiet_NaN()}});
    service->record("nps_submitted", {{"reason", std::string(2000, 'x')}});
    for (const char* name : {"app_launched", "consent_given", "audit_reached", "audit_stage_outcome", "audit_gated"}) {
        service->record(name);
    }
    ASSERT_TRUE(test::eventually([&] { return service->snapshot().pending.size() == 3; }));
    EXPECT_EQ(service->snapshot().dropped[DropCause::queueFull], 2);
    const UUID session = service->sessionID();
    service.reset();
    EXPECT_THAT(journalNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated"));
    EXPECT_THAT(logs(), Contains(HasSubstr("dropping event that cannot be encoded: nps_submitted")));
    EXPECT_THAT(logs(), Contains(HasSubstr("dropping event that is too large to send: nps_submitted")));

    service = startService();
    service->record("nps_dismissed");
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 4); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated", "nps_dismissed"));
    EXPECT_EQ(reportedDrops("queue_full"), 2);
    for (const auto& row : m_receiver->rows()) EXPECT_EQ(row.sessionID, session.lowercaseString());
}

// The previous version's pending file is migrated: events older than the
// maximum age are dropped and reported, the rest delivered. One that cannot
// be read waits beside the journal, untouched, for one more try at the next
// start, and is deleted then.
TEST_F(TelemetryServiceTest, ThePreviousVersionsPendingFileIsMigratedOrSetAsideAndTriedOnceMore) {
    writeLegacyFile(legacyFile(), {event("app_launched", "2025-11-01T00:00:00.000Z"), event("audit_reached")});
    auto service = startService();
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 1); }));
    EXPECT_EQ(m_receiver->rows()[0].appVersion, "0.9 (3)");
    EXPECT_EQ(reportedDrops("too_old"), 1);
    EXPECT_THAT(directoryEntries(), IsEmpty());
    service.reset();

    ASSERT_TRUE(m_fs->write("[{\"sessionID\": broken", legacyFile(), false).ok());
    startService()->sync();
    const auto entries = directoryEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], HasSubstr("pending-events.json.unreadable-2026-01-05T09-30-00.125Z"));
    EXPECT_EQ(test::readFile(joinPath(directory(), entries[0])), "[{\"sessionID\": broken");

    writeLegacyFile(joinPath(directory(), entries[0]), {event("goal_selected")});  // readable after all
    service = startService();
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 2); }));
    EXPECT_THAT(directoryEntries(), IsEmpty());
    EXPECT_THAT(logs(), Contains(HasSubstr(entries[0] + " once more: 1 events recovered")));
}

TEST_F(TelemetryServiceTest, ShutdownCancelsASendInFlightAndLaterEventsWaitInTheJournal) {
    auto service = startService();
    recordBehindAStalledSend(*service, {});
    service->shutdown();  // must not wait for the stalled answer
    service->record("nps_dismissed");
    EXPECT_THAT(journalNames(), ElementsAre("warm_up", "nps_dismissed"));
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
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 100); }));

    // Each thread's events arrive in the order that thread recorded them.
    std::map<std::int64_t, std::int64_t> next;
    for (const auto& row : m_receiver->rows()) {
        const auto data = nlohmann::json::parse(row.eventData);
        EXPECT_EQ(data["index"].get<std::int64_t>(), next[data["thread"].get<std::int64_t>()]++);
    }
}

TEST_F(TelemetryServiceTest, EventsOfAProcessKilledMidFlushAreAllDeliveredByTheNextOne) {
    constexpr std::size_t kEvents = 200;
    m_receiver->stall(20ms);  // slow answers keep the first process mid-flush
    auto recorder = LiveProcessRunner().stream(TELEMETRY_CRASH_CHILD,
                                               {"record", m_endpoint, kKey, legacyFile(), std::to_string(kEvents)});
    const auto recorded = recorder.events.next();  // its process id, once every record() has returned
    ASSERT_TRUE(recorded && std::holds_alternative<process_event::Line>(*recorded));
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() >= 10; }));
    m_receiver->stall(60s);  // the request now in flight is never answered
    ::kill(std::stoi(std::get<process_event::Line>(*recorded).text), SIGKILL);
    EXPECT_EQ(test::collect(recorder.events), std::vector<ProcessStreamEvent>{process_event::Exited{SIGKILL}});
    ASSERT_LT(m_receiver->rowCount(), kEvents);

    m_receiver->stall(0ms);
    nextProcessDeliversAll(kEvents);                 // duplicates allowed, losses not
    EXPECT_LE(m_receiver->rowCount(), kEvents + 1);  // at most the one in flight twice
}

TEST_F(TelemetryServiceTest, EventsOfAProcessKilledTheMomentRecordReturnsAreAllDeliveredByTheNextOne) {
    constexpr std::size_t kEvents = 50;
    // The first process finds nothing listening: the only copy of each event
    // is the one record() wrote.
    const auto died = LiveProcessRunner().run(
        TELEMETRY_CRASH_CHILD, {"record-and-die", deadEndpoint(), kKey, legacyFile(), std::to_string(kEvents)});
    EXPECT_EQ(died.valueOr(ProcessResult{}).exitCode, SIGKILL);

    nextProcessDeliversAll(kEvents);
    EXPECT_EQ(m_receiver->rowCount(), kEvents);
}

}  // namespace
}  // namespace lumo
