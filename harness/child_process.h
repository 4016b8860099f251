// A program started as a child process: the tests read its standard output line by line through a
// pipe; the scenario runner has it written to a file. POSIX and Win32 implementations are chosen
// by file suffix, like host_folders_*.cpp.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra::testing {

class ChildProcess {
 public:
  // Starts program (looked up in PATH when it names no folder) with the arguments; its standard
  // input reads nothing. Without outputFile its standard output is read through ReadLine and its
  // standard error is this process's; with one, both go to that file (created or truncated).
  // started() tells whether it could be started, error() why not.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputFile = "");
  ~ChildProcess();  // stops the program if it still runs (Stop with a grace of 2 s)
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // The next line of standard output (without line break) within timeoutMs; nothing on time-out,
  // when the program closed its output or when the output goes to a file.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Waits at most timeoutMs (negative: no limit) for the program to end by itself. Its exit code
  // (128 + signal number when a signal ended it), or nothing while it still runs.
  std::optional<int> WaitForExit(int timeoutMs);
  // Asks the program to stop (SIGTERM), waits at most graceMs, then kills it; on Windows it is
  // ended at once. Returns its exit code, or -1 when it never started.
  int Stop(int graceMs);

 private:
  static constexpr int kDestructorGraceMs = 2000;

  // Asks the program to end, or with force kills it (on Windows both end it at once).
  void End(bool force);
  // Appends to pending_ what the program writes within timeoutMs (which may be nothing). False when
  // its output is closed.
  bool ReadOutput(int timeoutMs);
  // Removes and returns the first complete line of pending_ (without CR LF), if there is one.
  std::optional<std::string> TakePendingLine();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
  std::string pending_;  // output read but not yet returned as a line
  std::optional<int> exitCode_;
};

// Where the test program finds the built station server program.
std::string StationServerProgramPath();

}  // namespace halcyra::testing
