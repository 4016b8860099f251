#include "station_server.h"

#include "network/wire/station_messages.h"

namespace halcyra::server {
StationServer::StationServer(StationServerLimits limits) : limits_(limits) {
  if (limits_.maxRecords == 0) limits_.maxRecords = 1;
  if (limits_.expiryMs == 0) limits_.expiryMs = 1;
  records_.reserve(limits_.maxRecords < 65536 ? limits_.maxRecords : 65536);
}

RequestResult StationServer::Handle(std::string_view datagram, uint64_t nowMs) {
  if (datagram.size() > wire::kMaxDatagramBytes) {
    ++counters_.tooLong;
    return {RequestOutcome::kTooLong, {}, ""};
  }
  bool publish = datagram.starts_with(wire::kPublishPrefix);
  if (!publish && !datagram.starts_with(wire::kQueryPrefix)) return Malformed("not a SET: or GET: request");
  // Records travel as zero-terminated texts in the plug-in; a zero byte would cut them.
  if (datagram.find('\0') != std::string_view::npos) return Malformed("contains a zero byte");
  std::string_view body = datagram.substr((publish ? wire::kPublishPrefix : wire::kQueryPrefix).size());
  size_t at = body.find('@');
  if (at == std::string_view::npos) return Malformed("no \"@\" after the nickname");
  if (at == 0) return Malformed("empty nickname");
  std::string_view nickname = body.substr(0, at);
  return publish ? Store(nickname, body, nowMs) : Answer(nickname, nowMs);
}

RequestResult StationServer::Malformed(const char* reason) {
  ++counters_.malformed;
  return {RequestOutcome::kMalformed, {}, reason};
}

RequestResult StationServer::Store(std::string_view nickname, std::string_view record, uint64_t nowMs) {
  auto found = records_.find(nickname);
  if (found == records_.end()) {
    if (records_.size() >= limits_.maxRecords) {
      ++counters_.refused;
      return {RequestOutcome::kRefused, {}, ""};
    }
    found = records_.emplace(std::string(nickname), Record{}).first;
  }
  found->second.text.assign(record);
  found->second.refreshedMs = nowMs;
  ++counters_.stored;
  return {RequestOutcome::kStored, {}, ""};
}

RequestResult StationServer::Answer(std::string_view nickname, uint64_t nowMs) {
  auto found = records_.find(nickname);
  if (found != records_.end() && Expired(found->second, nowMs)) {
    records_.erase(found);
    ++counters_.expired;
    found = records_.end();
  }
  if (found == records_.end()) {
    ++counters_.notFound;
    return {RequestOutcome::kNotFound, wire::kNotFoundReply, ""};
  }
  ++counters_.answered;
  return {RequestOutcome::kAnswered, found->second.text, ""};
}

bool StationServer::Expired(const Record& record, uint64_t nowMs) const {
  return nowMs >= record.refreshedMs && nowMs - record.refreshedMs >= limits_.expiryMs;
}

size_t StationServer::Sweep(uint64_t nowMs) {
  size_t removed = 0;
  for (auto it = records_.begin(); it != records_.end();) {
    if (Expired(it->second, nowMs)) {
      it = records_.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  counters_.expired += removed;
  return removed;
}

}  // namespace halcyra::server
