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
using ::testing::Not;

constexpr const char* kKey = "test-anon-key";

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
    std::vector<std::string> deliveredNames() const {
        std::vector<std::string> names;
        for (const auto& row : m_receiver->rows()) {
            if (row.eventName != TelemetryService::kDropReportEvent) names.push_back(row.eventName);
        }
        return names;
    }
    // The data of the one drop report delivered.
    nlohmann::json dropReport() const {
        std::vector<nlohmann::json> reports;
        for (const auto& row : m_receiver->rows()) {
            if (row.eventName == TelemetryService::kDropReportEvent)
                reports.push_back(nlohmann::json::parse(row.eventData));
        }
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? nlohmann::json() : reports.front();
    }
    std::vector<std::string> logs() {
        std::lock_guard lock(m_logMutex);
        return m_logs;
    }

    // Everything delivered, nothing left to do, and no file left behind.
    bool drained(TelemetryService& service, std::size_t rows) {
        const auto state = service.snapshot();
        return m_receiver->rowCount() == rows && state.pending.empty() && !state.isFlushing &&
               !m_fs->fileExists(journalFile());
    }
    std::vector<std::string> directoryEntries() const {
        auto names = m_fs->contentsOfDirectory(directory()).valueOr(std::vector<std::string>{});
        std::sort(names.begin(), names.end());
        return names;
    }
    void writeLegacyFile(const std::string& name, const std::deque<TelemetryEvent>& events) {
        ASSERT_TRUE(m_fs->createDirectory(directory(), true).ok());
        ASSERT_TRUE(m_fs->write(encodePendingEvents(events).value(), joinPath(directory(), name), false).ok());
    }
    // The crash child's arguments (see helpers/TelemetryCrashChild.cpp).
    std::vector<std::string> crashChild(const std::string& mode, const std::string& endpoint,
                                        std::size_t count = 0) const {
        std::vector<std::string> list{mode, endpoint, kKey, legacyFile()};
        if (count > 0) list.push_back(std::to_string(count));
        return list;
    }
    // A process that delivers what is pending, run to its end.
    void deliverPendingInAnotherProcess() const {
        const auto delivered = LiveProcessRunner().run(TELEMETRY_CRASH_CHILD, crashChild("deliver", m_endpoint));
        ASSERT_TRUE(delivered.ok());
        EXPECT_EQ(delivered->exitCode, 0);
    }
    std::set<std::int64_t> deliveredIndexes() const {
        std::set<std::int64_t> indexes;
        for (const auto& row : m_receiver->rows())
            indexes.insert(nlohmann::json::parse(row.eventData)["index"].get<std::int64_t>());
        return indexes;
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

TEST_F(TelemetryServiceTest, DeliversEveryEventInOrderWithTheExactRecordAndLeavesNoFile) {
    auto service = startService();
    const JSONObject data{{"reason", "couldn't write /Users/ada: Permission denied"},
                          {"ratio", 0.25},
                          {"tools", JSONArray{"warp", JSONObject{{"path", "/Users/ada/bin/warp"}}}}};
    service->record("remediation_failed", data);
    service->emit("consent_given");
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 2); }));

    const auto rows = m_receiver->rows();
    EXPECT_EQ(rows[1].eventName, "consent_given");
    EXPECT_EQ(rows[1].eventData, "{}");
    const auto& first = rows.front();
    EXPECT_EQ(first.eventName, "remediation_failed");
    EXPECT_EQ(first.sessionID, service->sessionID().lowercaseString());
    EXPECT_EQ(m_store->string("example.lumo.session_id"), service->sessionID().uuidString());
    EXPECT_EQ(first.clientTimestamp, "2026-01-05T09:30:00.125Z");
    EXPECT_EQ(first.appVersion, "1.0 (7)");
    EXPECT_EQ(first.appID, "example.lumo.java");
    EXPECT_EQ(nlohmann::json::parse(first.eventData), nlohmann::json::parse(R"({"ratio": 0.25,
        "reason": "couldn't write /Users/~: Permission denied", "tools": ["warp", {"path": "/Users/~/bin/warp"}]})"));
    EXPECT_THAT(directoryEntries(), IsEmpty());
    EXPECT_THAT(logs(), IsEmpty());
}

