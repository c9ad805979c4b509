#include "platform/ProcessCancellation.h"

namespace lumo {

void LiveProcessCancellation::cancel() {
    std::lock_guard lock(m_lock);
    // Only the first cancel signals: a child busy cleaning up after SIGTERM
    // must not get a second one because the stream's end cancels again.
    if (m_canceled) return;
    m_canceled = true;
    if (m_process) m_process->terminate();
}

void LiveProcessCancellation::attach(std::shared_ptr<TerminableChild> child) {
    std::lock_guard lock(m_lock);
    if (m_canceled && child) child->terminate();
    m_process = std::move(child);
}

bool LiveProcessCancellation::isCanceled() const {
    std::lock_guard lock(m_lock);
    return m_canceled;
}

void CancellableProcess::attach(std::shared_ptr<ProcessCancellation> handle) {
    std::lock_guard lock(m_lock);
    m_current = std::move(handle);
    if (m_canceled && m_current) m_current->cancel();
}

void CancellableProcess::cancel() {
    std::shared_ptr<ProcessCancellation> current;
    {
        std::lock_guard lock(m_lock);
        m_canceled = true;
        current = m_current;
    }
    if (current) current->cancel();
}

bool CancellableProcess::isCanceled() const {
    std::lock_guard lock(m_lock);
    return m_canceled;
}

}  // namespace lumo
