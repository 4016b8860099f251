#include <pthread.h>

#include <atomic>
#include <csignal>

#include "platform/stop_signal.h"

namespace halcyra::platform {
namespace {

// Lock-free, so the signal handler may set it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnStopSignal(int) { stopRequested.store(true); }

}  // namespace

bool InstallStopHandlers() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
  }();
  return installed;
}

bool StopRequested() { return stopRequested.load(); }

void RequestStop() { stopRequested.store(true); }

void KeepStopSignalsOffThisThread() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
}

}  // namespace halcyra::platform