TEST_F(TelemetryServiceTest, RecordedEventsAreInTheJournalWhenRecordReturnsAndGoInOneBatch) {
    auto service = startService();
    recordBehindAStalledSend(*service, {"remediation_applied", "remediation_completed"});
    // No waiting: record() itself wrote them.
    EXPECT_THAT(journalNames(), ElementsAre("warm_up", "remediation_applied", "remediation_completed"));
    EXPECT_TRUE(service->snapshot().isFlushing);

    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 3); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("warm_up", "remediation_applied", "remediation_completed"));
    EXPECT_EQ(m_receiver->requestCount(), 2u);  // the two behind the first went together
}

TEST_F(TelemetryServiceTest, ARefusedEventIsSplitOffAndDroppedAloneAndTheOthersAreDelivered) {
    auto service = startService();
    // The receiver's schema refuses "Not-Snake-Case" with 422.
    recordBehindAStalledSend(*service, {"offer_shown", "Not-Snake-Case", "offer_action", "nps_shown"});
    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 5); }));

    EXPECT_THAT(deliveredNames(), ElementsAre("warm_up", "offer_shown", "offer_action", "nps_shown"));
    EXPECT_EQ(dropReport()["rejected"], 1);
    EXPECT_THAT(logs(), ElementsAre("Telemetry: dropping event after 422 (likely event_name or schema mismatch)"));
}

TEST_F(TelemetryServiceTest, APoisonEventIsDroppedAfterItsAttemptsAndTheOthersAreDelivered) {
    m_receiver->failEventsNamed("poison_event", 500);
    auto config = configuration();
    config.maximumAttempts = 3;
    TelemetryService service(config);
    recordBehindAStalledSend(service, {"goal_selected", "poison_event", "offer_shown", "offer_action"});
    m_receiver->stall(0ms);
    ASSERT_TRUE(test::eventually([&] { return drained(service, 5); }));

    EXPECT_THAT(deliveredNames(), ElementsAre("warm_up", "goal_selected", "offer_shown", "offer_action"));
    const auto report = dropReport();
    EXPECT_EQ(report["too_many_attempts"], 1);
    EXPECT_EQ(report["count"], 1);
    EXPECT_THAT(logs(), Contains("Telemetry: dropping event after 3 failed attempts: poison_event"));
}

TEST_F(TelemetryServiceTest, AnswersThatDoNotBlameTheEventKeepItAndTheRetryTimerDeliversIt) {
    // Each status answers the event's first two attempts; nothing else is
    // recorded meanwhile, so only the service's own timer can deliver it.
    const std::vector<int> statuses = {301, 302, 307, 308, 401, 403, 404, 408, 413, 429, 500, 503};
    auto service = startService();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        m_receiver->failNext(2, statuses[i]);
        service->record("offer_shown", {{"status", statuses[i]}});
        ASSERT_TRUE(test::eventually([&] { return drained(*service, i + 1); })) << statuses[i];
    }
    EXPECT_EQ(m_receiver->requestCount(), 3 * statuses.size());
    std::vector<int> seen;
    for (const auto& row : m_receiver->rows()) seen.push_back(nlohmann::json::parse(row.eventData)["status"]);
    EXPECT_EQ(seen, statuses);
    EXPECT_THAT(logs(), Contains("Telemetry: keeping events after 401 (check the endpoint and the key)"));
    EXPECT_THAT(logs(), Contains(HasSubstr("Telemetry: keeping events: the endpoint redirected to nowhere (307)")));
    for (const auto& line : logs()) EXPECT_THAT(line, Not(HasSubstr("dropping"))) << line;
}

