#include "foundation/host_calls.h"

#include <chrono>
#include <condition_variable>
#include <deque>

namespace halcyra {
namespace {

// A caller looks at its cancel token this often while its call waits.
constexpr auto kCancelPoll = std::chrono::milliseconds(2);
// How long the destructor lets an idle relay thread take to end (it ends at once when idle).
constexpr auto kIdleThreadEndWait = std::chrono::milliseconds(500);

}  // namespace

struct HostCallRelay::State {
  struct Job {
    Call call;
    CancelToken* cancel;  // the caller's; touched only under lock, while the job is queued
    bool done = false;
  };

  explicit State(const TS3Functions& table) : host(table) {}

  void Serve() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      changed.wait(guard, [this] { return stopped || !queue.empty(); });
      if (stopped) break;
      std::shared_ptr<Job> job = queue.front();
      queue.pop_front();
      if (!job->cancel->TryBegin()) continue;
      callInProgress = true;
      guard.unlock();
      job->call(host);
      guard.lock();
      callInProgress = false;
      job->done = true;
      changed.notify_all();
    }
    threadRunning = false;
    changed.notify_all();
  }

  const TS3Functions host;  // the copy every relayed call is made with
  std::mutex lock;          // guards everything below
  std::condition_variable changed;
  std::deque<std::shared_ptr<Job>> queue;
  bool stopped = false;
  bool threadRunning = false;
  bool callInProgress = false;
};

HostCallRelay::HostCallRelay(platform::Env& env, const TS3Functions& host)
    : env_(env), state_(std::make_shared<State>(host)) {}

HostCallRelay::~HostCallRelay() {
  Stop();
  std::unique_lock<std::mutex> guard(state_->lock);
  state_->changed.wait_for(guard, kIdleThreadEndWait,
                           [this] { return !state_->threadRunning || state_->callInProgress; });
}

const TS3Functions& HostCallRelay::Host() const { return state_->host; }

bool HostCallRelay::Run(Call call, CancelToken& cancel) {
  auto job = std::make_shared<State::Job>();
  job->call = std::move(call);
  job->cancel = &cancel;
  std::unique_lock<std::mutex> guard(state_->lock);
  if (state_->stopped) return false;
  if (!state_->threadRunning) {
    std::shared_ptr<State> state = state_;
    if (!env_.StartDetachedThread([state] { state->Serve(); })) return false;
    state_->threadRunning = true;
  }
  state_->queue.push_back(job);
  state_->changed.notify_all();
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
    state_->changed.wait_for(guard, kCancelPoll);
  }
  return true;
}

void HostCallRelay::Stop() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stopped = true;
    state_->queue.clear();
  }
  state_->changed.notify_all();
}

}  // namespace halcyra
