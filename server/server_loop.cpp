#include "server_loop.h"

#include <cstdarg>
#include <cstdio>

#include "network/ipv4.h"
#include "network/wire/station_messages.h"
#include "platform/socket_errors.h"

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

uint64_t Requests(const StationServerCounters& c) { return c.stored + c.refused + c.answered + c.notFound; }

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
                       ServerLoopTiming timing, LineSink out)
    : env_(env),
      socket_(socket),
      server_(server),
      timing_(timing),
      out_(std::move(out)),
      rejectLog_(timing.problemLogIntervalMs, "rejected or refused datagrams", out_),
      socketLog_(timing.problemLogIntervalMs, "socket errors", out_) {}

void ServerLoop::Run(const std::function<bool()>& stopRequested) {
  uint64_t start = env_.TickMs();
  nextSweepMs_ = start + timing_.sweepIntervalMs;
  nextSummaryMs_ = start + timing_.summaryIntervalMs;
  summaryStartMs_ = start;
  summaryStart_ = server_.counters();
  summarySendFailures_ = sendFailures_;

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

void ServerLoop::HandleDatagram(const char* data, size_t size, uint32_t fromAddress, uint16_t fromPort,
                                uint64_t nowMs) {
  std::string_view datagram(data, size);
  RequestResult result = server_.Handle(datagram, nowMs);
  switch (result.outcome) {
    case RequestOutcome::kStored:
      break;
    case RequestOutcome::kAnswered:
    case RequestOutcome::kNotFound:
      if (socket_.SendTo(result.reply.data(), result.reply.size(), fromAddress, fromPort) < 0) {
        ++sendFailures_;
        int error = socket_.LastError();
        socketLog_.Write(nowMs, [&] {
          return Printf("cannot answer %s: %s (error %d)", Endpoint(fromAddress, fromPort).c_str(),
                        platform::SocketErrorText(error).c_str(), error);
        });
      }
      break;
    case RequestOutcome::kRefused:
      rejectLog_.Write(nowMs, [&] {
        return Printf("refused a new record from %s: the store is full (%llu records): \"%s\"",
                      Endpoint(fromAddress, fromPort).c_str(), Count(server_.limits().maxRecords),
                      Printable(datagram, kPrintedDatagramBytes).c_str());
      });
      break;
    case RequestOutcome::kTooLong:
      rejectLog_.Write(nowMs, [&] {
        return Printf("rejected a %zu-byte datagram from %s: longer than %zu bytes", size,
                      Endpoint(fromAddress, fromPort).c_str(), wire::kMaxDatagramBytes);
      });
      break;
    case RequestOutcome::kMalformed:
      rejectLog_.Write(nowMs, [&] {
        return Printf("rejected a %zu-byte datagram from %s: %s: \"%s\"", size,
                      Endpoint(fromAddress, fromPort).c_str(), result.reason,
                      Printable(datagram, kPrintedDatagramBytes).c_str());
      });
      break;
  }
}

void ServerLoop::HandleReceiveFailure(int received, uint64_t nowMs) {
  if (received == platform::kReceiveTimedOut) return;
  if (received == platform::kReceiveTooLong) {
    server_.CountTooLong();
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
    server_.Sweep(nowMs);
    nextSweepMs_ = nowMs + timing_.sweepIntervalMs;
  }
  if (timing_.summaryIntervalMs > 0 && nowMs >= nextSummaryMs_) {
    WriteSummary(nowMs);
    nextSummaryMs_ = nowMs + timing_.summaryIntervalMs;
  }
  rejectLog_.Flush(nowMs);
  socketLog_.Flush(nowMs);
}

void ServerLoop::WriteSummary(uint64_t nowMs) {
  const StationServerCounters& now = server_.counters();
  uint64_t elapsedMs = nowMs > summaryStartMs_ ? nowMs - summaryStartMs_ : 1;
  double requestsPerSecond =
      static_cast<double>(Requests(now) - Requests(summaryStart_)) * 1000.0 / static_cast<double>(elapsedMs);
  out_(
      Printf("summary: records=%zu requests/s=%.1f rejected=%llu refused=%llu expired=%llu "
             "unanswered=%llu interval=%.0fs",
             server_.RecordCount(), requestsPerSecond, Count(Rejected(now) - Rejected(summaryStart_)),
             Count(now.refused - summaryStart_.refused), Count(now.expired - summaryStart_.expired),
             Count(sendFailures_ - summarySendFailures_), static_cast<double>(elapsedMs) / 1000.0));
  summaryStart_ = now;
  summaryStartMs_ = nowMs;
  summarySendFailures_ = sendFailures_;
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

  std::string summary = options.summarySeconds > 0
                            ? Printf("summary every %llu s", Count(options.summarySeconds))
                            : "no summary";
  out(Printf("halcyra-server listening on %s (at most %llu records, expiry %llu s, %s)",
             Endpoint(options.bindAddress, socket->LocalPort()).c_str(), Count(options.maxRecords),
             Count(options.expirySeconds), summary.c_str()));

  StationServer server({static_cast<size_t>(options.maxRecords), options.expirySeconds * 1000});
  ServerLoopTiming timing;
  timing.summaryIntervalMs = options.summarySeconds * 1000;
  ServerLoop loop(env, *socket, server, timing, out);
  loop.Run(stopRequested);

  socket->Close();
  out(Printf("halcyra-server stopped (records held: %zu)", server.RecordCount()));
  return 0;
}

}  // namespace halcyra::server
