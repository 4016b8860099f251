// The exchange with the station server: publishing the local station and querying the stations of
// the other clients of the channel.
//
// A publish is one datagram from local port 10603. Queries go out from one socket bound on local
// port 10601 for the exchange's life, and one thread, Thread_UDPRequest (the query thread), sends
// them, receives every reply and matches it to its query:
// - a record reply by the nickname it carries; it answers every query of that nickname in flight;
// - "(no found) " carries no nickname: such answers (and unreadable ones) are counted, and once
//   there are as many of them as queries still in flight, those queries are all answered by them
//   ("(no found) ": that client goes back to the listener's position). While an answer may have
//   been lost (a query ran out of time with such an answer uncounted for) they are matched to no
//   query: each runs into its time limit, which costs only that pilot's refresh.
// Every query waits at most 450 ms after it went out. A refresh pass sends all its queries at once
// in a paced burst (groups of kQueryGroupSize, at most kQueryBurst at that pace and then
// kQueryRatePerSecond), well within halcyra-server's default limit per address (500 requests/s,
// bursts of 1000), so a pass costs one round trip. A talk handler's query is handed to the thread
// and answered through a callback: its caller never waits on the network.
//
// Only the station server is believed: a datagram whose source is not the configured server's
// address and port is dropped, counted and reported at level 0 at most once a minute.
//
// Port 10601 that cannot be bound (another program holds it) is reported at level 0 and tried
// again with the next query; meanwhile queries fail at once.
//
// Lock order: lock_ comes before a StopToken's lock; wakeLock_ is a leaf and is held only to send
// a wake-up to the query thread (one datagram on loopback). No lock is held across a socket call
// on the server's side, a host call or a callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"

namespace halcyra {

inline constexpr uint16_t kQueryLocalPort = 10601;
inline constexpr uint16_t kPublishLocalPort = 10603;
inline constexpr uint32_t kQueryTimeLimitMs = 450;  // per query, from the moment it went out
inline constexpr size_t kDatagramCapacity = 1023;   // bytes of a message, terminator included

// Pacing of the queries (all callers together).
inline constexpr int kQueryGroupSize = 25;            // queries sent back to back
inline constexpr uint32_t kQueryGroupIntervalMs = 2;  // pause after each group
inline constexpr int kQueryBurst = 250;               // queries that may go out at the group pace
inline constexpr int kQueryRatePerSecond = 250;       // the pace once the burst is spent

// How often the drops of replies from other sources are reported.
inline constexpr uint32_t kDroppedReportIntervalMs = 60000;

// Results of one query.
enum QueryResult : int {
  kQueryRunning = 0,  // no answer within the time limit, or given up (stop)
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
  // The answer to a talk handler's query, called on the query thread with the QueryResult. Host
  // calls it makes go through the host call relay with hostCallStop, which the exchange's stop
  // cancels.
  using TalkAnswer = std::function<void(int result, const platform::StopToken& hostCallStop)>;

  StationServerExchange(platform::Env& env, Clog& log, Settings& settings, CHalcyra& model,
                        CTS3ClientsBase& clients, HostCallRelay& hostCalls);
  ~StationServerExchange();  // Stop()

  StationServerExchange(const StationServerExchange&) = delete;
  StationServerExchange& operator=(const StationServerExchange&) = delete;

  // Starts Thread_UDPRequest, which binds port 10601. False when the thread could not be started.
  [[nodiscard]] bool Start() EXCLUDES(lock_);
  // Tells the query thread to end (it is woken at once) without waiting for it: queries in
  // progress end with kQueryRunning, talk answers not yet given are never given, later queries are
  // refused, and host calls of the thread give up.
  void RequestStop() EXCLUDES(lock_);
  // RequestStop(), then waits for the thread, which closes port 10601.
  void Stop() EXCLUDES(lock_);

  // Publishes the local station (the text argument is not used). 0 sent, -1 failed.
  int SendHCDataToHCS(const char* text);

  // The queries of one refresh pass, in order; returns each one's QueryResult. Returns when every
  // query is answered or out of time (at most the burst's pacing + 450 ms), at once with
  // kQueryRunning for the open ones when stop is requested or the exchange stops.
  std::vector<int> RefreshPass(const std::vector<std::string>& nicknames, const platform::StopToken& stop)
      EXCLUDES(lock_);
  // One query of the refresh cycle (a pass of one).
  int RefreshForCycle(const char* nickname, const platform::StopToken& stop = {}) EXCLUDES(lock_);

  // Hands a talk handler's query for one nickname to the query thread and returns at once; answer
  // (may be empty) gets the result within 450 ms of the query going out. A query of the same
  // nickname that has not gone out yet answers this caller instead of its own.
  void RefreshClientStatus(const char* nickname, TalkAnswer answer = nullptr) EXCLUDES(lock_, wakeLock_);

  // The Env tick count (ms) at which the station server last answered a query; 0 before any answer.
  uint64_t LastAnswerTickMs() const { return lastAnswerMs_.load(); }
  // The query thread's identifier (the "Thread ID" of the query log lines); 0 before it runs.
  uint32_t QueryThreadId() const { return threadId_.load(); }
  // Datagrams dropped so far because the station server did not send them.
  uint64_t DroppedForeignReplies() const { return droppedTotal_.load(); }

