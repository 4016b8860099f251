#include "foundation/host_calls.h"

#include <algorithm>
#include <cstdint>
#include <deque>

namespace halcyra {
namespace {

constexpr char kThreadName[] = "Thread_HostCalls";
// How long the destructor lets an idle relay thread take to end (it ends at once when idle).
constexpr uint64_t kIdleThreadEndWaitMs = 500;  // on the Env clock

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
    platform::StopToken stop;  // the caller's
    bool done = false;         // under the State's lock
  };

  explicit State(const TS3Functions& table) : host(table) {}

  void Serve() EXCLUDES(lock) {
    platform::NameCurrentThread(kThreadName);
    platform::MutexLock guard(lock);
    for (;;) {
      while (!stopped && queue.empty()) changed.Wait(guard);
      if (stopped) break;
      std::shared_ptr<Job> job = queue.front();
      queue.pop_front();
      if (!job->stop.TryBegin()) continue;
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
  platform::Mutex lock;     // comes before a StopToken's lock (see host_calls.h)
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
  uint64_t deadline = env_.TickMs() + kIdleThreadEndWaitMs;
  while (state_->threadRunning && !state_->callInProgress) {
    uint64_t now = env_.TickMs();
    if (now >= deadline) break;
    env_.WaitOnClock(state_->changed, guard, static_cast<uint32_t>(deadline - now));
  }
}

const TS3Functions& HostCallRelay::Host() const { return state_->host; }

bool HostCallRelay::Run(Call call, const platform::StopToken& stop) {
  auto job = std::make_shared<State::Job>();
  job->call = std::move(call);
  job->stop = stop;
  // Registered before the relay's lock is taken (a stop already requested runs it at once, and it
  // takes that lock); unregistered after the lock is given up.
  std::shared_ptr<State> state = state_;
  platform::StopCallback wake(stop, [state] {
    platform::MutexLock guard(state->lock);
    state->changed.NotifyAll();
  });
  platform::MutexLock guard(state_->lock);
  if (state_->stopped) return false;
  if (!state_->threadRunning) {
    if (!env_.StartDetachedThread([state] { state->Serve(); })) return false;
    state_->threadRunning = true;
  }
  state_->queue.push_back(job);
  state_->changed.NotifyAll();
  while (!job->done) {
    if (stop.StopRequested() || state_->stopped) {
      for (auto queued = state_->queue.begin(); queued != state_->queue.end(); ++queued) {
        if (*queued == job) {
          state_->queue.erase(queued);
          break;
        }
      }
      return false;
    }
    state_->changed.Wait(guard);
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
