// What the POSIX and Win32 implementations (child_process_posix.cpp, child_process_win32.cpp) share.
#include "child_process.h"

#include <chrono>

namespace halcyra::testing {

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::optional<std::string> line = TakePendingLine()) return line;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadOutput(static_cast<int>(left.count()))) return std::nullopt;
  }
}

std::optional<std::string> ChildProcess::TakePendingLine() {
  size_t end = pending_.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int ChildProcess::Stop(int graceMs) {
  if (!started()) return -1;
  if (!exitCode_) {
    End(false);
    if (!WaitForExit(graceMs)) {
      End(true);
      WaitForExit(-1);
    }
  }
  return exitCode_.value_or(-1);
}

std::string StationServerProgramPath() { return HALCYRA_SERVER_PATH; }

}  // namespace halcyra::testing
