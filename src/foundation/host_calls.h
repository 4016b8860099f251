// Calls into the host made from the plug-in's own threads (the refresh cycle, the station queries).
//
// A host function may block: a host that is itself shutting down may hold the locks its functions
// need until our shutdown has returned. The plug-in's threads must stop promptly whatever the host
// does, so they hand such calls to a HostCallRelay, which makes them on a thread of its own, and
// wait for them only while they are not told to give up. The relay's thread is never joined: it
// owns a copy of the host function table and its queue, touches nothing else, and keeps the
// library loaded until it ends (platform::Env::StartDetachedThread).
//
// A caller hands the relay its StopToken: once that is stopped the caller waits no more (a
// StopCallback wakes it), and a call not yet begun is dropped.
//
// Lock order: the relay's lock (HostCallRelay::State::lock) comes before a StopToken's: the relay
// thread asks the token whether a call may begin while it holds its own. A token's lock is a leaf;
// the callback that wakes a waiting caller takes the relay's lock without it. No host call is made
// while either is held.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "foundation/host_abi.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"

namespace halcyra {

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

  // Makes the call on the relay's thread (Thread_HostCalls) and waits until it has been made, or
  // until stop is stopped: a call not begun by then is dropped, one in progress is left to finish.
  // True when the call was made; false when it was dropped, the relay is stopped or its thread
  // could not be started.
  bool Run(Call call, const platform::StopToken& stop);

  // Drops the calls not yet begun and refuses new ones; the relay's thread ends after the call in
  // progress, if any. Never waits.
  void Stop();

 private:
  struct State;
  platform::Env& env_;
  std::shared_ptr<State> state_;
};

}  // namespace halcyra
