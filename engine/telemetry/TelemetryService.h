// TelemetryService: stamps, queues, persists and delivers usage events.
//
// An actor: one worker thread owns the queue (`pending`) and `isFlushing`;
// a second one performs the HTTP requests. record() and emit() return at
// once, from any thread; nothing a caller does ever waits for the network or
// fails because of it.
//
// Durability. record() appends the event to the pending journal itself (one
// write(2) with O_APPEND, no fsync, no network; see PendingJournal.h) before
// it returns, so a process killed right after record() still has the event.
// The worker appends what happens to the queue (delivered, dropped, failed
// attempts) and now and then rewrites the journal compactly; it removes it
// when the queue drains. It rewrites only once it has taken in every event
// recorded so far (one that is only on disk would be lost), so a flood of
// record() calls postpones compaction until it pauses. At start the journal, the previous version's
// pending-events.json and files set aside as unreadable at the last start
// are read; their events go ahead of anything recorded since. Delivery is
// at-least-once: a batch in flight when the process dies is sent again.
//
//   TelemetryService::shared().emit("consent_given");         // the app
//   TelemetryService service(configuration);                  // tests
//   service.record("verify_passed", {{"java_major_version", 21}});
//
// Delivery. Events go out in order, oldest first, up to maximumBatchSize per
// POST (the body is a JSON array of wire records). Redirects are never
// followed. The answer decides (see classifyDelivery):
//  - 2xx: delivered.
//  - 400, 422: the batch was refused for what it holds. A batch of several
//    is split (halved) and sent again at once; an event refused alone is
//    dropped with "Telemetry: dropping event after <status> (likely
//    event_name or schema mismatch)".
//  - 5xx, a time-out, a dropped connection, an unreadable answer: maybe this
//    batch. A batch of several is halved; an event sent alone counts a failed
//    attempt, and after maximumAttempts it is dropped with a log line.
//  - anything else (3xx, 401, 403, 404, 413, 408, 429, no network): the
//    endpoint, the key or the network is wrong, not the event. Everything is
//    kept; a 3xx is logged as "redirected to <Location>".
// After any failure the next attempt waits retryPause, doubling with each
// further failure up to maximumRetryPause, and the timer keeps running until
// the queue is empty: nothing waits for the next record() or start.
//
// Bounds. Events older than maximumAge are dropped when they come up; the
// queue keeps at most maximumQueueLength events (the oldest go first; while
// a request is in flight, twice that before its events go too); an
// event larger than maximumEventBytes is dropped when recorded. Drops are
// counted (in the journal) and reported in a later "telemetry_events_dropped"
// event (`count` and one count per cause: `queue_full`, `too_many_attempts`,
// `too_old`, `rejected`), sent with the next batch that has room.
//
// Privacy. Every string property is passed through shortenHomePaths().
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/CancelToken.h"
#include "platform/FileSystemOperating.h"
#include "platform/HTTPFetching.h"
#include "platform/KeyValueStoring.h"
#include "telemetry/PendingJournal.h"
#include "telemetry/TelemetryEvent.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// What a delivery attempt's answer means for the events it carried.
enum class DeliveryVerdict {
    delivered,
    rejected,      // 400, 422: the content; split, then drop
    maybeTheBatch, // 5xx, time-out, lost connection, unreadable answer
    keep,          // the endpoint, the key or the network: keep and back off
    cancelled,     // shutting down
};
struct DeliveryOutcome {
    DeliveryVerdict verdict = DeliveryVerdict::keep;
    int status = 0;        // the HTTP status, 0 without an answer
    std::string location;  // a 3xx's Location header
};
DeliveryOutcome classifyDelivery(const Result<HTTPDataResult>& result);

class TelemetryService final : public TelemetrySink {
public:
    using Clock = std::chrono::system_clock;
    using Event = TelemetryEvent;

    // The event that reports drops.
    static constexpr const char* kDropReportEvent = "telemetry_events_dropped";

    struct Configuration {
        std::string endpointURL;
        std::string anonKey;
        std::string appVersion;
        std::string appID;
        // Called once at start: the service's own HTTP client.
        std::function<std::shared_ptr<const HTTPFetching>()> urlSessionFactory;
        std::shared_ptr<KeyValueStoring> kvStore;
        std::shared_ptr<const FileSystemOperating> fs;
        // The previous version's pending-events.json; the journal is
        // pending-events.jsonl beside it.
        std::string pendingFileURL;

