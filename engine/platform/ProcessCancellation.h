// Cancellation handles for running children.
//
// LiveProcessCancellation belongs to one streamed run: the runner attaches the
// launched child, and cancel() (from any thread, any number of times) sends it
// SIGTERM -- at once, or as soon as it is attached if cancel() came first.
//
// CancellableProcess belongs to one multi-step job (Homebrew, the installer
// package): each step attaches its handle in turn, so one Cancel button stops
// whichever step is running, and a step attached after the cancel is stopped
// at once. Lock order: CancellableProcess first, then the step's handle.
#pragma once

#include <memory>
#include <mutex>

namespace lumo {

// Something that can be asked to stop.
class ProcessCancellation {
public:
    virtual ~ProcessCancellation() = default;
    // Asks the running child (if any) to stop; a child attached later stops at once.
    virtual void cancel() = 0;
};

// A launched child as the cancellation handle sees it.
class TerminableChild {
public:
    virtual ~TerminableChild() = default;
    // Sends the terminate request (SIGTERM to the child's process group).
    // Does nothing once the child has been reaped.
    virtual void terminate() = 0;
};

class LiveProcessCancellation final : public ProcessCancellation {
public:
    void cancel() override;
    void attach(std::shared_ptr<TerminableChild> child);
    bool isCanceled() const;

private:
    mutable std::mutex m_lock;
    std::shared_ptr<TerminableChild> m_process;  // guarded by m_lock
    bool m_canceled = false;                     // guarded by m_lock
};

class CancellableProcess {
public:
    void attach(std::shared_ptr<ProcessCancellation> handle);
    void cancel();
    bool isCanceled() const;

private:
    mutable std::mutex m_lock;
    std::shared_ptr<ProcessCancellation> m_current;  // guarded by m_lock
    bool m_canceled = false;                         // guarded by m_lock
};

}  // namespace lumo