TEST_F(TelemetryServiceTest, TheRedirectingEndpointKeepsAllEventsUntilTheRightOneTakesThem) {
    for (const int status : {302, 307}) {
        httplib::Server redirector;
        std::atomic<int> hits{0};
        redirector.Post(".*", [&](const httplib::Request&, httplib::Response& response) {
            ++hits;
            response.status = status;
            response.set_header("Location", m_endpoint);
        });
        const int port = redirector.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { redirector.listen_after_bind(); });
        auto config = configuration();
        config.endpointURL = "http://127.0.0.1:" + std::to_string(port) + "/api/database/records/usage_events";
        {
            TelemetryService service(config);
            if (status == 302) {
                for (const char* name : {"audit_reached", "audit_gated", "nps_shown"}) service.record(name);
            }
            ASSERT_TRUE(test::eventually([&] { return hits >= 3; })) << status;
            EXPECT_EQ(service.snapshot().pending.size(), 3u) << status;
        }
        redirector.stop();
        serving.join();
        EXPECT_EQ(m_receiver->rowCount(), 0u);
        EXPECT_THAT(journalNames(), ElementsAre("audit_reached", "audit_gated", "nps_shown"));
        EXPECT_THAT(logs(), Contains("Telemetry: keeping events: the endpoint redirected to " + m_endpoint + " (" +
                                     std::to_string(status) + ")"));
    }

    auto service = startService();
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 3); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_reached", "audit_gated", "nps_shown"));
}

TEST_F(TelemetryServiceTest, EventsKeptWhileTheReceiverIsDownAreCappedAndGoFirstAfterARestart) {
    const int port = m_receiver->port();
    m_receiver.reset();  // nothing listens on the endpoint now
    auto config = configuration();
    config.maximumQueueLength = 3;
    auto service = std::make_unique<TelemetryService>(config);
    for (const char* name : {"app_launched", "consent_given", "audit_reached", "audit_stage_outcome", "audit_gated"}) {
        service->record(name);
    }
    ASSERT_TRUE(test::eventually([&] { return service->snapshot().pending.size() == 3; }));
    EXPECT_EQ(service->snapshot().dropped[DropCause::queueFull], 2);
    const UUID session = service->sessionID();
    service.reset();
    EXPECT_THAT(journalNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated"));

    startReceiver(port);
    service = std::make_unique<TelemetryService>(config);
    service->record("nps_dismissed");
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 5); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_reached", "audit_stage_outcome", "audit_gated", "nps_dismissed"));
    EXPECT_EQ(dropReport()["queue_full"], 2);
    for (const auto& row : m_receiver->rows()) EXPECT_EQ(row.sessionID, session.lowercaseString());
}

TEST_F(TelemetryServiceTest, ThePreviousVersionsPendingFileIsMigratedAndDelivered) {
    writeLegacyFile("pending-events.json", {event("audit_reached"), event("audit_gated")});
    auto service = startService();
    service->record("nps_shown");
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 3); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_reached", "audit_gated", "nps_shown"));
    EXPECT_EQ(m_receiver->rows()[0].appVersion, "0.9 (3)");
    EXPECT_THAT(directoryEntries(), IsEmpty());
}

TEST_F(TelemetryServiceTest, UnreadablePendingFilesAreSetAsideTriedOnceMoreAtTheNextStartThenDeleted) {
    ASSERT_TRUE(m_fs->createDirectory(directory(), true).ok());
    ASSERT_TRUE(m_fs->write("[{\"sessionID\": broken", legacyFile(), false).ok());
    // Set aside by an earlier start, and readable after all.
    writeLegacyFile("pending-events.json.unreadable-2026-01-01T00-00-00.000Z", {event("goal_selected")});

    auto service = startService();
    service->record("nps_shown");
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 2); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("goal_selected", "nps_shown"));
    // The broken file waits beside the journal, untouched, for one more try.
    const auto entries = directoryEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_THAT(entries[0], HasSubstr("pending-events.json.unreadable-2026-01-05T09-30-00.125Z"));
    EXPECT_EQ(test::readFile(joinPath(directory(), entries[0])), "[{\"sessionID\": broken");
    EXPECT_THAT(logs(), Contains(HasSubstr("Telemetry: couldn't load pending events: ")));
    service.reset();

    service = startService();
    service->sync();
    EXPECT_THAT(directoryEntries(), IsEmpty());
    EXPECT_THAT(logs(), Contains("Telemetry: tried the unreadable pending file " + entries[0] +
                                 " once more: 0 events recovered"));
}

