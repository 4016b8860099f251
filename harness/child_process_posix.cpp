#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "child_process.h"

extern char** environ;

namespace halcyra::testing {
namespace {

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

struct ChildProcess::Impl {
  ~Impl() {
    if (output >= 0) ::close(output);
  }
  pid_t pid = -1;
  int output = -1;  // read end of the pipe from the child's standard output; -1: closed or none
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& outputFile)
    : impl_(std::make_unique<Impl>()) {
  // Both ends close at the start of any program: the child keeps only the copy on its output.
  int pipeEnds[2] = {-1, -1};
  if (outputFile.empty() && ::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    error_ = "cannot start " + program + ": " + std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (outputFile.empty()) {
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  int failed = program.find('/') == std::string::npos
                   ? posix_spawnp(&impl_->pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                   : posix_spawn(&impl_->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (pipeEnds[1] >= 0) ::close(pipeEnds[1]);
  impl_->output = pipeEnds[0];
  if (failed != 0) {
    impl_->pid = -1;
    error_ = "cannot start " + program + ": " + std::strerror(failed);
  }
}

ChildProcess::~ChildProcess() { Stop(kDestructorGraceMs); }

bool ChildProcess::ReadOutput(int timeoutMs) {
  if (impl_->output < 0) return false;
  pollfd waiting{impl_->output, POLLIN, 0};
  int ready = ::poll(&waiting, 1, timeoutMs);
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;  // nothing yet: ReadLine sees whether its time is up
  char chunk[512];
  ssize_t read = ::read(impl_->output, chunk, sizeof chunk);
  if (read <= 0) {
    ::close(impl_->output);
    impl_->output = -1;
    return false;
  }
  pending_.append(chunk, static_cast<size_t>(read));
  return true;
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  while (!exitCode_ && impl_->pid > 0) {
    int status = 0;
    pid_t done = ::waitpid(impl_->pid, &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (done == impl_->pid) {
      exitCode_ = ExitCodeOf(status);
    } else if (done < 0 && errno != EINTR) {
      exitCode_ = -1;  // not our child any more: nothing left to wait for
    } else if (timeoutMs >= 0) {
      if (std::chrono::steady_clock::now() >= deadline) break;
      ::poll(nullptr, 0, 5);
    }
  }
  return exitCode_;
}

void ChildProcess::End(bool force) { ::kill(impl_->pid, force ? SIGKILL : SIGTERM); }

}  // namespace halcyra::testing
