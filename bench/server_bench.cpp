// Station server GET throughput on loopback, beside a plain UDP echo loop on the same socket layer
// as the ceiling. A load generator keeps a window of requests outstanding and counts answers.
// Goal: at least 150 000 answers/s and at least 0.8 of the echo figure.
//
//   build/bench/bin/server_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "network/wire/station_messages.h"
#include "platform/env.h"
#include "server_loop.h"
#include "station_server.h"

namespace halcyra::server {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
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
  if (!socket || socket->Bind(kLoopback, 0) != 0) {
    std::fprintf(stderr, "cannot open a loopback UDP socket\n");
    std::abort();
  }
  return socket;
}

// A serving thread on its own loopback socket; stops when destroyed.
class Service {
 public:
  using Body = std::function<void(platform::UdpSocket&, const std::function<bool()>&)>;
  explicit Service(Body body) : socket_(LoopbackSocket()) {
    thread_ = platform::Env::Default().StartThread(
        [this, body] { body(*socket_, [this] { return stop_.load(); }); });
  }
  ~Service() {
    stop_ = true;
    thread_->Join();
  }
  uint16_t port() const { return socket_->LocalPort(); }

 private:
  std::unique_ptr<platform::UdpSocket> socket_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<platform::Thread> thread_;
};

// Sends requests round-robin with at most window outstanding until answers replies came back.
// Returns the replies lost (not answered within kLostReplyWaitMs).
int64_t Drive(platform::UdpSocket& client, uint16_t port, const std::vector<std::string>& requests,
              int window, int answers) {
  char buffer[2048];
  size_t next = 0;
  auto sendOne = [&] {
    const std::string& request = requests[next++ % requests.size()];
    client.SendTo(request.data(), request.size(), kLoopback, port);
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

// Station server GETs and echoes of record-sized datagrams, batch by batch in turn, so both
// figures see the same machine load. Counters: answers per second of each and their ratio.
void BM_ServerGetVersusEcho(benchmark::State& state) {
  StationServer server({});
  for (int i = 0; i < kPilots; ++i) server.Handle("SET:" + PilotRecord(i), kLoopback, 0);
  Service stationServer([&server](platform::UdpSocket& socket, const std::function<bool()>& stop) {
    ServerLoopTiming timing;
    timing.summaryIntervalMs = 0;
    ServerLoop loop(platform::Env::Default(), socket, server, timing, [](const std::string&) {});
    loop.Run(stop);
  });
  Service echo(&EchoLoop);

  std::vector<std::string> queries, records;
  for (int i = 0; i < kPilots; ++i) {
    queries.push_back(wire::FormatQuery(PilotName(i)));
    records.push_back(PilotRecord(i));
  }
  std::unique_ptr<platform::UdpSocket> client = LoopbackSocket();
  int window = static_cast<int>(state.range(0));
  double serverSeconds = 0, echoSeconds = 0;
  int64_t lost = 0;
  for (auto _ : state) {
    echoSeconds +=
        SecondsOf([&] { lost += Drive(*client, echo.port(), records, window, kAnswersPerIteration); });
    serverSeconds += SecondsOf(
        [&] { lost += Drive(*client, stationServer.port(), queries, window, kAnswersPerIteration); });
  }
  double answers = static_cast<double>(state.iterations()) * kAnswersPerIteration;
  state.counters["server_answers/s"] = answers / serverSeconds;
  state.counters["echo_answers/s"] = answers / echoSeconds;
  state.counters["server/echo"] = echoSeconds / serverSeconds;
  state.counters["lost"] = static_cast<double>(lost);
}

// The store alone, without sockets: the cost of one GET in Handle.
void BM_HandleGet(benchmark::State& state) {
  StationServer server({});
  for (int i = 0; i < 10000; ++i) server.Handle("SET:" + PilotRecord(i), kLoopback, 0);
  std::vector<std::string> requests;
  for (int i = 0; i < 10000; ++i) requests.push_back(wire::FormatQuery(PilotName(i * 7919 % 10000)));
  size_t next = 0;
  for (auto _ : state) {
    RequestResult result = server.Handle(requests[next++ % requests.size()], kLoopback, 1);
    benchmark::DoNotOptimize(result.reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ServerGetVersusEcho)->Arg(32)->Arg(8)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_HandleGet);

}  // namespace
}  // namespace halcyra::server

