// Memory of the plug-in under a simulator flood at LOGLEVEL 6, through the exported functions of the
// loaded library: for 60 s (HALCYRA_FLOOD_SECONDS) the simulator's commands arrive on UDP port 10602
// as fast as one thread can send them, and the plug-in logs every datagram it receives and every
// command and publish that follows. The log's writer cannot keep up with that; its queue is bounded.
//
// Counters: rss_growth_MB, the highest resident size during the flood over that before it;
// rss_after_MB, the resident size a second after the flood over that before it; datagrams_sent;
// log_MB, the size of the log file afterwards. Goal: rss_growth_MB <= 32. A second benchmark
// floods the log alone from four threads, faster than its writer can write.
//
// The plug-in binds the fixed ports 10601-10603: run it alone.
//   cmake --preset bench && cmake --build --preset bench -j2 && build/bench/bin/flood_bench
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "foundation/log.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "simulator_sender.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64 kConnection = 1;
constexpr uint64 kChannel = 7;
constexpr anyID kOwnClient = 1;

int FloodSeconds() {
  const char* value = std::getenv("HALCYRA_FLOOD_SECONDS");
  int seconds = value ? std::atoi(value) : 0;
  return seconds > 0 ? seconds : 60;
}

// Resident memory of this process in MB (the loaded plug-in's included).
double ResidentMB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The station server's address is a socket of this program that never reads: the plug-in's
// publishes cost it what they cost, and nothing here grows with them.
void BM_PluginMemoryUnderSimulatorFlood(benchmark::State& state) {
  const int seconds = FloodSeconds();
  platform::Env& env = platform::Env::Default();
  for (auto _ : state) {
    testing::TempDir dir;
    auto sink = env.CreateUdpSocket();
    testing::SimulatorSender sender;
    if (!sink || sink->Bind(kLoopbackAddress, 0) != 0 || !sender.ok()) {
      state.SkipWithError("no sockets");
      return;
    }
    testing::WriteFile(dir / "Halcyra" / "Halcyra.ini",
                       "[LOG]\nLOGLEVEL=6\n[HGT]\nPath=" + (dir / "HGT").string() +
                           "\n[HCS]\nHOST=127.0.0.1\nUDP=" + std::to_string(sink->LocalPort()) + "\n");
    std::filesystem::create_directories(dir / "HGT");
    testing::ScopedSavedGames savedGames(dir.path().string());
    testing::FakeHost host;
    host.SetOwnClient(kOwnClient, "Own");
    host.SetChannel(kChannel, {kOwnClient});
    testing::LoadedPlugin plugin;
    plugin.setFunctionPointers(host.Table());
    if (!plugin.ok() || plugin.init() != 0) {
      state.SkipWithError("the plug-in did not start");
      return;
    }
    plugin.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
    plugin.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");  // names the station: it publishes

    const std::vector<std::string> datagrams = {"SET_RADIO 251.000 124.000 030.000 251.000 12 ",
                                                "SET_LLALT 42.200000 41.200000 10000 0",
                                                "SET_ACTIV X__",
                                                "SET_VOLUM 100 80 120",
                                                "SET_LLALT 42.250000 41.250000 9000 1",
                                                "GARBAGE GARBAGE"};
    double before = ResidentMB();
    double peak = before;
    long sent = 0;
    Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      for (int i = 0; i < 256; ++i, ++sent) {
        const std::string& datagram = datagrams[static_cast<size_t>(sent) % datagrams.size()];
        sender.Send(datagram);
      }
      peak = std::max(peak, ResidentMB());
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double after = ResidentMB();
    plugin.shutdown();

    state.counters["rss_growth_MB"] = peak - before;
    state.counters["rss_after_MB"] = after - before;
    state.counters["datagrams_sent"] = static_cast<double>(sent);
    std::error_code ignored;
    auto logBytes = std::filesystem::file_size(dir / "Halcyra" / "Halcyra.log", ignored);
    state.counters["log_MB"] = static_cast<double>(logBytes) / (1024.0 * 1024.0);
  }
}
BENCHMARK(BM_PluginMemoryUnderSimulatorFlood)
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The log alone under a flood no plug-in thread makes: four threads write level 6 messages as fast
// as they can, more than one writer thread can put into a file. Counters as above, and the messages
// written and dropped.
void BM_LogMemoryUnderFourThreadFlood(benchmark::State& state) {
  const int seconds = FloodSeconds();
  platform::Env& env = platform::Env::Default();
  for (auto _ : state) {
    testing::TempDir dir;
    long written = 0;
    double before = ResidentMB();
    double peak = before;
    {
      Clog log(env);
      if (log.Init((dir / "Halcyra.log").wstring(), 6) != 0) {
        state.SkipWithError("no log file");
        return;
      }
      std::atomic<bool> stop{false};
      std::atomic<long> accepted{0};
      std::vector<std::thread> producers;
      for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&log, &stop, &accepted, t] {
          std::string text = "Received : >SET_LLALT 42.200000 41.200000 10000 " + std::to_string(t) + "]";
          while (!stop.load()) accepted += log.Write("Thread_DCS_External", text, 6) == 0 ? 1 : 0;
        });
      }
      Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
      while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peak = std::max(peak, ResidentMB());
      }
      stop = true;
      for (std::thread& producer : producers) producer.join();
      written = accepted.load();
    }
    state.counters["rss_growth_MB"] = peak - before;
    state.counters["messages_queued"] = static_cast<double>(written);
    std::error_code ignored;
    auto logBytes = std::filesystem::file_size(dir / "Halcyra.log", ignored);
    state.counters["log_MB"] = static_cast<double>(logBytes) / (1024.0 * 1024.0);
  }
}
BENCHMARK(BM_LogMemoryUnderFourThreadFlood)
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace halcyra
