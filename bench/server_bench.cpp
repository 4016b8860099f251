// Station server GET throughput on loopback with every defence on and with them off, beside a plain
// UDP echo loop on the same socket layer as the ceiling. A load generator keeps a window of requests
// outstanding and counts answers. Goal: at least 150 000 answers/s and at least 0.8 of the echo
// figure with the defences on.
//
// Then the real server loop under attack, fed by a scripted socket that can claim any source address
// (a flood from a million addresses needs no raw sockets) on a fake clock: the memory a
// 1,000,000-nickname flood leaves, a hijack attempt at full rate, and the bytes a spoofed request can
// reflect.
//
//   build/bench/bin/server_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_env.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "server_loop.h"
#include "station_server.h"
#include "station_stand_in.h"
#include "wire/station_messages.h"

namespace halcyra::server {
namespace {

constexpr int kPilots = 1000;
constexpr int kAnswersPerIteration = 2000;
constexpr int kLostReplyWaitMs = 500;

std::string PilotName(int index) { return "Pilot " + std::to_string(index); }

std::string PilotRecord(int index) {
  return PilotName(index) + "@42.176000 42.480000 1655 251.000 124.000 030.000 X__ 251.000 12 2 ";
}

std::unique_ptr<platform::UdpSocket> LoopbackSocket() {
  platform::Env& env = platform::Env::Default();
  env.StartNetworking();
  std::unique_ptr<platform::UdpSocket> socket = env.CreateUdpSocket();
  if (!socket || socket->Bind(kLoopbackAddress, 0) != 0) {
    std::fprintf(stderr, "cannot open a loopback UDP socket\n");
    std::abort();
  }
  return socket;
}

// Sends requests round-robin with at most window outstanding until answers replies came back.
// Returns the replies lost (not answered within kLostReplyWaitMs).
int64_t Drive(platform::UdpSocket& client, uint16_t port, const std::vector<std::string>& requests,
              int window, int answers) {
  char buffer[2048];
  size_t next = 0;
  auto sendOne = [&] {
    const std::string& request = requests[next++ % requests.size()];
    client.SendTo(request.data(), request.size(), kLoopbackAddress, port);
  };
  int outstanding = 0;
  int64_t lost = 0;
  for (; outstanding < window; ++outstanding) sendOne();
  for (int answered = 0; answered < answers;) {
    int received = client.ReceiveFrom(buffer, sizeof buffer, kLostReplyWaitMs, nullptr, nullptr);
    if (received > 0) {
      ++answered;
    } else {
      ++lost;
    }
    sendOne();
  }
  // Collect the window still in flight so the next iteration starts clean.
  for (; outstanding > 0; --outstanding) {
    if (client.ReceiveFrom(buffer, sizeof buffer, kLostReplyWaitMs, nullptr, nullptr) <= 0) ++lost;
  }
  return lost;
}

// The ceiling: receive with the same wait and send the datagram straight back.
void EchoLoop(platform::UdpSocket& socket, const std::function<bool()>& stop) {
  char buffer[wire::kMaxDatagramBytes + 1];
  while (!stop()) {
    uint32_t address = 0;
    uint16_t port = 0;
    int received = socket.ReceiveFrom(buffer, sizeof buffer, 200, &address, &port);
    if (received >= 0) socket.SendTo(buffer, static_cast<size_t>(received), address, port);
  }
}

double SecondsOf(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The shipped defences, at a cost the same as their defaults: the load generator is one address,
// so its rate limit is set beyond what it sends (the bucket is still looked up, refilled and
// taken from for every datagram); the pilots' records come from 16 addresses.
SourceDefences DefencesOn() {
  SourceDefences defences;
  defences.allow.Add("10.0.0.0/8");
  defences.allow.Add("127.0.0.0/8");
  defences.rate = 100000000;
  defences.burst = 100000000;
  return defences;
}

StationServerLimits LimitsOff() {
  StationServerLimits limits;
  limits.takeoverMs = 0;
  limits.maxRecordsPerSource = 0;
  limits.maxPublishBytes = wire::kMaxDatagramBytes;
  return limits;
}

std::unique_ptr<testing::LoopbackService> ServeStore(StationServer& server, SourceDefences defences) {
  for (int i = 0; i < kPilots; ++i) server.Handle("SET:" + PilotRecord(i), kLoopbackAddress + i % 16, 0);
  auto service = std::make_unique<testing::LoopbackService>();
  service->Start([&server, defences](platform::UdpSocket& socket, const std::function<bool()>& stop) {
    ServerLoopTiming timing;
    timing.summaryIntervalMs = 0;
    ServerLoop loop(
        platform::Env::Default(), socket, server, timing, [](const std::string&) {}, defences);
    loop.Run(stop);
  });
  return service;
}

// Station server GETs with the defences on, the same with them off, and echoes of record-sized
// datagrams, batch by batch in turn, so all three figures see the same machine load. Counters:
// answers per second of each and their ratios to the echo.
void BM_ServerGetVersusEcho(benchmark::State& state) {
  StationServer defended({}), open(LimitsOff());
  std::unique_ptr<testing::LoopbackService> on = ServeStore(defended, DefencesOn());
  std::unique_ptr<testing::LoopbackService> off = ServeStore(open, SourceDefences{});
  testing::LoopbackService echo;
  echo.Start(&EchoLoop);

  std::vector<std::string> queries, records;
  for (int i = 0; i < kPilots; ++i) {
    queries.push_back(wire::FormatQuery(PilotName(i)));
    records.push_back(PilotRecord(i));
  }
  std::unique_ptr<platform::UdpSocket> client = LoopbackSocket();
  int window = static_cast<int>(state.range(0));
  double onSeconds = 0, offSeconds = 0, echoSeconds = 0;
  int64_t lost = 0;
  for (auto _ : state) {
    echoSeconds +=
        SecondsOf([&] { lost += Drive(*client, echo.port(), records, window, kAnswersPerIteration); });
    onSeconds +=
        SecondsOf([&] { lost += Drive(*client, on->port(), queries, window, kAnswersPerIteration); });
    offSeconds +=
        SecondsOf([&] { lost += Drive(*client, off->port(), queries, window, kAnswersPerIteration); });
  }
  double answers = static_cast<double>(state.iterations()) * kAnswersPerIteration;
  state.counters["server_answers/s"] = answers / onSeconds;
  state.counters["server_off_answers/s"] = answers / offSeconds;
  state.counters["echo_answers/s"] = answers / echoSeconds;
  state.counters["server/echo"] = echoSeconds / onSeconds;
  state.counters["server_off/echo"] = echoSeconds / offSeconds;
  state.counters["lost"] = static_cast<double>(lost);
}

// A socket that hands the loop the datagrams of a generator, from whatever address it names, and
// counts what the loop sends back. The generator runs on the loop's thread, between datagrams.
class ScriptedSocket : public platform::UdpSocket {
 public:
  // Fills the next datagram and its source; false when the script is over.
  using Next = std::function<bool(std::string* datagram, uint32_t* from)>;
  explicit ScriptedSocket(Next next) : next_(std::move(next)) {}

  int Bind(uint32_t, uint16_t) override { return 0; }
  int SendTo(const void* data, size_t size, uint32_t address, uint16_t) override {
    bytesOut += size;
    lastReplyTo = address;
    lastReply.assign(static_cast<const char*>(data), size);
    return static_cast<int>(size);
  }
  int ReceiveFrom(void* buffer, size_t capacity, int, uint32_t* fromAddress, uint16_t* fromPort) override {
    if (done || !next_(&datagram_, fromAddress)) {
      done = true;
      return platform::kReceiveTimedOut;
    }
    *fromPort = 10601;
    size_t size = datagram_.size() < capacity ? datagram_.size() : capacity;
    datagram_.copy(static_cast<char*>(buffer), size);
    bytesIn += size;
    return static_cast<int>(size);
  }
  uint16_t LocalPort() const override { return 10600; }
  void Shutdown() override {}
  void Close() override {}
  int LastError() const override { return 0; }

  bool done = false;
  uint64_t bytesIn = 0, bytesOut = 0;
  uint32_t lastReplyTo = 0;
  std::string lastReply;

 private:
  Next next_;
  std::string datagram_;
};

// The shipped configuration: the defaults of halcyra-server's command line.
StationServerLimits ShippedLimits() {
  ServerOptions options;
  StationServerLimits limits;
  limits.maxRecords = options.maxRecords;
  limits.expiryMs = options.expirySeconds * 1000;
  limits.takeoverMs = options.takeoverSeconds * 1000;
  limits.maxRecordsPerSource = options.maxRecordsPerSource;
  return limits;
}

SourceDefences ShippedDefences() {
  ServerOptions options;
  SourceDefences defences;
  defences.rate = options.rate;
  defences.burst = options.burst;
  return defences;
}

// Runs the real loop over a scripted socket on a fake clock that advances 1 ms every
// datagramsPerMs datagrams (100 per ms: a flood of 100 000 datagrams/s).
struct Attack {
  testing::FakeEnv clock;
  StationServer server{ShippedLimits()};
  std::unique_ptr<ScriptedSocket> socket;
  std::unique_ptr<ServerLoop> loop;

  Attack(const std::function<bool(uint64_t, std::string*, uint32_t*)>& next, int datagramsPerMs = 100) {
    socket =
        std::make_unique<ScriptedSocket>([this, next, datagramsPerMs](std::string* datagram, uint32_t* from) {
          if (sent_ > 0 && sent_ % datagramsPerMs == 0) clock.tickMs += 1;
          return next(sent_++, datagram, from);
        });
    ServerLoopTiming timing;
    timing.summaryIntervalMs = 0;
    timing.receiveWaitMs = 0;
    loop = std::make_unique<ServerLoop>(
        clock, *socket, server, timing, [](const std::string&) {}, ShippedDefences());
  }
  void Run() {
    loop->Run([this] { return socket->done; });
  }

 private:
  uint64_t sent_ = 0;
};

// Resident memory of this process in MiB (Linux).
double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  double pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096.0 / (1024.0 * 1024.0);
}

const std::string kFloodFields = "@42.000000 41.000000 1000 251.000 000.000 000.000 X__ 000.000 0 0 ";

// 1,000,000 SETs under new nicknames, each from a new (spoofed) address: the worst case for the
// store, the per-address table and the rate buckets. Counters: records and rate buckets left, and
// resident memory after the flood against before the first one (freed memory stays with the
// process, so every repetition reports the high-water mark).
void BM_NicknameFlood(benchmark::State& state) {
  constexpr uint64_t kFlood = 1000000;
  static const double before = ResidentMiB();
  for (auto _ : state) {
    Attack attack([](uint64_t i, std::string* datagram, uint32_t* from) {
      if (i >= kFlood) return false;
      *datagram = "SET:Flood " + std::to_string(i) + kFloodFields;
      *from = 0x0B000000u + static_cast<uint32_t>(i);
      return true;
    });
    attack.Run();
    ServerStatus status = attack.loop->Status();
    state.counters["records"] = static_cast<double>(status.records);
    state.counters["rate_buckets"] = static_cast<double>(status.sourcesRateTracked);
    state.counters["memory_growth_MiB"] = ResidentMiB() - before;
    state.counters["refused"] =
        static_cast<double>(status.counters.refused + status.counters.sourceLimit + status.loop.rateLimited);
  }
}

// A pilot publishes 4 times a second from his address while a hijacker sends SETs for his nickname
// at 100 000 a second, half from his own address and half from addresses that change every
// datagram. Every 1000 datagrams the pilot asks for his record. Counters: answers that were not his
// last publish (goal 0, reported as unchanged = 1 when there were none) and the refusals.
void BM_HijackAtFullRate(benchmark::State& state) {
  constexpr uint64_t kDatagrams = 1000000;  // 10 s of attack
  constexpr uint32_t kPilot = 0x0A000001, kHijacker = 0x0A000042;
  const std::string pilotRecord = "Hawk" + kFloodFields;
  for (auto _ : state) {
    uint64_t checked = 0, changed = 0;
    ScriptedSocket* socket = nullptr;
    Attack attack([&](uint64_t i, std::string* datagram, uint32_t* from) {
      if (socket && socket->lastReplyTo == kPilot) {
        ++checked;
        if (socket->lastReply != pilotRecord) ++changed;
        socket->lastReplyTo = 0;
      }
      if (i >= kDatagrams) return false;
      if (i % 25000 == 0) {  // every 250 ms
        *datagram = "SET:" + pilotRecord;
        *from = kPilot;
      } else if (i % 1000 == 1) {
        *datagram = "GET:Hawk@ ";
        *from = kPilot;
      } else {
        *datagram = "SET:Hawk@0.000000 0.000000 0 000.000 000.000 000.000 ___ 000.000 0 0 ";
        *from = i % 2 ? kHijacker : 0x0C000000u + static_cast<uint32_t>(i);
      }
      return true;
    });
    socket = attack.socket.get();
    attack.Run();
    ServerStatus status = attack.loop->Status();
    state.counters["answers_checked"] = static_cast<double>(checked);
    state.counters["answers_changed"] = static_cast<double>(changed);
    state.counters["unchanged"] = changed == 0 && checked > 0 ? 1 : 0;
    state.counters["held"] = static_cast<double>(status.counters.held);
    state.counters["rate_limited"] = static_cast<double>(status.loop.rateLimited);
  }
}

// Reflection: the longest record a store can hold under a one-letter nickname, asked for by
// "GET:x@" (6 bytes, the shortest query) from one spoofed victim address at 100 000 a second for
// 10 s. Counters: the worst single answer per byte asked, the whole flood's bytes out per byte in,
// and the bytes per second the victim receives.
void BM_ReflectionFlood(benchmark::State& state) {
  constexpr uint64_t kDatagrams = 1000000;
  constexpr uint32_t kVictim = 0xC0000201;  // 192.0.2.1
  std::string worst = "SET:x@" + std::string(wire::kMaxPublishBytes - 6, '9');
  for (auto _ : state) {
    Attack attack([&](uint64_t i, std::string* datagram, uint32_t* from) {
      if (i > kDatagrams) return false;
      *datagram = i == 0 ? worst : "GET:x@";
      *from = i == 0 ? 0x0A000001u : kVictim;
      return true;
    });
    attack.Run();
    double in = static_cast<double>(attack.socket->bytesIn - worst.size());
    state.counters["answer_bytes_per_query_byte"] =
        static_cast<double>(attack.socket->lastReply.size()) / 6.0;
    state.counters["flood_bytes_out_per_byte_in"] = static_cast<double>(attack.socket->bytesOut) / in;
    state.counters["victim_bytes/s"] = static_cast<double>(attack.socket->bytesOut) / 10.0;
  }
}

// The store alone, without sockets: the cost of one GET in Handle.
void BM_HandleGet(benchmark::State& state) {
  StationServer server({});
  for (int i = 0; i < 10000; ++i) server.Handle("SET:" + PilotRecord(i), 0x0A000000u + i % 1000, 0);
  std::vector<std::string> requests;
  for (int i = 0; i < 10000; ++i) requests.push_back(wire::FormatQuery(PilotName(i * 7919 % 10000)));
  size_t next = 0;
  for (auto _ : state) {
    RequestResult result = server.Handle(requests[next++ % requests.size()], kLoopbackAddress, 1);
    benchmark::DoNotOptimize(result.reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ServerGetVersusEcho)->Arg(32)->Arg(8)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_HandleGet);
BENCHMARK(BM_NicknameFlood)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HijackAtFullRate)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReflectionFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace halcyra::server
