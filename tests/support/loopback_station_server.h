// The station server's record store (halcyra-server's StationServer) answering on a loopback UDP
// port that the OS picks. Every request it handled is kept in arrival order, so a test can wait
// for the plug-in's publishes and queries.
#pragma once

#include <optional>
#include <string>

#include "platform/mutex.h"
#include "station_server.h"
#include "station_stand_in.h"

namespace halcyra::testing {

class LoopbackStationServer : public StationStandIn {
 public:
  LoopbackStationServer();  // binds 127.0.0.1 on a free port and starts serving
  ~LoopbackStationServer() { Stop(); }

  // Stores a pilot's record as his own publish would: text is what follows "SET:".
  void Store(const std::string& recordText) EXCLUDES(storeLock_);

 private:
  std::optional<StandInReply> Answer(const StandInRequest& request) EXCLUDES(storeLock_);

  platform::Mutex storeLock_;  // a leaf, taken on the serving thread and by Store
  server::StationServer server_ GUARDED_BY(storeLock_);
};

}  // namespace halcyra::testing
