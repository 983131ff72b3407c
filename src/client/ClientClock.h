// Deadlines of the client library: every wait is bounded by a point in time, and each system call
// in between gets what is left of it.
#pragma once

#include <chrono>

namespace lyrlink::client
{

using Clock = std::chrono::steady_clock;

inline Clock::time_point deadlineIn (int timeoutMs) { return Clock::now() + std::chrono::milliseconds (timeoutMs); }

/** The milliseconds left until deadline, 0 once it has passed. */
inline int msLeft (Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (deadline - Clock::now()).count();
    return left > 0 ? static_cast<int> (left) : 0;
}

} // namespace lyrlink::client
