// What the window benchmarks share.
#pragma once

#include <sys/resource.h>

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

}  // namespace lumo::bench
