#include "loopback_station_server.h"

#include "platform/ipv4.h"

namespace halcyra::testing {

LoopbackStationServer::LoopbackStationServer() : server_(server::StationServerLimits{}) {
  SetAnswer([this](const StandInRequest& request) { return Answer(request); });
}

void LoopbackStationServer::Store(const std::string& recordText) {
  platform::MutexLock lock(storeLock_);
  server_.Handle("SET:" + recordText, kLoopbackAddress, platform::Env::Default().TickMs());
}

std::optional<StandInReply> LoopbackStationServer::Answer(const StandInRequest& request) {
  platform::MutexLock lock(storeLock_);
  std::string reply(server_.Handle(request.text, request.address, platform::Env::Default().TickMs()).reply);
  if (reply.empty()) return std::nullopt;
  return reply;
}

}  // namespace halcyra::testing
