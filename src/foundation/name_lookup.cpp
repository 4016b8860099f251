#include "foundation/name_lookup.h"

namespace halcyra {

struct NameLookup::Pending {
  explicit Pending(std::string text) : name(std::move(text)) {}
  const std::string name;
  std::atomic<int> state{0};  // 0 running, 1 resolved, 2 failed
  std::atomic<uint32_t> address{0};
};

NameLookup::Outcome NameLookup::Resolve(const std::string& name, uint32_t* address,
                                        const std::atomic<bool>* stop) {
  std::shared_ptr<Pending> lookup;
  {
    platform::MutexLock guard(lock_);
    if (pending_ && pending_->name == name) lookup = pending_;
  }
  if (!lookup) {
    lookup = std::make_shared<Pending>(name);
    platform::Env& env = env_;  // lives as long as the process (or the test that made it)
    bool started = env_.StartDetachedThread([lookup, &env] {
      uint32_t found = 0;
      bool resolved = env.ResolveIPv4(lookup->name, &found);
      lookup->address.store(found);
      lookup->state.store(resolved ? 1 : 2);
    });
    if (!started) return Outcome::kFailed;
    platform::MutexLock guard(lock_);
    pending_ = lookup;
  }

  uint64_t deadline = env_.TickMs() + kWaitMs;
  while (lookup->state.load() == 0 && env_.TickMs() < deadline && !(stop != nullptr && stop->load())) {
    env_.SleepMs(1);
  }
  int state = lookup->state.load();
  if (state == 0) return Outcome::kNoAnswer;
  {
    platform::MutexLock guard(lock_);
    if (pending_ == lookup) pending_.reset();
  }
  if (state == 2) return Outcome::kFailed;
  *address = lookup->address.load();
  return Outcome::kResolved;
}

}  // namespace halcyra
