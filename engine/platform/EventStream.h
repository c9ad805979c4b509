// EventStream<T>: an unbounded, single-consumer channel of events from a
// producer thread to one consumer.
//
// Every long-running operation in the engine (a streamed child process, an
// installer run, a Homebrew run) reports through one of these. The producer
// holds an EventSink<T>; the consumer holds the EventStream<T>.
//
//   auto [stream, sink] = makeEventStream<StreamEvent>();
//   sink.onTermination([child] { child->terminate(); });
//   std::thread([sink] { sink.yield(Output{"hello"}); sink.yield(Completed{0}); sink.finish(); }).detach();
//   for (const StreamEvent& event : stream) { ... }   // blocks between events
//
// Contracts:
//  - yield() never blocks: the buffer is unbounded. It returns false once the
//    stream has terminated (finished, or abandoned by its consumer), and the
//    value is dropped.
//  - The termination callback runs exactly once, however the stream ends: when
//    the producer calls finish(), when the consumer calls cancel(), or when the
//    consumer destroys its EventStream. It runs on the thread that ended the
//    stream, outside the stream's lock.
//  - Events already buffered when the producer finishes are still delivered;
//    after cancel() the consumer sees no more events.
//  - The consumer may be woken without blocking a thread: setReadyHandler()
//    installs a callback that runs (on the producer's thread) when an event
//    arrives in an empty buffer, and at the end; a UI then takes the whole
//    burst with drain(), so a flood of lines costs one wake-up per batch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace lumo {

template <class T>
class EventStream;
template <class T>
class EventSink;
template <class T>
std::pair<EventStream<T>, EventSink<T>> makeEventStream();

namespace detail {

template <class T>
struct EventStreamState {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<T> buffer;                   // guarded by mutex
    bool finished = false;                  // producer is done; guarded by mutex
    bool cancelled = false;                 // consumer is gone; guarded by mutex
    bool terminationRan = false;            // guarded by mutex
    std::function<void()> onTermination;    // guarded by mutex
    std::function<void()> onReady;          // guarded by mutex

    // Marks the end and hands back the termination callback to run (once).
    std::function<void()> terminateLocked() {
        if (terminationRan) return {};
        terminationRan = true;
        return std::exchange(onTermination, {});
    }
};

}  // namespace detail

// The producer's end. Copyable; all copies feed the same stream.
template <class T>
class EventSink {
public:
    // Appends an event. Returns false (and drops it) once the stream has ended.
    bool yield(T value) const {
        std::function<void()> ready;
        bool wasEmpty = false;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->finished || m_state->cancelled) return false;
            wasEmpty = m_state->buffer.empty();
            m_state->buffer.push_back(std::move(value));
            if (wasEmpty) ready = m_state->onReady;
        }
        // The single consumer only ever waits on an empty buffer, and a drain()
        // takes everything, so only the first event of a burst needs a wake-up.
        if (!wasEmpty) return true;
        m_state->changed.notify_all();
        if (ready) ready();
        return true;
    }

    // Ends the stream. Buffered events are still delivered. Idempotent.
    void finish() const {
        std::function<void()> termination;
        std::function<void()> ready;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->finished || m_state->cancelled) return;
            m_state->finished = true;
            termination = m_state->terminateLocked();
            ready = m_state->onReady;
        }
        m_state->changed.notify_all();
        if (termination) termination();
        if (ready) ready();
    }

    // True once the consumer has abandoned the stream.
    bool isCancelled() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->cancelled;
    }

    // True once the stream has ended for any reason.
    bool isTerminated() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->finished || m_state->cancelled;
    }

    // Installs the termination callback. If the stream has already ended, the
    // callback runs at once on this thread.
    void onTermination(std::function<void()> callback) const {
        {
            std::lock_guard lock(m_state->mutex);
            if (!m_state->terminationRan) {
                m_state->onTermination = std::move(callback);
                return;
            }
        }
        callback();
    }

