// The real halcyra-server, started for a run on a free loopback port, and a small client of it that
// publishes the remote pilots' stations (as their plug-ins would) and reads stored records back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "child_process.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "station/station_record.h"

namespace halcyra::sim {

class StationServerProcess {
 public:
  // Starts program on 127.0.0.1 at a free port, its output going to logFile, and waits until it
  // answers. Null with error when it cannot be started or does not answer within a few seconds.
  static std::unique_ptr<StationServerProcess> Start(platform::Env& env, const std::string& program,
                                                     const std::string& logFile, std::string* error);
  ~StationServerProcess();  // stops it
  uint16_t Port() const { return port_; }
  void Stop();

 private:
  std::unique_ptr<testing::ChildProcess> process_;
  uint16_t port_ = 0;
};

class StationServerClient {
 public:
  // Null when no socket can be had.
  static std::unique_ptr<StationServerClient> Open(platform::Env& env, uint16_t port);
  // Sends the publish message of the station, as its plug-in sends it. False when it cannot be sent.
  bool Publish(const StationRecord& station);
  // The server's reply to a query for nickname, or nothing when none came within timeoutMs.
  std::optional<std::string> Query(const std::string& nickname, int timeoutMs);

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
  uint16_t port_ = 0;
};

}  // namespace halcyra::sim
