// A small cancellation token shared between whoever may cancel a piece of work
// and the work itself.
//
//   CancelSource source;
//   worker = std::thread([token = source.token()] {
//       while (!token.isCancelled()) { ... }
//       if (token.sleepFor(500ms)) return;  // woken early by cancel()
//   });
//   source.cancel();  // idempotent, callable from any thread
//
// Callbacks registered with onCancel() run exactly once: on the cancelling
// thread, or at once on the registering thread when the token is already
// cancelled. Cancellation is cooperative and racy by nature: work may still
// produce results after cancel() returns.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace lumo {

class CancelToken {
public:
    // A token that is never cancelled.
    CancelToken();

    bool isCancelled() const;

    // Runs `callback` once when the token is cancelled (immediately if it already is).
    void onCancel(std::function<void()> callback) const;

    // Sleeps for `duration` or until cancelled; returns true when cancelled.
    bool sleepFor(std::chrono::milliseconds duration) const;

private:
    friend class CancelSource;
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool cancelled = false;                        // guarded by mutex
        std::vector<std::function<void()>> callbacks;  // guarded by mutex
    };
    explicit CancelToken(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
};

class CancelSource {
public:
    CancelSource();
    CancelToken token() const { return CancelToken(m_state); }
    void cancel() const;
    bool isCancelled() const { return token().isCancelled(); }

private:
    std::shared_ptr<CancelToken::State> m_state;
};

}  // namespace lumo
