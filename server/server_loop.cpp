#include "server_loop.h"

#include <cstdarg>
#include <cstdio>

#include "platform/http_server.h"
#include "platform/ipv4.h"
#include "platform/socket_errors.h"
#include "status_page.h"
#include "wire/station_messages.h"

namespace halcyra::server {
namespace {

std::string Printf(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (length < 0) return std::string();
  return std::string(
      text, static_cast<size_t>(length) < sizeof text ? static_cast<size_t>(length) : sizeof text - 1);
}

std::string Endpoint(uint32_t address, uint16_t port) {
  return FormatDottedIPv4(address) + ":" + std::to_string(port);
}

unsigned long long Count(uint64_t value) { return static_cast<unsigned long long>(value); }

uint64_t Requests(const StationServerCounters& c) {
  return c.stored + c.refused + c.held + c.sourceLimit + c.oversize + c.answered + c.notFound;
}

uint64_t Rejected(const StationServerCounters& c) { return c.tooLong + c.malformed; }

constexpr size_t kPrintedDatagramBytes = 48;

}  // namespace

std::string Printable(std::string_view datagram, size_t maxBytes) {
  std::string text;
  size_t shown = datagram.size() < maxBytes ? datagram.size() : maxBytes;
  for (size_t i = 0; i < shown; ++i) {
    unsigned char c = static_cast<unsigned char>(datagram[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      text += static_cast<char>(c);
    } else {
      text += Printf("\\x%02X", c);
    }
  }
  if (shown < datagram.size()) text += "...";
  return text;
}

RateLimitedLog::RateLimitedLog(uint64_t intervalMs, std::string what, LineSink sink)
    : intervalMs_(intervalMs), what_(std::move(what)), sink_(std::move(sink)) {}

bool RateLimitedLog::IntervalPassed(uint64_t nowMs) const {
  return !written_ || nowMs < lastWrittenMs_ || nowMs - lastWrittenMs_ >= intervalMs_;
}

void RateLimitedLog::Emit(uint64_t nowMs, const std::string& line) {
  if (suppressed_ > 0) {
    sink_(line + Printf(" (and %llu more %s before it)", Count(suppressed_), what_.c_str()));
  } else {
    sink_(line);
  }
  suppressed_ = 0;
  written_ = true;
  lastWrittenMs_ = nowMs;
}

void RateLimitedLog::Flush(uint64_t nowMs) {
  if (suppressed_ == 0 || !IntervalPassed(nowMs)) return;
  sink_(Printf("%llu more %s", Count(suppressed_), what_.c_str()));
  suppressed_ = 0;
  lastWrittenMs_ = nowMs;
}

ServerLoop::ServerLoop(platform::Env& env, platform::UdpSocket& socket, StationServer& server,
                       ServerLoopTiming timing, LineSink out, SourceDefences defences)
    : env_(env),
      socket_(socket),
      server_(server),
      allow_(std::move(defences.allow)),
      limiter_(defences.rate, defences.burst),
      timing_(timing),
      out_(std::move(out)),
      rejectLog_(timing.problemLogIntervalMs, "rejected or refused datagrams", out_),
      dropLog_(timing.problemLogIntervalMs, "dropped datagrams", out_),
      socketLog_(timing.problemLogIntervalMs, "socket errors", out_) {}

void ServerLoop::Run(const std::function<bool()>& stopRequested) {
  uint64_t start = env_.TickMs();
  {
    platform::MutexLock lock(stateLock_);
    startMs_ = start;
    summaryStart_ = server_.counters();
    summaryStartLoop_ = counters_;
  }
  nextSweepMs_ = start + timing_.sweepIntervalMs;
  nextSummaryMs_ = start + timing_.summaryIntervalMs;
  summaryStartMs_ = start;

  // One byte more than a request may have, so an over-long datagram that still fits is seen.
  char buffer[wire::kMaxDatagramBytes + 1];
  while (!stopRequested()) {
    uint32_t fromAddress = 0;
    uint16_t fromPort = 0;
    int received = socket_.ReceiveFrom(buffer, sizeof buffer, timing_.receiveWaitMs, &fromAddress, &fromPort);
    uint64_t now = env_.TickMs();
    if (received >= 0) {
      HandleDatagram(buffer, static_cast<size_t>(received), fromAddress, fromPort, now);
    } else {
      HandleReceiveFailure(received, now);
    }
    RunPeriodicWork(now);
  }
}

ServerStatus ServerLoop::Status() {
  uint64_t now = env_.TickMs();
  platform::MutexLock lock(stateLock_);
  ServerStatus status;
  status.stations = server_.Stations(now);
  status.counters = server_.counters();
  status.loop = counters_;
  status.records = server_.RecordCount();
  status.sourcesHolding = server_.SourceCount();
  status.sourcesRateTracked = limiter_.SourceCount();
  status.uptimeMs = now >= startMs_ ? now - startMs_ : 0;
  return status;
}

// The checks on the source come first and cost little, so a flood is dropped before it is read.
bool ServerLoop::SourceAdmitted(uint32_t fromAddress, uint16_t fromPort, uint64_t nowMs) {
  if (!allow_.Allows(fromAddress)) {
    ++counters_.notAllowed;
    dropLog_.Write(nowMs, [&] {
      return Printf("dropped a datagram from %s: not in an allowed network (--allow %s)",
                    Endpoint(fromAddress, fromPort).c_str(), allow_.Describe().c_str());
    });
    return false;
  }
  if (!limiter_.Allow(fromAddress, nowMs)) {
    ++counters_.rateLimited;
    // Read here: the lambda is checked as a function of its own, which does not hold stateLock_.
    uint64_t rate = limiter_.rate();
    uint64_t burst = limiter_.burst();
    dropLog_.Write(nowMs, [&] {
      return Printf("dropped a datagram from %s: over the rate limit of %llu requests/s (burst %llu)",
                    Endpoint(fromAddress, fromPort).c_str(), Count(rate), Count(burst));
    });
    return false;
  }
  return true;
}

void ServerLoop::HandleDatagram(const char* data, size_t size, uint32_t fromAddress, uint16_t fromPort,
                                uint64_t nowMs) {
  platform::MutexLock lock(stateLock_);
  ++counters_.received;
  if (!SourceAdmitted(fromAddress, fromPort, nowMs)) return;
  std::string_view datagram(data, size);
  RequestResult result = server_.Handle(datagram, fromAddress, nowMs);
  switch (result.outcome) {
    case RequestOutcome::kStored:
      break;
    case RequestOutcome::kAnswered:
    case RequestOutcome::kNotFound:
      if (socket_.SendTo(result.reply.data(), result.reply.size(), fromAddress, fromPort) < 0) {
        ++counters_.sendFailures;
        int error = socket_.LastError();
        socketLog_.Write(nowMs, [&] {
          return Printf("cannot answer %s: %s (error %d)", Endpoint(fromAddress, fromPort).c_str(),
                        platform::SocketErrorText(error).c_str(), error);
        });
      }
      break;
    default:
      LogRefusal(result, datagram, fromAddress, fromPort, nowMs);
      break;
  }
}

void ServerLoop::LogRefusal(const RequestResult& result, std::string_view datagram, uint32_t fromAddress,
                            uint16_t fromPort, uint64_t nowMs) {
  const StationServerLimits& limits = server_.limits();  // fixed while the server runs
  rejectLog_.Write(nowMs, [&]() -> std::string {
    std::string from = Endpoint(fromAddress, fromPort);
    std::string shown = Printable(datagram, kPrintedDatagramBytes);
    switch (result.outcome) {
      case RequestOutcome::kRefused:
        return Printf("refused a new record from %s: the store is full (%llu records): \"%s\"", from.c_str(),
                      Count(limits.maxRecords), shown.c_str());
      case RequestOutcome::kHeld:
        return Printf(
            "refused a record from %s: the nickname is held by %s, who published %.1f s ago "
            "(another address may take it after %.0f s of silence): \"%s\"",
            from.c_str(), FormatDottedIPv4(result.holder).c_str(),
            static_cast<double>(result.holderSilentMs) / 1000.0,
            static_cast<double>(limits.takeoverMs) / 1000.0, shown.c_str());
      case RequestOutcome::kSourceLimit:
        return Printf(
            "refused a new nickname from %s: the address already holds %llu nicknames "
            "(--max-records-per-source): \"%s\"",
            from.c_str(), Count(limits.maxRecordsPerSource), shown.c_str());
      case RequestOutcome::kOversize:
        return Printf(
            "refused a %zu-byte record from %s: longer than a plug-in's longest (%zu bytes): \"%s\"",
            datagram.size(), from.c_str(), limits.maxPublishBytes, shown.c_str());
      case RequestOutcome::kTooLong:
        return Printf("rejected a %zu-byte datagram from %s: longer than %zu bytes", datagram.size(),
                      from.c_str(), wire::kMaxDatagramBytes);
      default:
        return Printf("rejected a %zu-byte datagram from %s: %s: \"%s\"", datagram.size(), from.c_str(),
                      result.reason, shown.c_str());
    }
  });
}

void ServerLoop::HandleReceiveFailure(int received, uint64_t nowMs) {
  // Timed out, or interrupted by the stop of whoever runs the loop: nothing failed.
  if (received == platform::kReceiveTimedOut || received == platform::kReceiveInterrupted) return;
  if (received == platform::kReceiveTooLong) {
    {
      platform::MutexLock lock(stateLock_);
      ++counters_.received;
      server_.CountTooLong();
    }
    rejectLog_.Write(
        nowMs, [&] { return Printf("rejected a datagram longer than %zu bytes", wire::kMaxDatagramBytes); });
    return;
  }
  int error = socket_.LastError();
  // An answer sent to a client that has gone away; the socket is fine.
  if (platform::IsPortUnreachableError(error)) return;
  socketLog_.Write(nowMs, [&] {
    return Printf("receive failed: %s (error %d)", platform::SocketErrorText(error).c_str(), error);
  });
  env_.SleepMs(10);  // a failing socket must not spin the loop
}

void ServerLoop::RunPeriodicWork(uint64_t nowMs) {
  if (nowMs >= nextSweepMs_) {
    platform::MutexLock lock(stateLock_);
    server_.Sweep(nowMs);
    limiter_.Prune(nowMs);
    nextSweepMs_ = nowMs + timing_.sweepIntervalMs;
  }
  if (timing_.summaryIntervalMs > 0 && nowMs >= nextSummaryMs_) {
    WriteSummary(nowMs);
    nextSummaryMs_ = nowMs + timing_.summaryIntervalMs;
  }
  rejectLog_.Flush(nowMs);
  dropLog_.Flush(nowMs);
  socketLog_.Flush(nowMs);
}

void ServerLoop::WriteSummary(uint64_t nowMs) {
  platform::MutexLock lock(stateLock_);
  const StationServerCounters& now = server_.counters();
  const StationServerCounters& then = summaryStart_;
  uint64_t elapsedMs = nowMs > summaryStartMs_ ? nowMs - summaryStartMs_ : 1;
  double requestsPerSecond =
      static_cast<double>(Requests(now) - Requests(then)) * 1000.0 / static_cast<double>(elapsedMs);
  out_(
      Printf("summary: records=%zu requests/s=%.1f rejected=%llu refused=%llu held=%llu over-limit=%llu "
             "oversize=%llu rate-limited=%llu not-allowed=%llu expired=%llu unanswered=%llu interval=%.0fs",
             server_.RecordCount(), requestsPerSecond, Count(Rejected(now) - Rejected(then)),
             Count(now.refused - then.refused), Count(now.held - then.held),
             Count(now.sourceLimit - then.sourceLimit), Count(now.oversize - then.oversize),
             Count(counters_.rateLimited - summaryStartLoop_.rateLimited),
             Count(counters_.notAllowed - summaryStartLoop_.notAllowed), Count(now.expired - then.expired),
             Count(counters_.sendFailures - summaryStartLoop_.sendFailures),
             static_cast<double>(elapsedMs) / 1000.0));
  summaryStart_ = now;
  summaryStartLoop_ = counters_;
  summaryStartMs_ = nowMs;
}

int RunServer(platform::Env& env, const ServerOptions& options, const std::function<bool()>& stopRequested,
              const LineSink& out, const LineSink& err) {
  int started = env.StartNetworking();
  if (started != 0) {
    err(Printf("halcyra-server: cannot start networking: %s (error %d)",
               platform::SocketErrorText(started).c_str(), started));
    return 1;
  }
  std::unique_ptr<platform::UdpSocket> socket = env.CreateUdpSocket();
  if (!socket) {
    int error = env.LastNetworkingError();
    err(Printf("halcyra-server: cannot create a UDP socket: %s (error %d)",
               platform::SocketErrorText(error).c_str(), error));
    return 1;
  }
  int bound = socket->Bind(options.bindAddress, options.port);
  if (bound != 0) {
    err(Printf("halcyra-server: cannot listen on UDP %s: %s (error %d)",
               Endpoint(options.bindAddress, options.port).c_str(), platform::SocketErrorText(bound).c_str(),
               bound));
    return 1;
  }

  StationServerLimits limits;
  limits.maxRecords = static_cast<size_t>(options.maxRecords);
  limits.expiryMs = options.expirySeconds * 1000;
  limits.takeoverMs = options.takeoverSeconds * 1000;
  limits.maxRecordsPerSource = static_cast<size_t>(options.maxRecordsPerSource);
  StationServer server(limits);
  SourceDefences defences;
  for (const std::string& network : options.allow) defences.allow.Add(network);
  defences.rate = options.rate;
  defences.burst = options.burst;
  std::string served = defences.allow.empty() ? "everyone" : defences.allow.Describe();
  ServerLoopTiming timing;
  timing.summaryIntervalMs = options.summarySeconds * 1000;
  ServerLoop loop(env, *socket, server, timing, out, std::move(defences));

  std::unique_ptr<platform::HttpServer> http;
  if (options.httpEnabled) {
    std::string error;
    http = platform::StartHttpServer(
        options.httpAddress, options.httpPort,
        [&loop](const std::string& path) {
          return AnswerStatusRequest(path, [&loop] { return loop.Status(); });
        },
        &error);
    if (!http) {
      err("halcyra-server: status page (--http): " + error);
      return 1;
    }
  }

  std::string summary = options.summarySeconds > 0
                            ? Printf("summary every %llu s", Count(options.summarySeconds))
                            : "no summary";
  out(Printf("halcyra-server listening on %s (at most %llu records, expiry %llu s, %s)",
             Endpoint(options.bindAddress, socket->LocalPort()).c_str(), Count(options.maxRecords),
             Count(options.expirySeconds), summary.c_str()));
  std::string takeover = options.takeoverSeconds > 0
                             ? Printf("after %llu s of silence", Count(options.takeoverSeconds))
                             : "at any time";
  std::string perSource =
      options.maxRecordsPerSource > 0 ? std::to_string(options.maxRecordsPerSource) : "any number of";
  std::string rate = options.rate > 0 ? Printf("%llu requests/s per address (burst %llu)",
                                               Count(options.rate), Count(options.burst))
                                      : "no rate limit";
  out(
      Printf("defences: nicknames taken over %s, %s nicknames per address, %s, records up to %zu bytes, "
             "serving %s",
             takeover.c_str(), perSource.c_str(), rate.c_str(), limits.maxPublishBytes, served.c_str()));
  if (http) {
    out(Printf("status page on http://%s/ (also /stations.json and /metrics)",
               Endpoint(options.httpAddress, http->Port()).c_str()));
  }

  loop.Run(stopRequested);

  http.reset();
  socket->Close();
  out(Printf("halcyra-server stopped (records held: %zu)", server.RecordCount()));
  return 0;
}

}  // namespace halcyra::server
