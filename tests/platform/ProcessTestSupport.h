// Helpers shared by the process runner and shell runner tests.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/live/LiveProcessRunner.h"
#include "support/TestSupport.h"

namespace lumo::test {

// Consumes a stream nobody else holds to its end.
template <class T>
std::vector<T> collect(EventStream<T>&& stream) {
    return collect(stream);
}

inline bool isGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Whether `pid` has gone away within 20 seconds. A grandchild that has been
// re-parented may linger as a zombie if nothing reaps orphans in this
// environment; that still counts as terminated when `zombieCounts`.
inline bool waitUntilGone(pid_t pid, bool zombieCounts) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
        if (isGone(pid)) return true;
        if (zombieCounts && round % 10 == 9) {
            auto state = LiveProcessRunner().run("/bin/sh", {"-c", "ps -o stat= -p " + std::to_string(pid)});
            if (state && state->stdoutText.find('Z') != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace lumo::test
