// Name look-ups of the station server's host with a bounded wait.
//
// The platform's look-up blocks for as long as the name service takes, which can be half a minute
// when it does not answer. A look-up therefore runs on a thread of its own that nobody joins, and
// its caller waits at most kWaitMs (on the Env clock, woken by the answer), or less when its stop
// token is stopped: neither the plug-in's start nor the refresh cycle's stop is held by a stalled
// name service. A look-up that outlasts its wait goes on alone; the next request for the same name
// takes its result, or waits for it again, instead of starting another. lock_ is a leaf: held only
// to compare or swap pending_; so is a look-up's own lock (Pending::lock), which comes before a
// StopToken's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"

namespace halcyra {

class NameLookup {
 public:
  static constexpr uint32_t kWaitMs = 2000;

  enum class Outcome {
    kResolved,  // *address holds the first IPv4 address (host order)
    kFailed,    // the name does not resolve (or no thread could be started for the look-up)
    kNoAnswer,  // no answer within the wait, or the caller is stopping; the look-up goes on
  };

  explicit NameLookup(platform::Env& env) : env_(env) {}

  Outcome Resolve(const std::string& name, uint32_t* address, const platform::StopToken& stop = {})
      EXCLUDES(lock_);

 private:
  struct Pending;  // one look-up, shared with its thread

  platform::Env& env_;
  platform::Mutex lock_;
  std::shared_ptr<Pending> pending_ GUARDED_BY(lock_);  // the last look-up not yet taken by a caller
};

}  // namespace halcyra
