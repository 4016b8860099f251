#include "foundation/name_lookup.h"

namespace halcyra {
namespace {

// The answer and the stop wake the waiter at once; the slice only bounds how far a clock that is
// not the wall clock (a test's) runs ahead of a look-up thread that answers in real time.
constexpr uint32_t kWaitSliceMs = 1;

}  // namespace

struct NameLookup::Pending {
  enum class State { kRunning, kResolved, kFailed };
  explicit Pending(std::string text) : name(std::move(text)) {}
  const std::string name;
  platform::Mutex lock;               // a leaf but for a StopToken's lock
  platform::ConditionVariable ended;  // with lock: the look-up ended, or a waiter's stop
  State state GUARDED_BY(lock) = State::kRunning;
  uint32_t address GUARDED_BY(lock) = 0;
};

NameLookup::Outcome NameLookup::Resolve(const std::string& name, uint32_t* address,
                                        const platform::StopToken& stop) {
  std::shared_ptr<Pending> lookup;
  {
    platform::MutexLock guard(lock_);
    if (pending_ && pending_->name == name) lookup = pending_;
  }
  if (!lookup) {
    lookup = std::make_shared<Pending>(name);
    platform::Env& env = env_;  // lives as long as the process (or the test that made it)
    bool started = env_.StartDetachedThread([lookup, &env] {
      platform::NameCurrentThread("Thread_NameLookup");
      uint32_t found = 0;
      bool resolved = env.ResolveIPv4(lookup->name, &found);
      platform::MutexLock guard(lookup->lock);
      lookup->address = found;
      lookup->state = resolved ? Pending::State::kResolved : Pending::State::kFailed;
      lookup->ended.NotifyAll();
    });
    if (!started) return Outcome::kFailed;
    platform::MutexLock guard(lock_);
    pending_ = lookup;
  }

  Pending::State state = Pending::State::kRunning;
  uint32_t found = 0;
  {
    platform::StopCallback wake(stop, [lookup] {
      platform::MutexLock guard(lookup->lock);
      lookup->ended.NotifyAll();
    });
    uint64_t deadline = env_.TickMs() + kWaitMs;
    platform::MutexLock guard(lookup->lock);
    while (lookup->state == Pending::State::kRunning && env_.TickMs() < deadline && !stop.StopRequested()) {
      env_.WaitOnClock(lookup->ended, guard, kWaitSliceMs);
    }
    state = lookup->state;
    found = lookup->address;
  }
  if (state == Pending::State::kRunning) return Outcome::kNoAnswer;
  {
    platform::MutexLock guard(lock_);
    if (pending_ == lookup) pending_.reset();
  }
  if (state == Pending::State::kFailed) return Outcome::kFailed;
  *address = found;
  return Outcome::kResolved;
}

}  // namespace halcyra
