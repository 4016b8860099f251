#include "foundation/host_calls.h"

#include <algorithm>
#include <chrono>
#include <deque>

namespace halcyra {
namespace {

// A caller looks at its cancel token this often while its call waits.
constexpr auto kCancelPoll = std::chrono::milliseconds(2);
// How long the destructor lets an idle relay thread take to end (it ends at once when idle).
constexpr auto kIdleThreadEndWait = std::chrono::milliseconds(500);

}  // namespace

std::optional<std::string> ReadServerHost(const TS3Functions& host, uint64 serverConnectionHandlerID) {
  if (host.getServerConnectInfo == nullptr || serverConnectionHandlerID == 0) return std::nullopt;
  constexpr size_t kCapacity = 512;
  char name[kCapacity] = {};
  char password[kCapacity] = {};
  unsigned short port = 0;
  unsigned int error = host.getServerConnectInfo(serverConnectionHandlerID, name, &port, password, kCapacity);
  std::fill(password, password + kCapacity, '\0');
  name[kCapacity - 1] = '\0';
  if (error != 0 || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

struct HostCallRelay::State {
  struct Job {
    Call call;
    CancelToken* cancel;  // the caller's; touched only under the State's lock, while the job is queued
    bool done = false;    // under the State's lock
  };

  explicit State(const TS3Functions& table) : host(table) {}

  void Serve() EXCLUDES(lock) {
    platform::MutexLock guard(lock);
    for (;;) {
      while (!stopped && queue.empty()) changed.Wait(guard);
      if (stopped) break;
      std::shared_ptr<Job> job = queue.front();
      queue.pop_front();
      if (!job->cancel->TryBegin()) continue;
      callInProgress = true;
      guard.Unlock();
      job->call(host);
      guard.Lock();
      callInProgress = false;
      job->done = true;
      changed.NotifyAll();
    }
    threadRunning = false;
    changed.NotifyAll();
  }

  const TS3Functions host;  // the copy every relayed call is made with
  platform::Mutex lock;     // comes before a CancelToken's lock (see host_calls.h)
  platform::ConditionVariable changed;
  std::deque<std::shared_ptr<Job>> queue GUARDED_BY(lock);
  bool stopped GUARDED_BY(lock) = false;
  bool threadRunning GUARDED_BY(lock) = false;
  bool callInProgress GUARDED_BY(lock) = false;
};

HostCallRelay::HostCallRelay(platform::Env& env, const TS3Functions& host)
    : env_(env), state_(std::make_shared<State>(host)) {}

HostCallRelay::~HostCallRelay() {
  Stop();
  platform::MutexLock guard(state_->lock);
  auto deadline = std::chrono::steady_clock::now() + kIdleThreadEndWait;
  while (state_->threadRunning && !state_->callInProgress) {
    if (!state_->changed.WaitUntil(guard, deadline)) break;
  }
}

const TS3Functions& HostCallRelay::Host() const { return state_->host; }

bool HostCallRelay::Run(Call call, CancelToken& cancel) {
  auto job = std::make_shared<State::Job>();
  job->call = std::move(call);
  job->cancel = &cancel;
  platform::MutexLock guard(state_->lock);
  if (state_->stopped) return false;
  if (!state_->threadRunning) {
    std::shared_ptr<State> state = state_;
    if (!env_.StartDetachedThread([state] { state->Serve(); })) return false;
    state_->threadRunning = true;
  }
  state_->queue.push_back(job);
  state_->changed.NotifyAll();
  while (!job->done) {
    if (cancel.Cancelled() || state_->stopped) {
      for (auto queued = state_->queue.begin(); queued != state_->queue.end(); ++queued) {
        if (*queued == job) {
          state_->queue.erase(queued);
          break;
        }
      }
      return false;
    }
    state_->changed.WaitFor(guard, kCancelPoll);
  }
  return true;
}

void HostCallRelay::Stop() {
  {
    platform::MutexLock guard(state_->lock);
    state_->stopped = true;
    state_->queue.clear();
  }
  state_->changed.NotifyAll();
}

}  // namespace halcyra
