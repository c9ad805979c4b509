#include "telemetry/TelemetryService.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <future>

#include "telemetry/HomePath.h"

namespace lumo {

namespace {

// Removals and attempts make lines; past this many beyond twice the queue,
// the journal is rewritten.
constexpr std::size_t kJournalSlack = 256;

// A header value fit for one log line.
std::string printable(std::string text) {
    if (text.size() > 200) text.resize(200);
    for (char& c : text) {
        if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
    }
    return text;
}

}  // namespace

DeliveryOutcome classifyDelivery(const Result<HTTPDataResult>& result) {
    if (!result) {
        const Error& error = result.error();
        if (error.domain != kURLErrorDomain) return {DeliveryVerdict::keep, 0, {}};
        switch (error.code) {
            case url_error::kCancelled: return {DeliveryVerdict::cancelled, 0, {}};
            // The request reached something that then failed on it.
            case url_error::kTimedOut:
            case url_error::kNetworkConnectionLost:
            case url_error::kBadServerResponse: return {DeliveryVerdict::maybeTheBatch, 0, {}};
            // No network, no server, a wrong URL: nothing to do with the events.
            default: return {DeliveryVerdict::keep, 0, {}};
        }
    }
    const int status = result->response.statusCode;
    if (status >= 200 && status <= 299) return {DeliveryVerdict::delivered, status, {}};
    if (status >= 300 && status <= 399) {
        return {DeliveryVerdict::keep, status, printable(result->response.header("Location").value_or(""))};
    }
    if (status == 400 || status == 422) return {DeliveryVerdict::rejected, status, {}};
    if (status >= 500 && status <= 599) return {DeliveryVerdict::maybeTheBatch, status, {}};
    if (status < 100 || status > 599) return {DeliveryVerdict::maybeTheBatch, status, {}};
    return {DeliveryVerdict::keep, status, {}};
}

TelemetryService::TelemetryService(Configuration configuration)
    : m_configuration(std::move(configuration)),
      m_journal(
          m_configuration.fs, m_configuration.pendingFileURL,
          [this] { return iso8601Milliseconds(m_configuration.clock()); }, [this](const std::string& line) { log(line); }) {
    m_http = m_configuration.urlSessionFactory();
    m_sessionID = SessionID(*m_configuration.kvStore, m_configuration.userDefaultsPrefix).value();
    m_batchLimit = std::max<std::size_t>(1, m_configuration.maximumBatchSize);
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
    // Valid UTF-8, so that the event can always be encoded; no home paths.
    Event event{m_sessionID, iso8601Milliseconds(time), m_configuration.appVersion, validUTF8(name),
                std::get<JSONObject>(withValidUTF8(JSONValue(data), shortenHomePaths).value)};
    // One that still cannot be encoded (a non-finite double) would block the queue.
    auto line = journal::eventLine(event);
    if (!line) {
        log("Telemetry: dropping event that cannot be encoded: " + event.eventName + ": " + line.error().description);
        return;
    }
    if (line->size() > m_configuration.maximumEventBytes) {
        log("Telemetry: dropping event that is too large to send: " + event.eventName + " (" +
            std::to_string(line->size()) + " bytes)");
        return;
    }
    std::lock_guard journalLock(m_journalMutex);
    ensureLoadedLocked();
    // A failure is the worker's to report and mend (it rewrites the journal).
    (void)m_journal.appendEvent(*line);
    // Appended and posted under one lock: the queue's order is the journal's.
    if (post([this, event = std::move(event)]() mutable { enqueue(std::move(event)); })) ++m_recordedEvents;
}

void TelemetryService::ensureLoadedLocked() {
    if (m_loaded) return;
    m_loaded = true;
    // Posted before any recorded event: the loaded events go first.
    post([this, state = m_journal.load()]() mutable { adopt(std::move(state)); });
}

void TelemetryService::sync() {
    std::promise<void> done;
    auto future = done.get_future();
    if (!post([this, &done] { m_afterMessages.push_back([&done] { done.set_value(); }); })) return;
    future.wait();
}

TelemetryService::Snapshot TelemetryService::snapshot() {
    std::promise<Snapshot> done;
    auto future = done.get_future();
    if (!post([this, &done] {
            m_afterMessages.push_back([this, &done] {
                done.set_value(Snapshot{std::vector<Event>(m_pending.begin(), m_pending.end()), m_isFlushing,
                                        m_headAttempts, m_dropped});
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
    m_cancel.cancel();  // a request in flight ends now; its events stay pending
    m_actor.join();
    m_sender.join();
    m_joined = true;
}

// The worker threads -----------------------------------------------------------

void TelemetryService::runActor() {
    {
        std::lock_guard journalLock(m_journalMutex);
        ensureLoadedLocked();
    }
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
        if (stopping) {
            for (auto& notify : m_afterMessages) notify();
            return;
        }
        if (m_retryAt && std::chrono::steady_clock::now() >= *m_retryAt) {
            m_retryAt.reset();
            sendNext();
        }
        trimQueue();
        maintainJournal();
        for (auto& notify : m_afterMessages) notify();
        m_afterMessages.clear();
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

void TelemetryService::adopt(PendingState state) {
    m_pending.insert(m_pending.begin(), std::make_move_iterator(state.events.begin()),
                     std::make_move_iterator(state.events.end()));
    m_headAttempts = state.headAttempts;
    m_dropped = state.dropped;
    sendNext();
}

void TelemetryService::enqueue(Event event) {
    ++m_adoptedEvents;
    m_pending.push_back(std::move(event));
    sendNext();
}

void TelemetryService::appendControl(const std::string& line) {
    std::lock_guard journalLock(m_journalMutex);
    (void)m_journal.appendControl(line);
}

void TelemetryService::removeHead(std::size_t count, std::optional<DropCause> cause) {
    count = std::min(count, m_pending.size());
    if (count == 0) return;
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(count));
    m_headAttempts = 0;
    if (cause) m_dropped[*cause] += static_cast<std::int64_t>(count);
    appendControl(cause ? journal::droppedLine(count, *cause) : journal::deliveredLine(count));
}

void TelemetryService::dropExpiredHead() {
    if (m_requestInFlight) return;
    if (!m_pending.empty() && m_headAttempts >= m_configuration.maximumAttempts) {
        log("Telemetry: dropping event after " + std::to_string(m_headAttempts) +
            " failed attempts: " + m_pending.front().eventName);
        removeHead(1, DropCause::tooManyAttempts);
    }
    std::size_t old = 0;
    const auto now = m_configuration.clock();
    while (old < m_pending.size()) {
        const auto time = parseClientTimestamp(m_pending[old].clientTimestamp);
        if (!time || now - *time <= m_configuration.maximumAge) break;
        ++old;
    }
    if (old == 0) return;
    log("Telemetry: dropping " + std::to_string(old) + " events older than " +
        std::to_string(m_configuration.maximumAge.count() / 24) + " days");
    removeHead(old, DropCause::tooOld);
}

TelemetryService::Event TelemetryService::dropReport() const {
    JSONObject data{{"count", m_dropped.total()}};
    for (const DropCause cause : kDropCauses) data.emplace(dropCauseName(cause), m_dropped[cause]);
    return Event{m_sessionID, iso8601Milliseconds(m_configuration.clock()), m_configuration.appVersion,
                 kDropReportEvent, std::move(data)};
}

void TelemetryService::sendNext() {
    if (m_requestInFlight || m_retryAt) return;
    dropExpiredHead();

    std::string body = "[";
    std::size_t count = 0;
    const auto add = [&body](const std::string& record) {
        if (body.size() > 1) body += ',';
        body += record;
    };
    while (count < m_pending.size() && count < m_batchLimit) {
        auto record = encodeWireRecord(m_pending[count], m_configuration.appID);
        if (!record) {
            // Cannot happen: record() and the journal check every event.
            log("Telemetry: dropping event that cannot be encoded: " + m_pending[count].eventName);
            if (count > 0) break;
            removeHead(1, DropCause::rejected);
            continue;
        }
        if (count > 0 && body.size() + record->size() + 1 > m_configuration.maximumBatchBytes) break;
        add(*record);
        ++count;
    }
    if (m_dropped.total() > 0 && count < m_batchLimit) {
        if (auto record = encodeWireRecord(dropReport(), m_configuration.appID);
            record && (count == 0 || body.size() + record->size() + 1 <= m_configuration.maximumBatchBytes)) {
            add(*record);
            m_reportInFlight = m_dropped;
        }
    }
    if (count == 0 && !m_reportInFlight) {
        m_isFlushing = false;
        return;
    }
    body += ']';
    m_inFlight = count;
    m_requestInFlight = true;
    m_isFlushing = true;

    HTTPRequest request;
    request.url = m_configuration.endpointURL;
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}, {"Authorization", "Bearer " + m_configuration.anonKey}};
    request.body = std::move(body);
    request.timeout = m_configuration.requestTimeout;
    request.resourceTimeout = m_configuration.resourceTimeout;
    // A redirected POST may come back a GET, or without its key: neither
    // would deliver, and the answer would blame the events.
    request.followRedirects = false;
    {
        std::lock_guard lock(m_mutex);
        m_outgoing = std::move(request);
    }
    m_senderWake.notify_one();
}

void TelemetryService::retryLater() {
    m_failures = std::min(m_failures + 1, 62);
    auto pause = m_configuration.retryPause;
    for (int i = 1; i < m_failures && pause < m_configuration.maximumRetryPause; ++i) pause *= 2;
    pause = std::min(pause, m_configuration.maximumRetryPause);
    m_retryAt = std::chrono::steady_clock::now() + pause;
}

void TelemetryService::reportDelivered(const DropCounts& reported) {
    m_dropped -= reported;
    m_reportFailures = 0;
    appendControl(journal::reportedLine(reported));
}

void TelemetryService::noteProblem(const std::string& line) {
    if (line == m_lastProblem) return;
    m_lastProblem = line;
    log(line);
}

void TelemetryService::finishAttempt(const Result<HTTPDataResult>& result) {
    const std::size_t count = std::min(m_inFlight, m_pending.size());
    const auto report = m_reportInFlight;
    m_inFlight = 0;
    m_requestInFlight = false;
    m_reportInFlight.reset();
    const std::size_t size = count + (report ? 1 : 0);
    const DeliveryOutcome outcome = classifyDelivery(result);

    switch (outcome.verdict) {
        case DeliveryVerdict::cancelled: return;  // shutting down; everything stays pending
        case DeliveryVerdict::delivered:
            removeHead(count, std::nullopt);
            if (report) reportDelivered(*report);
            m_failures = 0;
            m_lastProblem.clear();
            m_batchLimit = std::min(std::max<std::size_t>(1, m_configuration.maximumBatchSize), m_batchLimit * 2);
            break;
        case DeliveryVerdict::rejected:
            if (size > 1) {
                m_batchLimit = std::max<std::size_t>(1, size / 2);
            } else if (size == 1) {
                log("Telemetry: dropping event after " + std::to_string(outcome.status) +
                    " (likely event_name or schema mismatch)");
                if (count == 1) {
                    removeHead(1, DropCause::rejected);
                } else {
                    reportDelivered(*report);  // the report itself: given up on
                }
            }
            break;  // the answer came from a working endpoint: on at once
        case DeliveryVerdict::maybeTheBatch:
            if (size > 1) {
                m_batchLimit = std::max<std::size_t>(1, size / 2);
            } else if (count == 1) {
                ++m_headAttempts;
                appendControl(journal::failedAttemptLine());
                if (m_headAttempts >= m_configuration.maximumAttempts) {
                    log("Telemetry: dropping event after " + std::to_string(m_headAttempts) +
                        " failed attempts: " + m_pending.front().eventName);
                    removeHead(1, DropCause::tooManyAttempts);
                }
            } else if (report && ++m_reportFailures >= m_configuration.maximumAttempts) {
                log("Telemetry: dropping the drop report after " + std::to_string(m_reportFailures) + " failed attempts");
                reportDelivered(*report);
            }
            retryLater();
            break;
        case DeliveryVerdict::keep:
            if (outcome.status >= 300 && outcome.status <= 399) {
                noteProblem("Telemetry: keeping events: the endpoint redirected to " +
                            (outcome.location.empty() ? std::string("nowhere") : outcome.location) + " (" +
                            std::to_string(outcome.status) + ")");
            } else if (outcome.status != 0) {
                noteProblem("Telemetry: keeping events after " + std::to_string(outcome.status) +
                            " (check the endpoint and the key)");
            }
            if (outcome.status == 413 && size > 1) m_batchLimit = std::max<std::size_t>(1, size / 2);
            retryLater();
            break;
    }
    sendNext();
}

void TelemetryService::trimQueue() {
    // While a request is in flight its events, the oldest, may be about to
    // be delivered: the queue may then grow to twice the cap before they
    // are dropped too (its answer then speaks only for those left).
    const std::size_t cap = m_configuration.maximumQueueLength;
    if (m_pending.size() <= (m_requestInFlight ? 2 * cap : cap)) return;
    const std::size_t excess = m_pending.size() - cap;
    log("Telemetry: the queue is full; dropping the oldest " + std::to_string(excess) + " events");
    m_inFlight -= std::min(m_inFlight, excess);
    removeHead(excess, DropCause::queueFull);
}

void TelemetryService::maintainJournal() {
    std::lock_guard journalLock(m_journalMutex);
    // Events recorded but not yet taken in are in the journal only: a
    // rewrite now would lose them. The message that takes them in comes
    // next, and this runs again after it.
    if (m_recordedEvents != m_adoptedEvents) return;
    const bool nothingPending = m_pending.empty() && m_dropped.total() == 0;
    const bool due = m_journal.needsRewrite() || (nothingPending && m_journal.lineCount() > 0) ||
                     m_journal.lineCount() > kJournalSlack + 2 * m_pending.size();
    if (!due) return;
    const auto appendError = m_journal.lastError();
    if (auto rewritten = m_journal.rewrite(PendingState{m_pending, m_headAttempts, m_dropped}); !rewritten) {
        if (!m_reportedJournalError) log("Telemetry: couldn't persist pending events: " + rewritten.error().description);
        m_reportedJournalError = true;
        return;
    }
    if (appendError && !m_reportedJournalError) {
        // An append failed; the rewrite has mended the journal.
        log("Telemetry: couldn't persist pending events: " + appendError->description);
    }
    m_reportedJournalError = false;
}

void TelemetryService::log(const std::string& line) const {
    if (m_configuration.log) return m_configuration.log(line);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace lumo
