// The exchange with the station server: publishing the local station and querying the stations of
// the other clients of the channel.
//
// A publish is one datagram from local port 10603. A query runs on its slot's request thread
// (Thread_UDPRequest, started with the slot's first query and kept for the next ones) from local
// port 10601, and its caller waits for it at most 450 ms. An abandoned query is cancelled: it never
// stores anything afterwards (the cancel is checked under the station model's lock), makes no host
// call afterwards, and closes its socket within one receive slice, which the caller waits for (a
// few milliseconds at most) so the port is free again. The caller never waits for the request
// thread beyond that: the thread may be busy elsewhere (a host call of a "(no found) " reply is made
// through the host call relay and given up with the query). Queries of one request slot run one at
// a time (slot lock); slot A serves the talk handler, slot B the refresh cycle.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/env.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"

namespace halcyra {

inline constexpr uint16_t kQueryLocalPort = 10601;
inline constexpr uint16_t kPublishLocalPort = 10603;
inline constexpr uint32_t kQueryTimeLimitMs = 450;
inline constexpr size_t kDatagramCapacity = 1023;  // bytes of a message, terminator included

// Results of one query.
enum QueryResult : int {
  kQueryRunning = 0,  // still running; after the wait: abandoned at the time limit
  kQueryStored = 1,   // a record was received and stored
  kQueryFailed = 2,   // socket failure, invalid reply, or nickname unknown to the server
};

// The messages of one caller of a query (all written only when LOGLEVEL >= 3).
struct QueryMessages {
  const char* tag;
  int timeoutLevel;      // "Thread_UDPRequest thread ID #%08X out of time (>%d ms) -> Terminated it"
  bool timedCompletion;  // "... is terminated normally (%d ms)" instead of "Request is terminated normally"
};

class StationServerExchange {
 public:
  class RequestSlot;

  StationServerExchange(platform::Env& env, Clog& log, Settings& settings, CHalcyra& model,
                        CTS3ClientsBase& clients, HostCallRelay& hostCalls);
  ~StationServerExchange();  // stops any running query

  StationServerExchange(const StationServerExchange&) = delete;
  StationServerExchange& operator=(const StationServerExchange&) = delete;

  // Publishes the local station (the text argument is not used). 0 sent, -1 failed.
  int SendHCDataToHCS(const char* text);

  // Queries the server for one nickname on slot A (talk handler) and waits at most 450 ms.
  void RefreshClientStatus(const char* nickname);

  // Queries on slot B (refresh cycle); returns the QueryResult. When stop is given and becomes true
  // during the wait, the query is abandoned at once (kQueryRunning), so the cycle stops promptly.
  int RefreshForCycle(const char* nickname, const std::atomic<bool>* stop = nullptr);

  // Gives up the queries in progress, refuses new ones, and waits for the request threads (which
  // end within a receive slice). A query's caller returns at once.
  void StopQueries();

  // The Env tick count (ms) at which the station server last answered a query; 0 before any answer.
  uint64_t LastAnswerTickMs() const { return lastAnswerMs_.load(); }

 private:
  struct QueryState;

  int Query(RequestSlot& slot, const char* nickname, const QueryMessages& messages,
            const std::atomic<bool>* stop);
  void RunRequest(QueryState& state);
  int SendAndReceive(QueryState& state, char* reply);
  int ReceiveReply(QueryState& state, platform::UdpSocket& socket, char* reply);
  int HandleReply(QueryState& state, const char* reply);
  void LogDetailed(const char* tag, const std::string& text, int level);

  platform::Env& env_;
  Clog& log_;
  Settings& settings_;
  CHalcyra& model_;
  CTS3ClientsBase& clients_;
  HostCallRelay& hostCalls_;
  std::atomic<bool> stopping_{false};      // set by StopQueries: no query waits or starts any more
  std::atomic<uint64_t> lastAnswerMs_{0};  // Env ticks of the last reply
  std::unique_ptr<RequestSlot> slotA_;
  std::unique_ptr<RequestSlot> slotB_;
};

}  // namespace halcyra
