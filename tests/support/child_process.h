// A program started as a child process whose standard output the test reads line by line.
// POSIX and Win32 implementations are chosen by file suffix, like host_folders_*.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra::testing {

class ChildProcess {
 public:
  // Starts program with the arguments; started() tells whether it runs.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~ChildProcess();  // stops the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  // The next line of standard output (without line break) within timeoutMs; nothing on time-out
  // or when the program closed its output.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Waits at most timeoutMs for the program to end by itself; its exit code, or nothing when it
  // still runs (it is then left running).
  std::optional<int> WaitForExit(int timeoutMs);
  // Asks the program to stop (SIGTERM; on Windows it is ended) and waits for it. Returns its exit
  // code, or -1 when it was not running.
  int Stop();

 private:
  // Removes and returns the first complete line of pending_ (without CR LF), if there is one.
  std::optional<std::string> TakePendingLine();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string pending_;  // output read but not yet returned as a line
};

inline std::optional<std::string> ChildProcess::TakePendingLine() {
  size_t end = pending_.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Where the test program finds the built station server program.
std::string StationServerProgramPath();

}  // namespace halcyra::testing
