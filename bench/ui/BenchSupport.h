// What the window benchmarks share.
#pragma once

#include <sys/resource.h>

#include <cstdlib>

namespace lumo::bench {

// The process's peak resident set size in kilobytes.
inline long peakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#ifdef __APPLE__
    return usage.ru_maxrss / 1024;  // bytes there
#else
    return usage.ru_maxrss;
#endif
}

// Picks Qt's offscreen platform when the machine has no display to show a
// window on (a headless build machine), as the widget tests do; an explicit
// QT_QPA_PLATFORM is kept. Call before the QApplication exists (children
// spawned afterwards inherit the choice).
inline void useOffscreenWithoutDisplay() {
#ifndef __APPLE__
    const auto unset = [](const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr || *value == '\0';
    };
    if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
}

}  // namespace lumo::bench
