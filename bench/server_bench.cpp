// Station server GET throughput on loopback, beside a plain UDP echo loop on the same socket layer
// as the ceiling. A load generator keeps a window of requests outstanding and counts answers.
//
//   build/bench/bin/server_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
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

void RunLoad(benchmark::State& state, uint16_t port, const std::vector<std::string>& requests) {
  std::unique_ptr<platform::UdpSocket> client = LoopbackSocket();
  int window = static_cast<int>(state.range(0));
  int64_t lost = 0;
  for (auto _ : state) lost += Drive(*client, port, requests, window, kAnswersPerIteration);
  state.SetItemsProcessed(state.iterations() * kAnswersPerIteration);
  state.counters["answers/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kAnswersPerIteration), benchmark::Counter::kIsRate);
  state.counters["lost"] = static_cast<double>(lost);
}

void BM_StationServerGet(benchmark::State& state) {
  StationServer server({});
  for (int i = 0; i < kPilots; ++i) server.Handle("SET:" + PilotRecord(i), 0);
  Service service([&server](platform::UdpSocket& socket, const std::function<bool()>& stop) {
    ServerLoopTiming timing;
    timing.summaryIntervalMs = 0;
    ServerLoop loop(platform::Env::Default(), socket, server, timing, [](const std::string&) {});
    loop.Run(stop);
  });
  std::vector<std::string> requests;
  for (int i = 0; i < kPilots; ++i) requests.push_back(wire::FormatQuery(PilotName(i)));
  RunLoad(state, service.port(), requests);
}

// The ceiling: receive with the same wait and send the datagram straight back.
void BM_UdpEcho(benchmark::State& state) {
  Service service([](platform::UdpSocket& socket, const std::function<bool()>& stop) {
    char buffer[wire::kMaxDatagramBytes + 1];
    while (!stop()) {
      uint32_t address = 0;
      uint16_t port = 0;
      int received = socket.ReceiveFrom(buffer, sizeof buffer, 200, &address, &port);
      if (received >= 0) socket.SendTo(buffer, static_cast<size_t>(received), address, port);
    }
  });
  // Requests of the size of a record, so both loops move the same bytes.
  std::vector<std::string> requests;
  for (int i = 0; i < kPilots; ++i) requests.push_back(PilotRecord(i));
  RunLoad(state, service.port(), requests);
}

// The store alone, without sockets: the cost of one GET in Handle.
void BM_HandleGet(benchmark::State& state) {
  StationServer server({});
  for (int i = 0; i < 10000; ++i) server.Handle("SET:" + PilotRecord(i), 0);
  std::vector<std::string> requests;
  for (int i = 0; i < 10000; ++i) requests.push_back(wire::FormatQuery(PilotName(i * 7919 % 10000)));
  size_t next = 0;
  for (auto _ : state) {
    RequestResult result = server.Handle(requests[next++ % requests.size()], 1);
    benchmark::DoNotOptimize(result.reply.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// Interleaved so both figures see the same machine load.
BENCHMARK(BM_UdpEcho)->Arg(32)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_StationServerGet)->Arg(32)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_UdpEcho)->Arg(8)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_StationServerGet)->Arg(8)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_HandleGet);

}  // namespace
}  // namespace halcyra::server

BENCHMARK_MAIN();