 private:
  struct Query;
  struct Pass;
  struct Datagram;
  class Pacer;

  void Enqueue(std::vector<std::shared_ptr<Query>> queries) EXCLUDES(lock_, wakeLock_);
  void Wake() EXCLUDES(lock_, wakeLock_);
  void InterruptReceive() EXCLUDES(wakeLock_);  // for the stop: the thread's receive returns at once
  void Run(platform::StopToken stop) EXCLUDES(lock_);
  bool OpenSocket(bool reportFailure) EXCLUDES(lock_);
  void CloseSocket() EXCLUDES(lock_);
  uint64_t SendDue(uint64_t nowMs) EXCLUDES(lock_);
  bool SendQuery(const std::shared_ptr<Query>& query, uint64_t nowMs) EXCLUDES(lock_);
  uint64_t ExpireDue(uint64_t nowMs) EXCLUDES(lock_);
  void ReceiveOne(int waitMs) EXCLUDES(lock_);  // milliseconds, negative: without limit
  void HandleReply(const char* reply, uint64_t nowMs) EXCLUDES(lock_);
  void StoreRecord(const char* reply, StationRecord scratch, uint64_t nowMs) EXCLUDES(lock_);
  void CountUnmatchedAnswer(bool notFound, uint64_t nowMs) EXCLUDES(lock_);
  void MatchUnmatchedAnswers(uint64_t nowMs) EXCLUDES(lock_);
  void Complete(const std::vector<std::shared_ptr<Query>>& queries, int result, uint64_t nowMs)
      EXCLUDES(lock_);
  void FailQueued(int result) EXCLUDES(lock_);
  void NoteForeign(uint32_t address, uint16_t port, uint64_t nowMs);
  void ReportForeign(uint64_t nowMs, bool force);
  bool IsWake(uint32_t address, uint16_t port) const;
  void LogDetailed(const char* tag, const std::string& text, int level);

  platform::Env& env_;
  Clog& log_;
  Settings& settings_;
  CHalcyra& model_;
  CTS3ClientsBase& clients_;
  HostCallRelay& hostCalls_;

  platform::Mutex lock_ ACQUIRED_BEFORE(wakeLock_);                 // the queries and the thread's state
  platform::ConditionVariable changed_;                             // a query queued, a pass ended, the stop
  std::deque<std::shared_ptr<Query>> toSend_ GUARDED_BY(lock_);     // in order, not yet sent
  std::vector<std::shared_ptr<Query>> inFlight_ GUARDED_BY(lock_);  // sent, unanswered, in time
  int unmatchedNotFound_ GUARDED_BY(lock_) = 0;     // "(no found) " answers not matched to a query yet
  int unmatchedInvalid_ GUARDED_BY(lock_) = 0;      // unreadable answers not matched to a query yet
  bool answerMayBeLost_ GUARDED_BY(lock_) = false;  // a query ran out while such answers were counted
  bool running_ GUARDED_BY(lock_) = false;          // the query thread takes queries
  // Answers without a nickname that come before this tick may be late ones of queries that ran out.
  uint64_t lateAnswersUntilMs_ GUARDED_BY(lock_) = 0;
  platform::StopSource stopSource_ GUARDED_BY(lock_);  // a new one for each start
  std::unique_ptr<platform::Thread> thread_;           // started and joined by Start / Stop only

  platform::Mutex wakeLock_;                         // a leaf: held to send one wake-up datagram
  std::unique_ptr<platform::UdpSocket> wakeSocket_;  // sends the wake-ups; made by Start
  uint16_t wakePort_ = 0;                            // its port on 127.0.0.1; set by Start
  std::atomic<bool> wakeLost_{false};                // a wake-up could not be sent: waits stay bounded
  // socket_ while port 10601 is bound: wake-ups reach the thread, and the stop interrupts its receive.
  platform::UdpSocket* listeningSocket_ GUARDED_BY(wakeLock_) = nullptr;

  // The query thread's own (Run and what it calls).
  std::unique_ptr<platform::UdpSocket> socket_;
  std::unique_ptr<Pacer> pacer_;
  platform::StopSource hostCallStop_;  // stopped by Stop: host calls of the thread give up
  uint64_t bindReportedMs_ = 0;        // when a failed bind was last reported (0: never)
  uint64_t receiveReportedMs_ = 0;     // when a receive failure was last reported (0: never)
  uint64_t droppedUnreported_ = 0;     // foreign datagrams since the last report
  uint64_t droppedReportedMs_ = 0;     // when they were last reported (0: never)
  uint32_t lastForeignAddress_ = 0;
  uint16_t lastForeignPort_ = 0;

  std::atomic<uint32_t> threadId_{0};
  std::atomic<uint64_t> lastAnswerMs_{0};  // Env ticks of the last reply of the server
  std::atomic<uint64_t> droppedTotal_{0};
};

}  // namespace halcyra
