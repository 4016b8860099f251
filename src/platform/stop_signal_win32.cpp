#include <windows.h>

#include <atomic>

#include "platform/stop_signal.h"

namespace halcyra::platform {
namespace {

std::atomic<bool> stopRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopRequested.store(true);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool InstallStopHandlers() {
  static const bool installed = SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != 0;
  return installed;
}

bool StopRequested() { return stopRequested.load(); }

void RequestStop() { stopRequested.store(true); }

void KeepStopSignalsOffThisThread() {}

}  // namespace halcyra::platform
