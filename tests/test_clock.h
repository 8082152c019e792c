// Time in tests: waits that end as soon as an observable event has
// happened, and upper bounds on how long a step may take.
//
// Under ThreadSanitizer (the build defines HEARKENER_TSAN) every step runs
// many times slower: there a bound is widened so that it only catches a
// hang; the behaviour it comes with is checked all the same.
#pragma once

#include <chrono>
#include <thread>

namespace test_clock {

#ifdef HEARKENER_TSAN
constexpr double kBoundScale = 20;
#else
constexpr double kBoundScale = 1;
#endif

// The upper bound, in milliseconds, for a step that takes at most
// `milliseconds` in an ordinary build.
constexpr double boundMs(double milliseconds) {
  return milliseconds * kBoundScale;
}

// Milliseconds from `start` to `end`.
inline double msBetween(std::chrono::steady_clock::time_point start,
                        std::chrono::steady_clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Polls `condition` every millisecond until it holds (true) or `timeoutMs`
// passed (false). The deadline is generous: it only ends a wait for an
// event that never comes.
template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 10000) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace test_clock
