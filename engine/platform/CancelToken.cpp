#include "platform/CancelToken.h"

namespace lumo {

CancelToken::CancelToken() : m_state(std::make_shared<State>()) {}

bool CancelToken::isCancelled() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

void CancelToken::onCancel(std::function<void()> callback) const {
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->cancelled) {
            m_state->callbacks.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

bool CancelToken::sleepFor(std::chrono::milliseconds duration) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, duration, [&] { return m_state->cancelled; });
}

CancelSource::CancelSource() : m_state(std::make_shared<CancelToken::State>()) {}

void CancelSource::cancel() const {
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->cancelled) return;
        m_state->cancelled = true;
        callbacks.swap(m_state->callbacks);
    }
    m_state->changed.notify_all();
    for (auto& callback : callbacks) callback();
}

}  // namespace lumo
