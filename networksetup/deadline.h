#pragma once

#include <chrono>

namespace zentrel::networksetup {

// The application kills a helper that has not ended after 10 s, so every wait here ends well
// before that and is reported as a failure.
using Deadline = std::chrono::steady_clock::time_point;

inline Deadline deadlineIn(std::chrono::milliseconds span) {
    return std::chrono::steady_clock::now() + span;
}

inline Deadline earlier(Deadline a, Deadline b) {
    return a < b ? a : b;
}

// Milliseconds until the deadline, never negative.
inline int millisecondsLeft(Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace zentrel::networksetup