        // The session ID's preference-key prefix (the product's userDefaultsPrefix).
        std::string userDefaultsPrefix;
        // When an event is recorded; also the clock of maximumAge.
        std::function<Clock::time_point()> clock = [] { return Clock::now(); };
        // The pause after the first failed attempt; each further failure
        // doubles it, up to maximumRetryPause.
        std::chrono::milliseconds retryPause{500};
        std::chrono::milliseconds maximumRetryPause{std::chrono::minutes(5)};
        // The HTTP client's idle and whole-request limits.
        std::chrono::milliseconds requestTimeout{15'000};
        std::chrono::milliseconds resourceTimeout{30'000};
        int maximumAttempts = 10;
        std::chrono::hours maximumAge{24 * 30};
        std::size_t maximumQueueLength = 1000;
        std::size_t maximumBatchSize = 20;
        std::size_t maximumBatchBytes = 48 * 1024;
        std::size_t maximumEventBytes = 16 * 1024;
        // Where the "Telemetry: ..." lines go; standard output when empty.
        // Called from the worker and, for an event dropped when recorded,
        // from the recording thread.
        std::function<void(const std::string&)> log;
    };

    // A consistent view of the actor's state, for tests and diagnostics.
    struct Snapshot {
        std::vector<Event> pending;
        bool isFlushing = false;  // a request in flight or a retry waiting
        int headAttempts = 0;     // failed attempts of the oldest event
        DropCounts dropped;       // not yet reported
    };

    // The process-wide instance, created on first use from the active product
    // configuration and the live adapters (defined in lumo_telemetry_live).
    // Never destroyed; call shutdown() when the app quits.
    static TelemetryService& shared();
    // The active product's configuration with the live HTTP client and the
    // build's key and version, over `store` and `fs`. The endpoint is the
    // build's unless one is given (a simulated Mac's test receiver). Defined
    // in lumo_telemetry_live, like shared(), which uses it.
    static Configuration liveConfiguration(std::shared_ptr<KeyValueStoring> store,
                                           std::shared_ptr<const FileSystemOperating> fs,
                                           std::optional<std::string> endpointURL = std::nullopt);

    // Reads the session ID, builds the HTTP client and starts the workers,
    // which load what is pending and start delivering it.
    explicit TelemetryService(Configuration configuration);
    // shutdown().
    ~TelemetryService() override;
    TelemetryService(const TelemetryService&) = delete;
    TelemetryService& operator=(const TelemetryService&) = delete;

    // Stamps the event, appends it to the journal and hands it to the
    // worker. Returns at once (it waits only for the one append, or for the
    // start-up load when it comes first). After shutdown() the event is
    // still kept in the journal for the next start.
    void record(const std::string& name, const JSONObject& data = {});
    // The screens' entry: record().
    void emit(const std::string& name, const JSONObject& data = {}) override { record(name, data); }

    // Cancels a request in flight (its events stay pending) and stops the
    // workers without waiting for the network. Idempotent.
    void shutdown();

    // Returns once the worker has taken in everything recorded before the
    // call. Returns at once after shutdown().
    void sync();
    // The queue and its state once the worker has taken in everything
    // recorded before the call.
    Snapshot snapshot();

    UUID sessionID() const { return m_sessionID; }

    // "<short version> (<build>)", with "0.0" and "0" for missing parts.
    static std::string appVersionString(const std::string& shortVersion, const std::string& buildNumber);
    // pending-events.json in `appSupportDirName` inside Application Support,
    // or inside the temporary directory when that cannot be obtained.
    static std::string defaultPendingFileURL(const FileSystemOperating& fs, const std::string& appSupportDirName);

private:
    using Message = std::function<void()>;

    // False once the service is stopping; the message is then dropped.
    bool post(Message message);
    void runActor();
    void runSender();

    // Journal side, with m_journalMutex held.
    void ensureLoadedLocked();

    // Actor-only.
    void adopt(PendingState state);
    void enqueue(Event event);
    void sendNext();
    void dropExpiredHead();
    void finishAttempt(const Result<HTTPDataResult>& result);
    void removeHead(std::size_t count, std::optional<DropCause> cause);
    void retryLater();
    void reportDelivered(const DropCounts& reported);
    void trimQueue();
    void maintainJournal();
    void appendControl(const std::string& line);
    Event dropReport() const;
    void noteProblem(const std::string& line);
    void log(const std::string& line) const;

    Configuration m_configuration;
    std::shared_ptr<const HTTPFetching> m_http;
    UUID m_sessionID;

    // The journal, shared by recording threads and the actor. Lock order:
    // m_journalMutex, then m_mutex.
    std::mutex m_journalMutex;
    PendingJournal m_journal;              // guarded by m_journalMutex
    bool m_loaded = false;                 // guarded by m_journalMutex
    std::uint64_t m_recordedEvents = 0;    // guarded by m_journalMutex; appended and posted by record()
    bool m_reportedJournalError = false;   // guarded by m_journalMutex

    // The mailbox, shared by callers, the sender and the actor.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Message> m_mailbox;          // guarded by m_mutex
    bool m_stopping = false;                // guarded by m_mutex
    std::optional<HTTPRequest> m_outgoing;  // guarded by m_mutex; the sender's one slot
    std::condition_variable m_senderWake;

    // Owned by the actor thread.
    std::deque<Event> m_pending;
    int m_headAttempts = 0;
    DropCounts m_dropped;
    std::uint64_t m_adoptedEvents = 0;  // record()ed events taken into m_pending
    bool m_isFlushing = false;
    bool m_requestInFlight = false;
    std::size_t m_inFlight = 0;                // queued events the request in flight carries
    std::optional<DropCounts> m_reportInFlight;  // the drop report riding with it
    int m_reportFailures = 0;
    std::size_t m_batchLimit = 1;
    int m_failures = 0;  // in a row, for the back-off
    std::optional<std::chrono::steady_clock::time_point> m_retryAt;
    std::string m_lastProblem;  // the last "keeping events" line logged
    std::vector<std::function<void()>> m_afterMessages;

    CancelSource m_cancel;
    std::mutex m_shutdownMutex;  // serialises shutdown() callers
    bool m_joined = false;       // guarded by m_shutdownMutex
    std::thread m_actor;
    std::thread m_sender;
};

}  // namespace lumo
