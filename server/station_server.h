// StationServer: the record store and request handling of halcyra-server, without sockets.
//
// Requests are single datagrams:
//   "SET:" nickname "@" fields " "  stores the text after "SET:" as the record of that nickname
//   "GET:" nickname "@ "            answers the stored record text, or "(no found) "
// The nickname is the text before the first "@". Records not refreshed by a SET for the expiry
// time are forgotten: at once when asked for, and by Sweep for the others.
//
// Nobody hijacks a pilot: a nickname belongs to the source address (IPv4, any port) that last
// published it, and another address may take it over only once the holder has been silent for the
// takeover time. Pilots behind one address (NAT) share it and never get in each other's way. One
// address holds at most maxRecordsPerSource nicknames, and a SET longer than the longest record a
// plug-in can send is refused, which also bounds the size of every answer.
//
// Not thread-safe: one thread (the server loop) owns a StationServer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "wire/station_messages.h"

namespace halcyra::server {

struct StationServerLimits {
  size_t maxRecords = 10000;   // nicknames stored at once, >= 1
  uint64_t expiryMs = 600000;  // a record not refreshed for this long is forgotten, >= 1
  // Another address may take a nickname over once its holder has been silent this long;
  // 0 = at any time (no ownership).
  uint64_t takeoverMs = 30000;
  size_t maxRecordsPerSource = 64;                  // nicknames one address may hold; 0 = no limit
  size_t maxPublishBytes = wire::kMaxPublishBytes;  // longest SET datagram taken
};

enum class RequestOutcome {
  kStored,       // SET: a record was created or refreshed
  kRefused,      // SET for a new nickname while the store is full
  kHeld,         // SET for a nickname another address holds
  kSourceLimit,  // SET for a new nickname from an address that holds maxRecordsPerSource
  kOversize,     // SET longer than maxPublishBytes
  kAnswered,     // GET: the record was found; reply holds it
  kNotFound,     // GET: no (live) record; reply is "(no found) "
  kTooLong,      // more than 1022 bytes
  kMalformed,    // not a SET or GET request with a nickname and "@"
};

struct RequestResult {
  RequestOutcome outcome = RequestOutcome::kMalformed;
  // The datagram to send back to the requester; empty when none. Valid until the next call that
  // changes the store (Handle or Sweep).
  std::string_view reply;
  // For kMalformed: why, for the log.
  const char* reason = "";
  // For kHeld: the holder's address and how long ago he last published.
  uint32_t holder = 0;
  uint64_t holderSilentMs = 0;
};

// Running totals since start.
struct StationServerCounters {
  uint64_t stored = 0;
  uint64_t refused = 0;
  uint64_t held = 0;
  uint64_t sourceLimit = 0;
  uint64_t oversize = 0;
  uint64_t answered = 0;
  uint64_t notFound = 0;
  uint64_t tooLong = 0;
  uint64_t malformed = 0;
  uint64_t expired = 0;
  uint64_t takenOver = 0;  // nicknames that passed to another address after the takeover time
};

// One stored record as the status page shows it.
struct StoredStation {
  std::string nickname;
  std::string text;       // the publish text after "SET:"
  uint32_t source = 0;    // the holding address
  uint64_t silentMs = 0;  // since the last publish
};

class StationServer {
 public:
  explicit StationServer(StationServerLimits limits);

  // Handles one request datagram from the IPv4 address source (host order) received at nowMs (a
  // monotonic millisecond clock).
  RequestResult Handle(std::string_view datagram, uint32_t source, uint64_t nowMs);
  // Counts a datagram that was too long to be received whole.
  void CountTooLong() { ++counters_.tooLong; }
  // Forgets every record not refreshed for the expiry time. Returns how many went.
  size_t Sweep(uint64_t nowMs);

  size_t RecordCount() const { return records_.size(); }
  // Addresses that hold at least one nickname.
  size_t SourceCount() const { return recordsPerSource_.size(); }
  const StationServerCounters& counters() const { return counters_; }
  const StationServerLimits& limits() const { return limits_; }
  // Every live record, in no particular order.
  std::vector<StoredStation> Stations(uint64_t nowMs) const;

 private:
  struct Record {
    std::string text;  // the publish text after "SET:", as sent
    uint64_t refreshedMs = 0;
    uint32_t source = 0;
  };
  // Lets find() take a string_view without building a std::string.
  struct NicknameHash {
    using is_transparent = void;
    size_t operator()(std::string_view nickname) const { return std::hash<std::string_view>()(nickname); }
  };
  using RecordMap = std::unordered_map<std::string, Record, NicknameHash, std::equal_to<>>;

  RequestResult Malformed(const char* reason);
  RequestResult Store(std::string_view nickname, std::string_view record, uint32_t source, uint64_t nowMs);
  RequestResult Answer(std::string_view nickname, uint64_t nowMs);
  bool Expired(const Record& record, uint64_t nowMs) const;
  bool SilentFor(const Record& record, uint64_t nowMs, uint64_t ms) const;
  bool SourceFull(uint32_t source) const;
  void Hold(uint32_t source);
  void Release(uint32_t source);
  RecordMap::iterator Erase(RecordMap::iterator record);

  StationServerLimits limits_;
  RecordMap records_;
  std::unordered_map<uint32_t, size_t> recordsPerSource_;  // only addresses holding >= 1
  StationServerCounters counters_;
};

}  // namespace halcyra::server
