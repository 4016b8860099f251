// The one way a thread of ours is told to stop.
//
// Whoever starts a thread owns a StopSource and hands the body a StopToken. The body sleeps through
// the token (SleepFor: on the Env clock, woken at once by the stop) and checks it between steps; a
// body that waits on something else (a condition variable of its own, a socket) registers a
// StopCallback that wakes that wait. RequestStop() sets the stop once and for all, wakes every
// sleeper and runs the registered callbacks on the requesting thread.
//
// TryBegin() and RequestStop() exclude each other: once RequestStop() has returned, no TryBegin()
// succeeds, so no work is begun after a stop (work begun before it may still be running).
//
// Lock order: a token's lock is a leaf for TryBegin, StopRequested and SleepFor. Callbacks run
// without it, so a callback may take other locks; a StopCallback's destructor waits for its callback
// when it is running on another thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/env.h"

namespace halcyra::platform {

class StopToken;

class StopSource {
 public:
  StopSource();
  // Sets the stop (idempotent), wakes the token's sleepers and runs the callbacks registered so far.
  void RequestStop();
  [[nodiscard]] bool StopRequested() const;
  [[nodiscard]] StopToken Token() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// A copyable view of one StopSource. A default-constructed token is never stopped.
class StopToken {
 public:
  StopToken() = default;
  [[nodiscard]] bool StopRequested() const;
  // True when work may begin now; false once the stop was requested.
  [[nodiscard]] bool TryBegin() const;
  // Sleeps ms milliseconds of env's clock; false (at once) as soon as the stop is requested, true
  // when the whole time passed.
  [[nodiscard]] bool SleepFor(Env& env, uint32_t ms) const;

 private:
  friend class StopSource;
  friend class StopCallback;
  explicit StopToken(std::shared_ptr<StopSource::State> state) : state_(std::move(state)) {}
  std::shared_ptr<StopSource::State> state_;
};

// Runs `wake` when the token's stop is requested: at once (in the constructor) when it already was,
// else on the thread that requests it. Unregistered by the destructor, which waits for a `wake`
// running on another thread to return. `wake` must not destroy its own StopCallback.
class StopCallback {
 public:
  StopCallback(const StopToken& token, std::function<void()> wake);
  ~StopCallback();
  StopCallback(const StopCallback&) = delete;
  StopCallback& operator=(const StopCallback&) = delete;

 private:
  friend class StopSource;
  std::shared_ptr<StopSource::State> state_;
  std::function<void()> wake_;
};

}  // namespace halcyra::platform
