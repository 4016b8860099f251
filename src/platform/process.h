// Child processes and the running program's own place, for the console tools (the scenario runner
// starts the station server and the speech synthesiser). Child processes are implemented for POSIX
// only (the scenario runner, their one user, is built for Linux); ExecutableFolder,
// SetEnvironmentVariableUtf8 and StandardErrorIsTerminal for both.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halcyra::platform {

// A started program. Destroying a ChildProcess that still runs stops it (Stop with a short grace).
class ChildProcess {
 public:
  // Starts program (looked up in PATH when it holds no '/') with arguments. Its standard output and
  // error go to outputFile (created or truncated); standard input reads nothing. Null with the
  // reason in error when it cannot be started (for instance the program does not exist).
  static std::unique_ptr<ChildProcess> Start(const std::string& program,
                                             const std::vector<std::string>& arguments,
                                             const std::string& outputFile, std::string* error);
  virtual ~ChildProcess() = default;

  // The exit code once the program has ended (128 + signal number when a signal ended it), or
  // nothing while it still runs after waiting at most timeoutMs milliseconds (negative: no limit).
  virtual std::optional<int> Wait(int timeoutMs) = 0;
  // Asks the program to stop (SIGTERM), waits at most graceMs, then kills it. Returns its exit code.
  virtual int Stop(int graceMs) = 0;
  virtual int Pid() const = 0;
};

// The folder of the running program (UTF-8, no trailing separator); empty when it cannot be told.
std::string ExecutableFolder();

// Sets (or, with value null, removes) one environment variable of this process. False on failure.
bool SetEnvironmentVariableUtf8(const char* name, const char* value);

// True when the standard error stream goes to a terminal (a line there can be rewritten in place).
bool StandardErrorIsTerminal();

}  // namespace halcyra::platform
