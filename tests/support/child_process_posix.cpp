#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "child_process.h"

extern char** environ;

namespace halcyra::testing {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int output = -1;  // read end of the child's standard output
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments)
    : impl_(std::make_unique<Impl>()) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawned != 0) {
    ::close(pipeEnds[0]);
    return;
  }
  impl_->pid = pid;
  impl_->output = pipeEnds[0];
}

ChildProcess::~ChildProcess() {
  Stop();
  if (impl_->output >= 0) ::close(impl_->output);
}

bool ChildProcess::started() const { return impl_->pid > 0; }

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (std::optional<std::string> line = TakePendingLine()) return line;
    if (impl_->output < 0) return std::nullopt;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd waiting{impl_->output, POLLIN, 0};
    int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[512];
    ssize_t read = ::read(impl_->output, chunk, sizeof chunk);
    if (read <= 0) {
      ::close(impl_->output);
      impl_->output = -1;
      continue;
    }
    pending_.append(chunk, static_cast<size_t>(read));
  }
}

std::optional<int> ChildProcess::WaitForExit(int timeoutMs) {
  if (impl_->pid <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t waited = ::waitpid(impl_->pid, &status, WNOHANG);
    if (waited == impl_->pid) {
      impl_->pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    ::poll(nullptr, 0, 5);
  }
}

int ChildProcess::Stop() {
  if (impl_->pid <= 0) return -1;
  ::kill(impl_->pid, SIGTERM);
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(impl_->pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  impl_->pid = -1;
  if (waited < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string StationServerProgramPath() { return HALCYRA_SERVER_PATH; }

}  // namespace halcyra::testing
