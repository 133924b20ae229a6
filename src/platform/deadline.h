// A time limit as a deadline: a step given N milliseconds ends at one point
// in time, and each wait inside it (a poll, a select, a stream's receive)
// gets only what is left, however many waits the step takes.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

namespace platform {

using Clock = std::chrono::steady_clock;

/// The point `limit` from now.
inline Clock::time_point deadline_in(std::chrono::milliseconds limit) {
  return Clock::now() + limit;
}

/// What is left until `deadline` in whole milliseconds, as poll, select and
/// the streams take it; 0 once it has passed.
inline int milliseconds_left(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

} // namespace platform
