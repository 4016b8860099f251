// The station server's record store (halcyra-server's StationServer) answering on a loopback UDP
// port that the OS picks. Every request it handled is kept in arrival order, so a test can wait
// for the plug-in's publishes and queries. It can be made to answer late (a server far away) or
// not at all, and it notes when each query arrived.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

  // Every reply goes out this long after its request (0: at once).
  void SetReplyDelayMs(uint32_t ms) { replyDelayMs_ = ms; }
  // While set, queries are not answered (publishes are still stored).
  void SetSilent(bool silent) { silent_ = silent; }
  // The Env ticks (ms) at which the queries for nickname arrived, in order.
  std::vector<uint64_t> QueryTicks(const std::string& nickname) const EXCLUDES(storeLock_);

 private:
  std::optional<StandInReply> Answer(const StandInRequest& request) EXCLUDES(storeLock_);

  std::atomic<uint32_t> replyDelayMs_{0};
  std::atomic<bool> silent_{false};
  mutable platform::Mutex storeLock_;  // a leaf, taken on the serving thread and by the test's calls
  server::StationServer server_ GUARDED_BY(storeLock_);
  std::map<std::string, std::vector<uint64_t>> queryTicks_ GUARDED_BY(storeLock_);
};

}  // namespace halcyra::testing
