// Thread_DCS_External, the simulator link: listens on UDP port 10602 for the simulator's four text
// commands and applies them to the local station. It listens on the loopback address unless told
// otherwise ([DCS] LISTEN), so that only a simulator on this computer can command the aircraft.
//
// A datagram is processed when it is 11 to 119 bytes long and its first nine bytes are a command
// word; byte 9 is a separator that is not examined, the arguments follow from byte 10. Every
// SET_LLALT also resets the watchdog counter, whatever its arguments held.
//
// The thread sleeps in its receive until a datagram comes: an idle link never wakes. Stop() wakes it
// through the socket (UdpSocket::Interrupt) and ends a retry pause at once, so it ends promptly in
// every case.
#pragma once

#include <memory>

#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "network/simulator_commands.h"
#include "platform/env.h"
#include "platform/stop.h"

namespace halcyra {

class SimulatorLink {
 public:
  static constexpr uint16_t kPort = kSimulatorPort;
  static constexpr size_t kBufferSize = 576;  // bytes, the terminating zero included
  static constexpr int kMinimumLength = 11;
  static constexpr int kMaximumLength = 119;
  static constexpr uint32_t kLoopbackAddress = 0x7F000001;

  // listenAddress: the local IPv4 address to bind (host order); 0 = every local address.
  SimulatorLink(platform::Env& env, Clog& log, SimulatorCommands& commands, SimulatorStatus& simulator,
                uint32_t listenAddress = kLoopbackAddress);
  ~SimulatorLink();

  // Starts Thread_DCS_External; false when the thread could not be started. Start and Stop are
  // called by one thread (the plug-in's start and teardown).
  bool Start();
  void Stop();  // asks the thread to stop and waits until it has

  // Filters and dispatches one received datagram of `length` bytes (text zero-terminated).
  void HandleDatagram(const char* text, int length);

 private:
  void Run(const platform::StopToken& stop);
  // The bound listener; null once the stop was requested.
  std::unique_ptr<platform::UdpSocket> BindListener(const platform::StopToken& stop);
  void Receive(platform::UdpSocket& socket, const platform::StopToken& stop);

  platform::Env& env_;
  Clog& log_;
  SimulatorCommands& commands_;
  SimulatorStatus& simulator_;
  uint32_t listenAddress_;
  platform::StopSource stop_;  // a fresh one for every Start
  std::unique_ptr<platform::Thread> thread_;
};

}  // namespace halcyra
