// Wake-ups of an idle plug-in: the loaded library "flying while nobody talks". The simulator sends
// what the export script sends at its default rates (SET_LLALT 4 times a second, SET_RADIO and
// SET_VOLUM every 5 s) to UDP port 10602, the station server on loopback answers the refresh
// cycle's queries, and the own channel holds the own client and three other pilots. Over 10 s the
// context switches (voluntary and involuntary, /proc/self/task/<tid>/status) of every thread the
// plug-in started are counted. Goal: at most 10 wake-ups a second, all threads together.
//
// A wake-up is a voluntary switch: the thread went to sleep (a receive, a wait, a sleep) and was
// woken. The counter wakeups/s is their total; one counter per thread (its name as the plug-in names
// it, "#n" after a repeated name; a thread the plug-in does not name carries the program's) shows
// where they come from. involuntary/s counts the other switches, a running thread preempted: they
// wake nothing and depend on what else runs on the machine (here mostly the stand-in station server
// on the same cores, which each published position wakes at once; a real server is elsewhere);
// switches/s is both together. A thread that ended during the window is not counted (threads_ended
// says how many did).
//
// The plug-in binds the fixed ports 10601-10603: run it alone.
//
//   cmake --preset bench && cmake --build --preset bench -j2 && build/bench/bin/idle_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "plugin_session.h"
#include "simulator_sender.h"
#include "wire/simulator_command_text.h"

namespace halcyra {
namespace {

using testing::PluginSession;
using testing::SessionOptions;
using testing::SimulatorState;

constexpr char kTalkerRecord[] = "Talker@42.000000 41.000000 10000 251.000 124.000 030.000 X__ 251.000 7 0 ";
constexpr anyID kWingmen[] = {3, 4};
constexpr int kPositionsPerSecond = 4;  // the export script's send_rate
constexpr int kResendSeconds = 5;       // its resend_seconds
constexpr int kSettleSeconds = 3;       // after the start, before the window
constexpr int kWindowSeconds = 10;

struct ThreadSample {
  std::string name;
  long long voluntary = 0;    // went to sleep: each a wake-up
  long long involuntary = 0;  // preempted while running
};

// Every thread of this process now, by id.
std::map<int, ThreadSample> SampleThreads() {
  std::map<int, ThreadSample> threads;
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    int tid = std::atoi(task.path().filename().c_str());
    ThreadSample sample;
    std::ifstream comm(task.path() / "comm");
    std::getline(comm, sample.name);
    std::ifstream status(task.path() / "status");
    std::string line;
    bool read = false;
    while (std::getline(status, line)) {
      long long value = 0;
      if (std::sscanf(line.c_str(), "voluntary_ctxt_switches: %lld", &value) == 1) {
        sample.voluntary = value;
        read = true;
      } else if (std::sscanf(line.c_str(), "nonvoluntary_ctxt_switches: %lld", &value) == 1) {
        sample.involuntary = value;
      }
    }
    if (read) threads[tid] = sample;
  }
  return threads;
}

// The simulator's datagrams at the export script's rates, from the calling thread, for `seconds`.
void Fly(testing::SimulatorSender& simulator, const SimulatorState& s, int seconds) {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(1000 / kPositionsPerSecond);
  auto next = Clock::now();
  for (int tick = 0; tick < seconds * kPositionsPerSecond; ++tick) {
    simulator.Send(wire::SetLLAltCommand(s.latitude, s.longitude, s.altitude, s.radioClass));
    if (tick % (kResendSeconds * kPositionsPerSecond) == 0) {
      simulator.Send(
          wire::SetRadioCommand(s.frequency1, s.frequency2, s.frequency3, s.cryptoFrequency, s.cryptoKey));
      simulator.Send(wire::SetVolumCommand(s.volume1, s.volume2, s.volume3));
    }
    next += period;
    std::this_thread::sleep_until(next);
  }
}

void BM_IdlePluginWakeUps(benchmark::State& state) {
  SessionOptions options;
  options.logLevel = 0;  // the default of the settings file
  PluginSession session(options, kTalkerRecord);
  std::map<int, ThreadSample> before = SampleThreads();  // this program's own threads
  std::string problem = session.Start();
  if (!problem.empty()) {
    state.SkipWithError(problem.c_str());
    return;
  }
  for (anyID wingman : kWingmen) {
    std::string nickname = "Wing" + std::to_string(wingman);
    session.server().Store(nickname + "@42.010000 41.010000 9000 251.000 124.000 030.000 X__ 251.000 7 0 ");
    session.host().SetNickname(wingman, nickname);
  }
  session.host().SetChannel(PluginSession::kChannel, {PluginSession::kOwnClient, PluginSession::kTalkerClient,
                                                      kWingmen[0], kWingmen[1]});
  for (anyID wingman : kWingmen)
    session.plugin().onClientMoveEvent(PluginSession::kConnection, wingman, 0, PluginSession::kChannel, 0,
                                       "");
  SimulatorState flying;
  flying.frequency1 = "251.000";
  if (!session.Simulate(flying)) {
    state.SkipWithError("the plug-in did not publish the simulator's state");
    return;
  }
  testing::SimulatorSender simulator;
  Fly(simulator, flying, kSettleSeconds);

  std::map<int, ThreadSample> start;
  std::map<int, ThreadSample> end;
  for (auto _ : state) {
    start = SampleThreads();
    Fly(simulator, flying, kWindowSeconds);
    end = SampleThreads();
  }

  long long wakeUps = 0;
  long long involuntary = 0;
  int threads = 0;
  std::map<std::string, int> seen;
  for (const auto& [tid, sample] : end) {
    if (before.count(tid) != 0) continue;
    ++threads;
    auto begun = start.find(tid);
    ThreadSample first = begun != start.end() ? begun->second : ThreadSample{};
    long long own = sample.voluntary - first.voluntary;
    wakeUps += own;
    involuntary += sample.involuntary - first.involuntary;
    std::string name = sample.name;
    if (++seen[name] > 1) name += "#" + std::to_string(seen[name]);
    state.counters[name + "/s"] = static_cast<double>(own) / kWindowSeconds;
  }
  int ended = 0;
  for (const auto& [tid, sample] : start) {
    if (before.count(tid) == 0 && end.count(tid) == 0) ++ended;
  }
  state.counters["wakeups/s"] = static_cast<double>(wakeUps) / kWindowSeconds;
  state.counters["involuntary/s"] = static_cast<double>(involuntary) / kWindowSeconds;
  state.counters["switches/s"] = static_cast<double>(wakeUps + involuntary) / kWindowSeconds;
  state.counters["threads"] = threads;
  state.counters["threads_ended"] = ended;
}
BENCHMARK(BM_IdlePluginWakeUps)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace halcyra
