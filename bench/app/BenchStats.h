#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double median(std::vector<double> samples) {
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const size_t middle = samples.size() / 2;
    if (samples.size() % 2 == 1)
        return samples[middle];
    return (samples[middle - 1] + samples[middle]) / 2.0;
}

// One figure per line, the same shape as bench/run's own lines.
inline void printFigure(const char *label, const std::vector<double> &samples, const char *unit,
                        const char *target) {
    std::printf("%-58s median %9.3f %s  (N=%zu)  target %s\n", label, median(samples), unit,
                samples.size(), target);
    std::fflush(stdout);
}

} // namespace bench
