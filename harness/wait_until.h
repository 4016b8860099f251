// Waits for a condition that another thread makes true, looking every few milliseconds.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace halcyra::testing {

// True as soon as condition() is; false when it still is not after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

}  // namespace halcyra::testing
