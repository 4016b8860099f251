#include "station_server.h"

namespace halcyra::server {
StationServer::StationServer(StationServerLimits limits) : limits_(limits) {
  if (limits_.maxRecords == 0) limits_.maxRecords = 1;
  if (limits_.expiryMs == 0) limits_.expiryMs = 1;
  records_.reserve(limits_.maxRecords < 65536 ? limits_.maxRecords : 65536);
}

RequestResult StationServer::Handle(std::string_view datagram, uint32_t source, uint64_t nowMs) {
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
  if (!publish) return Answer(nickname, nowMs);
  if (datagram.size() > limits_.maxPublishBytes) {
    ++counters_.oversize;
    return {RequestOutcome::kOversize, {}, ""};
  }
  return Store(nickname, body, source, nowMs);
}

RequestResult StationServer::Malformed(const char* reason) {
  ++counters_.malformed;
  return {RequestOutcome::kMalformed, {}, reason};
}

RequestResult StationServer::Store(std::string_view nickname, std::string_view record, uint32_t source,
                                   uint64_t nowMs) {
  auto found = records_.find(nickname);
  if (found != records_.end() && found->second.source != source) {
    Record& held = found->second;
    if (!SilentFor(held, nowMs, limits_.takeoverMs) && !Expired(held, nowMs)) {
      ++counters_.held;
      RequestResult result{RequestOutcome::kHeld, {}, ""};
      result.holder = held.source;
      result.holderSilentMs = nowMs >= held.refreshedMs ? nowMs - held.refreshedMs : 0;
      return result;
    }
    if (SourceFull(source)) {
      ++counters_.sourceLimit;
      return {RequestOutcome::kSourceLimit, {}, ""};
    }
    Release(held.source);
    Hold(source);
    held.source = source;
    ++counters_.takenOver;
  } else if (found == records_.end()) {
    if (SourceFull(source)) {
      ++counters_.sourceLimit;
      return {RequestOutcome::kSourceLimit, {}, ""};
    }
    if (records_.size() >= limits_.maxRecords) {
      ++counters_.refused;
      return {RequestOutcome::kRefused, {}, ""};
    }
    found = records_.emplace(std::string(nickname), Record{}).first;
    found->second.source = source;
    Hold(source);
  }
  found->second.text.assign(record);
  found->second.refreshedMs = nowMs;
  ++counters_.stored;
  return {RequestOutcome::kStored, {}, ""};
}

RequestResult StationServer::Answer(std::string_view nickname, uint64_t nowMs) {
  auto found = records_.find(nickname);
  if (found != records_.end() && Expired(found->second, nowMs)) {
    found = Erase(found);
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

bool StationServer::SilentFor(const Record& record, uint64_t nowMs, uint64_t ms) const {
  // A clock that went backwards counts as no silence at all.
  return nowMs >= record.refreshedMs && nowMs - record.refreshedMs >= ms;
}

bool StationServer::Expired(const Record& record, uint64_t nowMs) const {
  return SilentFor(record, nowMs, limits_.expiryMs);
}

bool StationServer::SourceFull(uint32_t source) const {
  if (limits_.maxRecordsPerSource == 0) return false;
  auto found = recordsPerSource_.find(source);
  return found != recordsPerSource_.end() && found->second >= limits_.maxRecordsPerSource;
}

void StationServer::Hold(uint32_t source) { ++recordsPerSource_[source]; }

void StationServer::Release(uint32_t source) {
  auto found = recordsPerSource_.find(source);
  if (found == recordsPerSource_.end()) return;
  if (--found->second == 0) recordsPerSource_.erase(found);
}

StationServer::RecordMap::iterator StationServer::Erase(RecordMap::iterator record) {
  Release(record->second.source);
  return records_.erase(record);
}

size_t StationServer::Sweep(uint64_t nowMs) {
  size_t removed = 0;
  for (auto it = records_.begin(); it != records_.end();) {
    if (Expired(it->second, nowMs)) {
      it = Erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  counters_.expired += removed;
  return removed;
}

std::vector<StoredStation> StationServer::Stations(uint64_t nowMs) const {
  std::vector<StoredStation> stations;
  stations.reserve(records_.size());
  for (const auto& [nickname, record] : records_) {
    if (Expired(record, nowMs)) continue;
    uint64_t silent = nowMs >= record.refreshedMs ? nowMs - record.refreshedMs : 0;
    stations.push_back({nickname, record.text, record.source, silent});
  }
  return stations;
}

}  // namespace halcyra::server
