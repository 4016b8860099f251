// StationServer: the record store and request handling of halcyra-server, without sockets.
//
// Requests are single datagrams:
//   "SET:" nickname "@" fields " "  stores the text after "SET:" as the record of that nickname
//   "GET:" nickname "@ "            answers the stored record text, or "(no found) "
// The nickname is the text before the first "@". Records not refreshed by a SET for the expiry
// time are forgotten: at once when asked for, and by Sweep for the others.
//
// Not thread-safe: one thread (the server loop) owns a StationServer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace halcyra::server {

struct StationServerLimits {
  size_t maxRecords = 10000;   // nicknames stored at once, >= 1
  uint64_t expiryMs = 600000;  // a record not refreshed for this long is forgotten, >= 1
};

enum class RequestOutcome {
  kStored,     // SET: a record was created or refreshed
  kRefused,    // SET for a new nickname while the store is full
  kAnswered,   // GET: the record was found; reply holds it
  kNotFound,   // GET: no (live) record; reply is "(no found) "
  kTooLong,    // more than 1022 bytes
  kMalformed,  // not a SET or GET request with a nickname and "@"
};

struct RequestResult {
  RequestOutcome outcome = RequestOutcome::kMalformed;
  // The datagram to send back to the requester; empty when none. Valid until the next call that
  // changes the store (Handle or Sweep).
  std::string_view reply;
  // For kMalformed: why, for the log.
  const char* reason = "";
};

// Running totals since start.
struct StationServerCounters {
  uint64_t stored = 0;
  uint64_t refused = 0;
  uint64_t answered = 0;
  uint64_t notFound = 0;
  uint64_t tooLong = 0;
  uint64_t malformed = 0;
  uint64_t expired = 0;
};

class StationServer {
 public:
  explicit StationServer(StationServerLimits limits);

  // Handles one request datagram received at nowMs (a monotonic millisecond clock).
  RequestResult Handle(std::string_view datagram, uint64_t nowMs);
  // Counts a datagram that was too long to be received whole.
  void CountTooLong() { ++counters_.tooLong; }
  // Forgets every record not refreshed for the expiry time. Returns how many went.
  size_t Sweep(uint64_t nowMs);

  size_t RecordCount() const { return records_.size(); }
  const StationServerCounters& counters() const { return counters_; }
  const StationServerLimits& limits() const { return limits_; }

 private:
  struct Record {
    std::string text;  // the publish text after "SET:", as sent
    uint64_t refreshedMs = 0;
  };
  // Lets find() take a string_view without building a std::string.
  struct NicknameHash {
    using is_transparent = void;
    size_t operator()(std::string_view nickname) const { return std::hash<std::string_view>()(nickname); }
  };
  using RecordMap = std::unordered_map<std::string, Record, NicknameHash, std::equal_to<>>;

  RequestResult Malformed(const char* reason);
  RequestResult Store(std::string_view nickname, std::string_view record, uint64_t nowMs);
  RequestResult Answer(std::string_view nickname, uint64_t nowMs);
  bool Expired(const Record& record, uint64_t nowMs) const;

  StationServerLimits limits_;
  RecordMap records_;
  StationServerCounters counters_;
};

}  // namespace halcyra::server