private:
    template <class U>
    friend std::pair<EventStream<U>, EventSink<U>> makeEventStream();
    explicit EventSink(std::shared_ptr<detail::EventStreamState<T>> state) : m_state(std::move(state)) {}
    std::shared_ptr<detail::EventStreamState<T>> m_state;
};

// The consumer's end. Move-only; destroying it abandons the stream.
template <class T>
class EventStream {
public:
    EventStream(EventStream&&) noexcept = default;
    EventStream& operator=(EventStream&& other) noexcept {
        if (this != &other) {
            cancel();
            m_state = std::move(other.m_state);
        }
        return *this;
    }
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;
    ~EventStream() { cancel(); }

    // Blocks until the next event; nothing once the stream has ended.
    std::optional<T> next() {
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait(lock, [&] { return !m_state->buffer.empty() || m_state->finished || m_state->cancelled; });
        return popLocked();
    }

    // Waits at most `timeout` for the next event.
    std::optional<T> next(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait_for(lock, timeout,
                                  [&] { return !m_state->buffer.empty() || m_state->finished || m_state->cancelled; });
        return popLocked();
    }

    // Takes every event buffered now, without blocking.
    std::vector<T> drain() {
        std::vector<T> events;
        std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled) return events;
        events.reserve(m_state->buffer.size());
        for (auto& event : m_state->buffer) events.push_back(std::move(event));
        m_state->buffer.clear();
        return events;
    }

    // True when nothing more will ever arrive (finished and drained, or cancelled).
    bool isEnded() const {
        std::lock_guard lock(m_state->mutex);
        return m_state->cancelled || (m_state->finished && m_state->buffer.empty());
    }

    // Abandons the stream: buffered events are dropped and the termination
    // callback runs (if the producer has not finished first). Idempotent.
    void cancel() {
        if (!m_state) return;  // moved-from
        std::function<void()> termination;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->cancelled) return;
            m_state->cancelled = true;
            m_state->buffer.clear();
            m_state->onReady = nullptr;
            termination = m_state->terminateLocked();
        }
        m_state->changed.notify_all();
        if (termination) termination();
    }

    // Called when an event arrives in an empty buffer and at the end, on the
    // producer's thread. Runs at once if events are already waiting or the
    // stream has ended. The handler must drain() everything it is woken for.
    void setReadyHandler(std::function<void()> handler) {
        bool pending = false;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->onReady = handler;
            pending = !m_state->buffer.empty() || m_state->finished;
        }
        if (pending && handler) handler();
    }

    class Iterator {
    public:
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        explicit Iterator(EventStream* stream) : m_stream(stream) { advance(); }
        const T& operator*() const { return *m_current; }
        const T* operator->() const { return &*m_current; }
        Iterator& operator++() { advance(); return *this; }
        void operator++(int) { advance(); }
        bool operator==(const Iterator& other) const { return !m_current && !other.m_current; }

    private:
        void advance() { m_current = m_stream->next(); }
        EventStream* m_stream = nullptr;
        std::optional<T> m_current;
    };
    Iterator begin() { return Iterator(this); }
    Iterator end() { return Iterator(); }

private:
    template <class U>
    friend std::pair<EventStream<U>, EventSink<U>> makeEventStream();
    explicit EventStream(std::shared_ptr<detail::EventStreamState<T>> state) : m_state(std::move(state)) {}

    std::optional<T> popLocked() {
        if (m_state->cancelled || m_state->buffer.empty()) return std::nullopt;
        T value = std::move(m_state->buffer.front());
        m_state->buffer.pop_front();
        return value;
    }

    std::shared_ptr<detail::EventStreamState<T>> m_state;
};

template <class T>
std::pair<EventStream<T>, EventSink<T>> makeEventStream() {
    auto state = std::make_shared<detail::EventStreamState<T>>();
    return {EventStream<T>(state), EventSink<T>(state)};
}

}  // namespace lumo
