#include "platform/stop.h"

#include <list>
#include <thread>

#include "platform/mutex.h"

namespace halcyra::platform {

struct StopSource::State {
  Mutex lock;  // guards what follows; a leaf: callbacks and waits on other locks run without it
  ConditionVariable changed;  // the stop, and a callback that ended
  bool stopped GUARDED_BY(lock) = false;
  std::list<StopCallback*> callbacks GUARDED_BY(lock);  // registered and not yet run
  StopCallback* running GUARDED_BY(lock) = nullptr;     // the callback RequestStop is running
  std::thread::id runner GUARDED_BY(lock);              // the thread running it
};

StopSource::StopSource() : state_(std::make_shared<State>()) {}

void StopSource::RequestStop() {
  MutexLock guard(state_->lock);
  if (state_->stopped) return;
  state_->stopped = true;
  state_->runner = std::this_thread::get_id();
  state_->changed.NotifyAll();
  while (!state_->callbacks.empty()) {
    StopCallback* callback = state_->callbacks.front();
    state_->callbacks.pop_front();
    state_->running = callback;
    guard.Unlock();
    callback->wake_();
    guard.Lock();
    state_->running = nullptr;
    state_->changed.NotifyAll();
  }
}

bool StopSource::StopRequested() const {
  MutexLock guard(state_->lock);
  return state_->stopped;
}

StopToken StopSource::Token() const { return StopToken(state_); }

bool StopToken::StopRequested() const {
  if (!state_) return false;
  MutexLock guard(state_->lock);
  return state_->stopped;
}

bool StopToken::TryBegin() const { return !StopRequested(); }

bool StopToken::SleepFor(Env& env, uint32_t ms) const {
  if (!state_) {
    env.SleepMs(ms);
    return true;
  }
  uint64_t deadline = env.TickMs() + ms;
  MutexLock guard(state_->lock);
  while (!state_->stopped) {
    uint64_t now = env.TickMs();
    if (now >= deadline) return true;
    env.WaitOnClock(state_->changed, guard, static_cast<uint32_t>(deadline - now));
  }
  return false;
}

StopCallback::StopCallback(const StopToken& token, std::function<void()> wake)
    : state_(token.state_), wake_(std::move(wake)) {
  if (!state_) return;
  {
    MutexLock guard(state_->lock);
    if (!state_->stopped) {
      state_->callbacks.push_back(this);
      return;
    }
  }
  wake_();
}

StopCallback::~StopCallback() {
  if (!state_) return;
  MutexLock guard(state_->lock);
  state_->callbacks.remove(this);
  while (state_->running == this && state_->runner != std::this_thread::get_id()) state_->changed.Wait(guard);
}

}  // namespace halcyra::platform