TEST_F(TelemetryServiceTest, EventsOlderThanTheMaximumAgeAreDroppedAndReported) {
    ASSERT_TRUE(m_fs->createDirectory(directory(), true).ok());
    const std::string text = journal::eventLine(event("app_launched", "2025-11-01T00:00:00.000Z")).value() + "\n" +
                             journal::eventLine(event("audit_gated")).value() + "\n";
    ASSERT_TRUE(m_fs->write(text, journalFile(), false).ok());
    auto service = startService();
    ASSERT_TRUE(test::eventually([&] { return drained(*service, 2); }));
    EXPECT_THAT(deliveredNames(), ElementsAre("audit_gated"));
    EXPECT_EQ(dropReport()["too_old"], 1);
    EXPECT_THAT(logs(), Contains("Telemetry: dropping 1 events older than 30 days"));
}

TEST_F(TelemetryServiceTest, EventsThatCannotBeSentAreRepairedOrDroppedWhenRecorded) {
    auto config = configuration();
    config.maximumEventBytes = 1024;
    TelemetryService service(config);
    service.record("nps_submitted", {{"score", std::numeric_limits<double>::quiet_NaN()}});
    service.record("nps_submitted", {{"reason", std::string(2000, 'x')}});
    service.record("audit_outbound_clicked", {{"url", "https://example.com/\xFF"}});
    ASSERT_TRUE(test::eventually([&] { return drained(service, 1); }));
    EXPECT_EQ(nlohmann::json::parse(m_receiver->rows()[0].eventData)["url"], "https://example.com/\xEF\xBF\xBD");
    const auto lines = logs();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], HasSubstr("Telemetry: dropping event that cannot be encoded: nps_submitted"));
    EXPECT_THAT(lines[1], HasSubstr("Telemetry: dropping event that is too large to send: nps_submitted"));
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
    auto recorder = LiveProcessRunner().stream(TELEMETRY_CRASH_CHILD, crashChild("record", m_endpoint, kEvents));
    const auto recorded = recorder.events.next();  // its process id, once every record() has returned
    ASSERT_TRUE(recorded && std::holds_alternative<process_event::Line>(*recorded));
    ASSERT_TRUE(test::eventually([&] { return m_receiver->rowCount() >= 10; }));
    m_receiver->stall(60s);  // the request now in flight is never answered
    ::kill(std::stoi(std::get<process_event::Line>(*recorded).text), SIGKILL);
    EXPECT_EQ(test::collect(recorder.events), std::vector<ProcessStreamEvent>{process_event::Exited{SIGKILL}});
    ASSERT_LT(m_receiver->rowCount(), kEvents);

    m_receiver->stall(0ms);
    deliverPendingInAnotherProcess();
    EXPECT_EQ(deliveredIndexes().size(), kEvents);   // duplicates allowed, losses not
    EXPECT_LE(m_receiver->rowCount(), kEvents + 1);  // at most the one in flight twice
    EXPECT_FALSE(m_fs->fileExists(journalFile()));
}

TEST_F(TelemetryServiceTest, EventsOfAProcessKilledTheMomentRecordReturnsAreAllDeliveredByTheNextOne) {
    constexpr std::size_t kEvents = 50;
    // The first process finds nothing listening: the only copy of each event
    // is the one record() wrote.
    TelemetryReceiver gone(TelemetryReceiver::Options{.anonKey = kKey});
    ASSERT_TRUE(gone.start().ok());
    gone.stop();
    const auto killed =
        LiveProcessRunner().run(TELEMETRY_CRASH_CHILD, crashChild("record-and-die", gone.endpointURL(), kEvents));
    ASSERT_TRUE(killed.ok());
    EXPECT_EQ(killed->exitCode, SIGKILL);

    deliverPendingInAnotherProcess();
    EXPECT_EQ(deliveredIndexes().size(), kEvents);
    EXPECT_EQ(m_receiver->rowCount(), kEvents);
}

}  // namespace
}  // namespace lumo
