#include "loopback_station_server.h"

#include "platform/ipv4.h"
#include "wire/station_messages.h"

namespace halcyra::testing {

LoopbackStationServer::LoopbackStationServer() : server_(server::StationServerLimits{}) {
  SetAnswer([this](const StandInRequest& request) { return Answer(request); });
}

void LoopbackStationServer::Store(const std::string& recordText) {
  platform::MutexLock lock(storeLock_);
  server_.Handle("SET:" + recordText, kLoopbackAddress, platform::Env::Default().TickMs());
}

std::vector<uint64_t> LoopbackStationServer::QueryTicks(const std::string& nickname) const {
  platform::MutexLock lock(storeLock_);
  auto found = queryTicks_.find(nickname);
  return found == queryTicks_.end() ? std::vector<uint64_t>{} : found->second;
}

std::optional<StandInReply> LoopbackStationServer::Answer(const StandInRequest& request) {
  platform::MutexLock lock(storeLock_);
  uint64_t now = platform::Env::Default().TickMs();
  bool query = request.text.starts_with(wire::kQueryPrefix);
  if (query) {
    size_t at = request.text.find('@');
    std::string nickname = request.text.substr(4, at == std::string::npos ? std::string::npos : at - 4);
    queryTicks_[nickname].push_back(now);
  }
  std::string reply(server_.Handle(request.text, request.address, now).reply);
  if (reply.empty() || (query && silent_.load())) return std::nullopt;
  return StandInReply(reply, replyDelayMs_.load());
}

}  // namespace halcyra::testing
