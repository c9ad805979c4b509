#include "telemetry/TelemetryService.h"

#include <cstdio>
#include <future>

namespace lumo {

namespace {

constexpr std::chrono::milliseconds kRequestTimeout{15'000};
constexpr std::chrono::milliseconds kResourceTimeout{30'000};

// 408 (request timeout) and 429 (too many requests) are worth another try.
bool isTransientClientError(int status) { return status == 408 || status == 429; }

}  // namespace

TelemetryService::TelemetryService(Configuration configuration) : m_configuration(std::move(configuration)) {
    m_http = m_configuration.urlSessionFactory();
    m_sessionID = SessionID(*m_configuration.kvStore, m_configuration.userDefaultsPrefix).value();
    post([this] { load(); });
    m_actor = std::thread([this] { runActor(); });
    m_sender = std::thread([this] { runSender(); });
}

TelemetryService::~TelemetryService() { shutdown(); }

std::string TelemetryService::appVersionString(const std::string& shortVersion, const std::string& buildNumber) {
    return (shortVersion.empty() ? "0.0" : shortVersion) + " (" + (buildNumber.empty() ? "0" : buildNumber) + ")";
}

std::string TelemetryService::defaultPendingFileURL(const FileSystemOperating& fs,
                                                    const std::string& appSupportDirName) {
    const auto support = fs.applicationSupportDirectory();
    const std::string base = support ? *support : fs.temporaryDirectory();
    return joinPath(joinPath(base, appSupportDirName), "pending-events.json");
}

// Callers' side --------------------------------------------------------------

bool TelemetryService::post(Message message) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return false;
        m_mailbox.push_back(std::move(message));
    }
    m_wake.notify_one();
    return true;
}

void TelemetryService::record(const std::string& name, const JSONObject& data) {
    const auto time = m_configuration.clock();
    post([this, name, data, time] { enqueue(name, data, time); });
}

void TelemetryService::waitUntilPersisted() {
    std::promise<void> done;
    auto future = done.get_future();
    if (!post([this, &done] { m_afterPersist.push_back([&done] { done.set_value(); }); })) return;
    future.wait();
}

TelemetryService::Snapshot TelemetryService::snapshot() {
    std::promise<Snapshot> done;
    auto future = done.get_future();
    // Taken once the batch that holds the request is persisted, so the
    // pending file agrees with the snapshot.
    if (!post([this, &done] {
            m_afterPersist.push_back([this, &done] {
                done.set_value(Snapshot{std::vector<Event>(m_pending.begin(), m_pending.end()), m_isFlushing});
            });
        })) {
        return {};
    }
    return future.get();
}

void TelemetryService::shutdown() {
    std::lock_guard serial(m_shutdownMutex);
    if (m_joined) return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_senderWake.notify_all();
    m_cancel.cancel();  // a request in flight ends now; its event stays queued
    m_actor.join();
    m_sender.join();
    m_joined = true;
}

// The worker threads -----------------------------------------------------------

void TelemetryService::runActor() {
    for (;;) {
        std::deque<Message> batch;
        bool stopping = false;
        {
            std::unique_lock lock(m_mutex);
            const auto ready = [this] { return !m_mailbox.empty() || m_stopping; };
            if (m_retryAt) {
                m_wake.wait_until(lock, *m_retryAt, ready);
            } else {
                m_wake.wait(lock, ready);
            }
            batch.swap(m_mailbox);
            stopping = m_stopping;
        }
        for (auto& message : batch) message();
        if (!stopping && m_retryAt && std::chrono::steady_clock::now() >= *m_retryAt) {
            m_retryAt.reset();
            sendHead(m_attempt);
        }
        // One write for a whole batch of recorded events.
        if (m_dirty) persist();
        for (auto& notify : m_afterPersist) notify();
        m_afterPersist.clear();
        if (stopping) return;
    }
}

void TelemetryService::runSender() {
    for (;;) {
        HTTPRequest request;
        {
            std::unique_lock lock(m_mutex);
            m_senderWake.wait(lock, [this] { return m_stopping || m_outgoing.has_value(); });
            if (m_stopping) return;
            request = std::move(*m_outgoing);
            m_outgoing.reset();
        }
        auto result = m_http->data(request, m_cancel.token());
        post([this, result = std::move(result)] { finishAttempt(result); });
    }
}

// The actor -------------------------------------------------------------------

void TelemetryService::load() {
    const auto& file = m_configuration.pendingFileURL;
    if (m_configuration.fs->fileExists(file)) {
        auto text = m_configuration.fs->readString(file);
        auto events = text ? decodePendingEvents(*text) : Result<std::vector<Event>>(text.error());
        if (!events) {
            log("Telemetry: couldn't load pending events: " + events.error().description);
            keepUnreadablePendingFile();
        } else {
            m_pending.insert(m_pending.begin(), events->begin(), events->end());
        }
    }
    flush();
}

// The next save would write over a file we could not read, and whatever it
// still holds would be gone. Move it aside instead, so nothing is lost and the
// queue can go on in the usual place.
void TelemetryService::keepUnreadablePendingFile() {
    const auto& file = m_configuration.pendingFileURL;
    std::string stamp = iso8601Milliseconds(m_configuration.clock());
    for (char& c : stamp) {
        if (c == ':') c = '-';
    }
    const std::string aside = file + ".unreadable-" + stamp;
    if (auto moved = m_configuration.fs->moveItem(file, aside); moved) {
        log("Telemetry: kept the unreadable pending file as " + lastPathComponent(aside));
    } else {
        log("Telemetry: couldn't keep the unreadable pending file: " + moved.error().description);
    }
}

void TelemetryService::enqueue(const std::string& name, const JSONObject& data, Clock::time_point time) {
    // Invalid UTF-8 is replaced here so that the event can always be encoded
    // later; one that still cannot (a non-finite double) would block the queue.
    Event event{m_sessionID, iso8601Milliseconds(time), m_configuration.appVersion, validUTF8(name),
                std::get<JSONObject>(withValidUTF8(JSONValue(data)).value)};
    if (auto body = encodeWireBody(event, m_configuration.appID); !body) {
        log("Telemetry: dropping event that cannot be encoded: " + event.eventName + ": " + body.error().description);
        return;
    }
    m_pending.push_back(std::move(event));
    m_dirty = true;
    flush();
}

void TelemetryService::flush() {
    if (m_isFlushing) return;
    m_isFlushing = true;
    sendHead(0);
}

void TelemetryService::sendHead(int attempt) {
    while (!m_pending.empty()) {
        auto body = encodeWireBody(m_pending.front(), m_configuration.appID);
        if (!body) {
            log("Telemetry: dropping event that cannot be encoded: " + m_pending.front().eventName + ": " +
                body.error().description);
            m_pending.pop_front();
            m_dirty = true;
            continue;
        }
        HTTPRequest request;
        request.url = m_configuration.endpointURL;
        request.method = "POST";
        request.headers = {{"Content-Type", "application/json"},
                           {"Authorization", "Bearer " + m_configuration.anonKey}};
        request.body = std::move(*body);
        request.timeout = kRequestTimeout;
        request.resourceTimeout = kResourceTimeout;
        m_attempt = attempt;
        {
            std::lock_guard lock(m_mutex);
            m_outgoing = std::move(request);
        }
        m_senderWake.notify_one();
        return;
    }
    m_isFlushing = false;
}

void TelemetryService::finishAttempt(const Result<HTTPDataResult>& result) {
    if (m_pending.empty()) {  // cannot happen: only a flush removes events
        m_isFlushing = false;
        return;
    }
    bool delivered = false;
    if (result) {
        const int status = result->response.statusCode;
        if (status >= 200 && status <= 299) {
            delivered = true;
        } else if (status >= 400 && status <= 499 && !isTransientClientError(status)) {
            log("Telemetry: dropping event after " + std::to_string(status) +
                " (likely event_name or schema mismatch)");
            delivered = true;
        }
    }
    if (delivered) {
        // On disk before the next send: a crash now repeats at most the
        // event in flight.
        m_pending.pop_front();
        persist();
        sendHead(0);
        return;
    }
    if (m_attempt > 1) {
        // Three attempts in this flush: the event stays at the head for the
        // next flush (the next recorded event or the next start).
        m_dirty = true;
        m_isFlushing = false;
        return;
    }
    const auto pause = m_configuration.retryPauses[static_cast<std::size_t>(m_attempt)];
    m_retryAt = std::chrono::steady_clock::now() + pause;
    m_attempt += 1;
}

void TelemetryService::persist() {
    m_dirty = false;
    const auto& fs = *m_configuration.fs;
    const auto& file = m_configuration.pendingFileURL;
    const auto fail = [this](const Error& error) {
        log("Telemetry: couldn't persist pending events: " + error.description);
    };
    const std::string directory = parentDirectory(file);
    if (bool isDirectory = false; !fs.fileExists(directory, &isDirectory) || !isDirectory) {
        if (auto created = fs.createDirectory(directory, true); !created) return fail(created.error());
    }
    if (m_pending.empty()) {
        if (fs.fileExists(file)) {
            if (auto removed = fs.removeItem(file); !removed) fail(removed.error());
        }
        return;
    }
    auto text = encodePendingEvents(m_pending);
    if (!text) return fail(text.error());
    if (auto written = fs.write(*text, file, /*atomically=*/true); !written) fail(written.error());
}

void TelemetryService::log(const std::string& line) const {
    if (m_configuration.log) return m_configuration.log(line);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace lumo
