// Thread_RW_HCS, the refresh cycle: every 2000 ms it asks the station server for the record of each
// client of the own channel, reloads the re-readable settings every seventh tick, and watches the
// simulator: three ticks without SET_LLALT and it stops querying, puts every channel client back at
// the listener's position and clears the simulator alive flag.
//
// The queries of one tick go out together as one pass of the exchange (one round trip, at most
// 450 ms after the last went out), so a tick lasts 2000 ms plus about one round trip.
//
// The thread stops through its StopToken: RequestStop() (or Stop()) ends its sleep and the wait for
// a pass at once, and gives up the wait for a configuration reload's name look-up and for a host
// call in progress (host calls go through the host call relay).
#pragma once

#include <atomic>
#include <memory>

#include "foundation/configuration.h"
#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/simulator_status.h"
#include "network/server_exchange.h"
#include "platform/env.h"
#include "platform/stop.h"
#include "station/channel_clients.h"

namespace halcyra {

class RefreshCycle {
 public:
  static constexpr uint32_t kTickMs = 2000;
  static constexpr int kReloadEveryTicks = 7;
  static constexpr int kWatchdogLimit = 3;  // ticks without SET_LLALT before the cycle gives up

  RefreshCycle(platform::Env& env, Clog& log, Configuration& config, CTS3ClientsBase& clients,
               StationServerExchange& exchange, SimulatorStatus& simulator, HostCallRelay& hostCalls);
  ~RefreshCycle();

  // Starts Thread_RW_HCS; false when the thread could not be started.
  [[nodiscard]] bool Start();
  // Asks the thread to stop without waiting for it.
  void RequestStop();
  // Asks the thread to stop and waits until it has.
  void Stop();

  // One tick after the sleep (public for tests that drive the cycle without the thread).
  void Tick();

 private:
  void Run();
  void QueryChannelClients();
  void LogDetailed(const std::string& text, int level);

  platform::Env& env_;
  Clog& log_;
  Configuration& config_;
  CTS3ClientsBase& clients_;
  StationServerExchange& exchange_;
  SimulatorStatus& simulator_;
  HostCallRelay& hostCalls_;
  int tickCounter_ = 0;  // ticks since the last reload, 0..6; used by the cycle's thread only
  // Made by Start before the thread runs, read by it and by RequestStop.
  platform::StopSource stopSource_;
  platform::StopToken stop_;  // of stopSource_; a default token (never stopped) for Tick() alone
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace halcyra
