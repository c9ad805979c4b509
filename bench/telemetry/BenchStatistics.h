// Per-call timings and their quantiles, for the telemetry timing programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace lumo::bench {

using Clock = std::chrono::steady_clock;

struct Quantiles {
    double median = 0;  // microseconds
    double p99 = 0;
};

inline Quantiles quantiles(std::vector<double> microseconds) {
    if (microseconds.empty()) return {};
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double q) { return microseconds[static_cast<std::size_t>(q * double(microseconds.size() - 1))]; };
    return {at(0.5), at(0.99)};
}

inline double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace lumo::bench
