// Plumbing shared by the installer runners (the installer package, Homebrew
// and the Homebrew installer): how a run is cancelled, the slow-response
// watchdog, forwarding a child's output, and the text helpers their
// transcripts need.
//
// A run is plain sequential code on its own worker thread that feeds an
// EventSink. It is cancelled by the caller's CancelToken or by the consumer
// abandoning the stream; either one stops the HTTP request or child process of
// the step now running, and a step started afterwards stops at once.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "platform/CancelToken.h"
#include "platform/EventStream.h"
#include "platform/ProcessCancellation.h"
#include "platform/ProcessRunning.h"
#include "platform/ProcessTypes.h"

namespace lumo {

class RunCancellation {
public:
    RunCancellation() : m_process(std::make_shared<CancellableProcess>()) {}

    // Stops whatever step is running now and every later one. Idempotent.
    void cancel() {
        m_source.cancel();
        m_process->cancel();
    }
    bool isCanceled() const { return m_source.isCancelled(); }
    // For HTTP requests and sleeps.
    CancelToken token() const { return m_source.token(); }
    // For child processes: each step attaches its handle here.
    CancellableProcess& process() const { return *m_process; }

    // A cancellation wired to the caller's token and to the end of `sink`'s stream.
    template <class Event>
    static std::shared_ptr<RunCancellation> forStream(const EventSink<Event>& sink, const CancelToken& external) {
        auto run = std::make_shared<RunCancellation>();
        std::weak_ptr<RunCancellation> weak = run;
        sink.onTermination([weak] {
            if (auto strong = weak.lock()) strong->cancel();
        });
        external.onCancel([weak] {
            if (auto strong = weak.lock()) strong->cancel();
        });
        return run;
    }

private:
    CancelSource m_source;
    std::shared_ptr<CancellableProcess> m_process;
};

// Calls `fire` once after `delay` unless stopped first. stop() (and the
// destructor) waits for the timer thread, so a stopped watchdog never fires
// afterwards.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds delay, std::function<void()> fire, const CancelToken& runToken)
        : m_thread([delay, fire = std::move(fire), stopToken = m_stop.token(), runToken] {
              if (!stopToken.sleepFor(delay) && !runToken.isCancelled()) fire();
          }) {}
    ~Watchdog() { stop(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void stop() {
        m_stop.cancel();
        if (m_thread.joinable()) m_thread.join();
    }

private:
    CancelSource m_stop;  // declared before m_thread: the thread reads it
    std::thread m_thread;
};

// What a child forwarded by forwardChildOutput() did.
struct ForwardedChild {
    int exitCode = -1;  // -1 until it exits, and when it could not start
    bool started = true;
    // Its lines in lower case, each followed by a line feed; empty when it
    // could not start.
    std::string transcript;
};

// Attaches `child` to the run, yields each of its lines as Output and returns
// once it has ended. A child that cannot start yields one line,
// "Failed to start <what>: <message>".
ForwardedChild forwardChildOutput(ProcessStream child, const std::string& what, const EventSink<StreamEvent>& sink,
                                  const RunCancellation& run);

std::string lowercased(std::string_view text);
// Without white space and line breaks at either end.
std::string trimmed(std::string_view text);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWith(std::string_view text, std::string_view suffix);
bool containsAny(std::string_view text, std::initializer_list<std::string_view> needles);

}  // namespace lumo
