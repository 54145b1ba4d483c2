// Waiting in tests for something that happens on another thread or in another process, with a
// bound that only a hang reaches.
#pragma once

#include <chrono>
#include <thread>

namespace fiscal_test {

// How long a test waits for what takes milliseconds before it calls it a hang: a sanitizer build
// on a loaded two-core machine needs far more than a few seconds now and then.
inline constexpr std::chrono::seconds kPatience{30};

// Looks at `condition` every few milliseconds until it holds; false when `limit` passed first.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = kPatience) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace fiscal_test
