// The receive loop of halcyra-server and the whole program run (start-up, loop, stop), written
// against platform::Env so tests drive it with real sockets and a fake clock.
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/mutex.h"
#include "server_options.h"
#include "source_limits.h"
#include "station_server.h"

namespace halcyra::server {

// Receives one finished output line (without line break).
using LineSink = std::function<void(const std::string&)>;

// Writes a line at most once per interval; lines in between are only counted, and the count is
// reported with the next line written or by Flush once the interval has passed.
class RateLimitedLog {
 public:
  // what names the suppressed lines in the count, e.g. "rejected datagrams".
  RateLimitedLog(uint64_t intervalMs, std::string what, LineSink sink);

  void Write(uint64_t nowMs, const std::string& line) {
    Write(nowMs, [&line] { return line; });
  }
  // Builds the line only when it is written, so a flood of suppressed lines costs little.
  template <std::invocable MakeLine>
  void Write(uint64_t nowMs, MakeLine makeLine) {
    if (!IntervalPassed(nowMs)) {
      ++suppressed_;
      return;
    }
    Emit(nowMs, makeLine());
  }
  // Reports the count of suppressed lines once the interval since the last line has passed.
  void Flush(uint64_t nowMs);

 private:
  bool IntervalPassed(uint64_t nowMs) const;
  void Emit(uint64_t nowMs, const std::string& line);

  uint64_t intervalMs_;
  std::string what_;
  LineSink sink_;
  bool written_ = false;
  uint64_t lastWrittenMs_ = 0;
  uint64_t suppressed_ = 0;
};

struct ServerLoopTiming {
  int receiveWaitMs = 200;  // how often the stop request is checked while idle
  uint64_t sweepIntervalMs = 1000;
  uint64_t summaryIntervalMs = 60000;  // 0 = no summary
  uint64_t problemLogIntervalMs = 1000;
};

// Checks on a datagram's source before it is read. The defaults let everything through.
struct SourceDefences {
  NetworkList allow;  // empty = every address
  uint64_t rate = 0;  // requests per second per address; 0 = no limit
  uint64_t burst = 1;
};

// Running totals of the loop itself, besides the store's.
struct LoopCounters {
  uint64_t received = 0;      // datagrams, whatever became of them
  uint64_t notAllowed = 0;    // from outside the --allow networks
  uint64_t rateLimited = 0;   // over their address's rate
  uint64_t sendFailures = 0;  // answers the socket would not send
};

// What the status page shows, taken at one moment.
struct ServerStatus {
  std::vector<StoredStation> stations;
  StationServerCounters counters;
  LoopCounters loop;
  size_t records = 0;
  size_t sourcesHolding = 0;      // addresses that hold a nickname
  size_t sourcesRateTracked = 0;  // addresses with a rate bucket
  uint64_t uptimeMs = 0;
};

// Serves requests on a bound socket until stopRequested() is true; the request is checked after
// every datagram and at least every receiveWaitMs. Writes the summary and problem lines to out.
class ServerLoop {
 public:
  ServerLoop(platform::Env& env, platform::UdpSocket& socket, StationServer& server, ServerLoopTiming timing,
             LineSink out, SourceDefences defences = {});

  void Run(const std::function<bool()>& stopRequested) EXCLUDES(stateLock_);
  // A copy of the records and counters; safe from any thread while Run runs.
  ServerStatus Status() EXCLUDES(stateLock_);

 private:
  void HandleDatagram(const char* data, size_t size, uint32_t fromAddress, uint16_t fromPort, uint64_t nowMs)
      EXCLUDES(stateLock_);
  bool SourceAdmitted(uint32_t fromAddress, uint16_t fromPort, uint64_t nowMs) REQUIRES(stateLock_);
  void LogRefusal(const RequestResult& result, std::string_view datagram, uint32_t fromAddress,
                  uint16_t fromPort, uint64_t nowMs) REQUIRES(stateLock_);
  void HandleReceiveFailure(int received, uint64_t nowMs) EXCLUDES(stateLock_);
  void RunPeriodicWork(uint64_t nowMs) EXCLUDES(stateLock_);
  void WriteSummary(uint64_t nowMs) EXCLUDES(stateLock_);

  platform::Env& env_;
  platform::UdpSocket& socket_;
  // stateLock_ guards the store, the rate limiter and the counters: the loop holds it while it
  // handles a datagram, sweeps or sums up, Status() (the status page's threads) while it copies.
  // It is the server's only lock; out_ is called with it held. The members without a guard are
  // the loop thread's alone.
  platform::Mutex stateLock_;
  StationServer& server_ GUARDED_BY(stateLock_);
  NetworkList allow_;
  SourceRateLimiter limiter_ GUARDED_BY(stateLock_);
  LoopCounters counters_ GUARDED_BY(stateLock_);
  ServerLoopTiming timing_;
  LineSink out_;
  RateLimitedLog rejectLog_;
  RateLimitedLog dropLog_;
  RateLimitedLog socketLog_;
  uint64_t startMs_ GUARDED_BY(stateLock_) = 0;
  uint64_t nextSweepMs_ = 0;
  uint64_t nextSummaryMs_ = 0;
  uint64_t summaryStartMs_ = 0;
  StationServerCounters summaryStart_ GUARDED_BY(stateLock_);
  LoopCounters summaryStartLoop_ GUARDED_BY(stateLock_);
};

// The program: binds, writes the start-up line to out, serves until stopRequested(), writes the
// stop line. Errors go to err. Returns the process exit code: 0 after a clean stop, 1 when the
// socket could not be set up.
int RunServer(platform::Env& env, const ServerOptions& options, const std::function<bool()>& stopRequested,
              const LineSink& out, const LineSink& err);

// The datagram as printable text for log lines: at most maxBytes bytes, other bytes as \xNN.
std::string Printable(std::string_view datagram, size_t maxBytes);

}  // namespace halcyra::server
