// Calls into the host made from the plug-in's own threads (the refresh cycle, the station queries).
//
// A host function may block: a host that is itself shutting down may hold the locks its functions
// need until our shutdown has returned. The plug-in's threads must stop promptly whatever the host
// does, so they hand such calls to a HostCallRelay, which makes them on a thread of its own, and
// wait for them only while they are not told to give up. The relay's thread is never joined: it
// owns a copy of the host function table and its queue, touches nothing else, and keeps the
// library loaded until it ends (platform::Env::StartDetachedThread).
//
// Lock order: the relay's lock (HostCallRelay::State::lock) comes before a CancelToken's: the relay
// thread asks the token whether a call may begin while it holds its own. A token's lock is a leaf.
// No host call is made while either is held.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/host_abi.h"
#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra {

// A caller's signal that it no longer wants the work done on its behalf. Cancel() and TryBegin()
// exclude each other: once Cancel() has returned, no TryBegin() succeeds, so no work is begun
// after a cancel (work begun before it may still be running).
class CancelToken {
 public:
  void Cancel() EXCLUDES(lock_) {
    platform::MutexLock lock(lock_);
    cancelled_.store(true);
  }
  bool Cancelled() const { return cancelled_.load(); }
  // True when the work may begin now; false once cancelled.
  bool TryBegin() EXCLUDES(lock_) {
    platform::MutexLock lock(lock_);
    return !cancelled_.load();
  }

 private:
  platform::Mutex lock_;  // orders Cancel against TryBegin; guards no data (cancelled_ is atomic)
  std::atomic<bool> cancelled_{false};
};

// The host name or address of the TeamSpeak server of a connection, as the client connected to it
// (getServerConnectInfo); nothing when the host does not tell (not connected, no such function).
// A host call: never from inside a voice callback.
std::optional<std::string> ReadServerHost(const TS3Functions& host, uint64 serverConnectionHandlerID);

class HostCallRelay {
 public:
  using Call = std::function<void(const TS3Functions& host)>;

  HostCallRelay(platform::Env& env, const TS3Functions& host);
  ~HostCallRelay();  // Stop(); waits a moment for an idle relay thread to end, never for a host call

  HostCallRelay(const HostCallRelay&) = delete;
  HostCallRelay& operator=(const HostCallRelay&) = delete;

  // The table the calls are made with (to see which functions the host provides).
  const TS3Functions& Host() const;

  // Makes the call on the relay's thread and waits until it has been made, or until cancel is
  // cancelled: a call not begun by then is dropped, one in progress is left to finish. True when
  // the call was made; false when it was dropped, the relay is stopped or its thread could not be
  // started.
  bool Run(Call call, CancelToken& cancel);

  // Drops the calls not yet begun and refuses new ones; the relay's thread ends after the call in
  // progress, if any. Never waits.
  void Stop();

 private:
  struct State;
  platform::Env& env_;
  std::shared_ptr<State> state_;
};

}  // namespace halcyra
