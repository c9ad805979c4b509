// TelemetryService: stamps, queues, persists and delivers usage events.
//
// An actor: one worker thread owns the queue (`pending`) and `isFlushing`.
// record() and emit() post a message to it and return at once, from any
// thread; nothing a caller does ever waits for the network or fails because of
// it. Events are delivered in order, one POST each, by a single flush loop.
//
// Durability is at-least-once. The pending file mirrors the queue: it is
// written (atomically) as soon as recorded events reach the queue, after every
// delivery and when a flush gives up, and it is deleted when the queue drains.
// Start-up puts the file's events ahead of anything recorded since. An event
// whose delivery was in flight when the process died is sent again at the
// next start.
//
//   TelemetryService::shared().emit("consent_given");         // the app
//   TelemetryService service(configuration);                  // tests
//   service.record("verify_passed", {{"java_major_version", 21}});
//
// Delivery answers: 2xx is delivered; 408, 429, 5xx, a non-HTTP answer and a
// transport error are retried after retryPauses[0] and retryPauses[1] (0.5 s
// and 1 s) and then left queued for the next flush (the next record or the
// next start); any other 4xx drops the event with a log line.
#pragma once

#include <array>
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
#include "telemetry/TelemetryEvent.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class TelemetryService final : public TelemetrySink {
public:
    using Clock = std::chrono::system_clock;
    using Event = TelemetryEvent;

    struct Configuration {
        std::string endpointURL;
        std::string anonKey;
        std::string appVersion;
        std::string appID;
        // Called once at start: the service's own HTTP client.
        std::function<std::shared_ptr<const HTTPFetching>()> urlSessionFactory;
        std::shared_ptr<KeyValueStoring> kvStore;
        std::shared_ptr<const FileSystemOperating> fs;
        std::string pendingFileURL;

        // The session ID's preference-key prefix (the product's userDefaultsPrefix).
        std::string userDefaultsPrefix;
        // When an event is recorded.
        std::function<Clock::time_point()> clock = [] { return Clock::now(); };
        // The pauses before the second and the third attempt.
        std::array<std::chrono::milliseconds, 2> retryPauses{std::chrono::milliseconds(500),
                                                             std::chrono::milliseconds(1000)};
        // Where the "Telemetry: ..." lines go; standard output when empty.
        std::function<void(const std::string&)> log;
    };

    // A consistent view of the actor's state, for tests and diagnostics.
    struct Snapshot {
        std::vector<Event> pending;
        bool isFlushing = false;
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

    // Reads the session ID, builds the HTTP client, starts the worker and has
    // it load the pending file and start a flush.
    explicit TelemetryService(Configuration configuration);
    // shutdown().
    ~TelemetryService() override;
    TelemetryService(const TelemetryService&) = delete;
    TelemetryService& operator=(const TelemetryService&) = delete;

    // Stamps the event now and hands it to the worker, which queues and
    // persists it and starts a flush. Returns at once.
    void record(const std::string& name, const JSONObject& data = {});
    // The screens' entry: record().
    void emit(const std::string& name, const JSONObject& data = {}) override { record(name, data); }

    // Persists the queue, cancels a request in flight and stops the worker
    // without waiting for the network. Events recorded afterwards are ignored.
    // Idempotent.
    void shutdown();

    // Blocks until everything recorded before the call is queued and in the
    // pending file. Returns at once after shutdown().
    void waitUntilPersisted();
    // The queue and isFlushing as the pending file reflects them.
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

    // Actor-only.
    void load();
    void keepUnreadablePendingFile();
    void enqueue(const std::string& name, const JSONObject& data, Clock::time_point time);
    void flush();
    void sendHead(int attempt);
    void finishAttempt(const Result<HTTPDataResult>& result);
    void persist();
    void log(const std::string& line) const;

    Configuration m_configuration;
    std::shared_ptr<const HTTPFetching> m_http;
    UUID m_sessionID;

    // The mailbox, shared by callers, the sender and the actor.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Message> m_mailbox;          // guarded by m_mutex
    bool m_stopping = false;                // guarded by m_mutex
    std::optional<HTTPRequest> m_outgoing;  // guarded by m_mutex; the sender's one slot
    std::condition_variable m_senderWake;

    // Owned by the actor thread.
    std::deque<Event> m_pending;
    bool m_isFlushing = false;
    int m_attempt = 0;  // of the send in flight or waiting to be retried
    std::optional<std::chrono::steady_clock::time_point> m_retryAt;
    bool m_dirty = false;  // the queue changed since it was last persisted
    std::vector<std::function<void()>> m_afterPersist;

    CancelSource m_cancel;
    std::mutex m_shutdownMutex;  // serialises shutdown() callers
    bool m_joined = false;       // guarded by m_shutdownMutex
    std::thread m_actor;
    std::thread m_sender;
};

}  // namespace lumo
