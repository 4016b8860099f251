// Whether the simulator is alive: the watchdog counter counts refresh ticks since the last
// SET_LLALT (the simulator link stores 0, the refresh cycle increments it), and the alive flag is
// cleared by the refresh cycle once the counter has run out. Both are single atomic integers.
#pragma once

#include <atomic>

namespace halcyra {

struct SimulatorStatus {
  std::atomic<int> watchdogCounter{0};  // ticks since the last SET_LLALT
  std::atomic<int> alive{1};            // 1 while the simulator sends positions
};

}  // namespace halcyra
