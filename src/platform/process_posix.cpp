#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace halcyra::platform {
namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

class PosixChildProcess : public ChildProcess {
 public:
  explicit PosixChildProcess(pid_t pid) : pid_(pid) {}
  ~PosixChildProcess() override {
    if (!exitCode_) Stop(2000);
  }

  std::optional<int> Wait(int timeoutMs) override {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (!exitCode_) {
      int status = 0;
      pid_t done = waitpid(pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
      if (done == pid_) {
        exitCode_ = ExitCodeOf(status);
      } else if (done < 0 && errno != EINTR) {
        exitCode_ = -1;  // not our child any more: nothing left to wait for
      } else if (timeoutMs >= 0) {
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return exitCode_;
  }

  int Stop(int graceMs) override {
    if (exitCode_) return *exitCode_;
    kill(pid_, SIGTERM);
    if (Wait(graceMs)) return *exitCode_;
    kill(pid_, SIGKILL);
    return Wait(-1).value_or(-1);
  }

  int Pid() const override { return static_cast<int>(pid_); }

 private:
  pid_t pid_;
  std::optional<int> exitCode_;
};

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& arguments,
                                                  const std::string& outputFile, std::string* error) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

  pid_t pid = 0;
  int failed = program.find('/') == std::string::npos
                   ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                   : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    if (error) *error = std::string("cannot start ") + program + ": " + std::strerror(failed);
    return nullptr;
  }
  return std::make_unique<PosixChildProcess>(pid);
}

std::string ExecutableFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  std::string folder(path, static_cast<size_t>(length));
  size_t slash = folder.rfind('/');
  return slash == std::string::npos ? "" : folder.substr(0, slash);
}

bool SetEnvironmentVariableUtf8(const char* name, const char* value) {
  return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace halcyra::platform
