// Cost of the two host events of a talker, through the exported functions of the loaded library,
// with the station server on loopback and the simulator's commands on UDP port 10602 (the plug-in
// binds the fixed ports 10601-10603: run it alone).
//
// - Voice block: 960 samples (20 ms at 48 kHz). Goals: median <= 12 us over loaded tiles,
//   <= 50 us without, p99 <= 200 us.
//   InRangeOverTiles    the talker within range, the sight line walked over loaded flat tiles
//   InRangeWithoutTiles the same, with an empty tile folder
//   BeyondRange         the talker out of range: judged without a sight line, block silenced
// - Talk event (start talking; its station server query goes to the query thread), with the
//   server on loopback, 100 ms away (every reply 100 ms late) and silent: the time the host's
//   thread spends in the event. Goal: p99 <= 5 ms whatever the server does.
//
// Each call is timed on its own; the counters p50_us and p99_us are its median and 99th percentile.
//
//   cmake --preset bench && cmake --build --preset bench -j2 && build/bench/bin/talk_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "hgt_tile.h"
#include "plugin_session.h"

namespace halcyra {
namespace {

using testing::PluginSession;
using testing::SessionOptions;
using testing::SimulatorState;

constexpr char kTalkerRecord[] = "Talker@42.000000 41.000000 10000 251.000 124.000 030.000 X__ 251.000 7 0 ";
constexpr int kBlockSamples = 960;
constexpr int kSetUpWaitMs = 15000;

enum class Tiles { kLoaded, kNone };

SimulatorState Local(const char* latitude) {
  SimulatorState state;
  state.latitude = latitude;
  state.frequency1 = "251.000";
  state.cryptoFrequency = "251.000";
  state.cryptoKey = 7;
  return state;
}
const SimulatorState kInRange = Local("42.058158");      // 3.5 NM, a fifth of the range: gain ~0
const SimulatorState kBeyondRange = Local("43.000000");  // 60 NM

// The plug-in started for one tile set-up; replaced when a benchmark needs the other one.
class Sessions {
 public:
  static PluginSession& For(Tiles tiles) {
    Sessions& sessions = Instance();
    if (!sessions.session_ || sessions.tiles_ != tiles) sessions.Start(tiles);
    return *sessions.session_;
  }
  static void StopAll() {
    Instance().session_.reset();
    Instance().tileFolder_.reset();
  }

 private:
  static Sessions& Instance() {
    static Sessions sessions;
    return sessions;
  }

  void Start(Tiles tiles) {
    session_.reset();
    tiles_ = tiles;
    SessionOptions options;
    options.logLevel = 0;
    tileFolder_ = std::make_unique<testing::TempDir>();
    if (tiles == Tiles::kLoaded) {
      // Flat terrain at 100 m under both aircraft (10000 ft): the sight line is walked and clear.
      testing::HgtTile(100).WriteTo(tileFolder_->path() / "N42E041.HGT");
    }
    options.tileFolder = tileFolder_->path();
    session_ = std::make_unique<PluginSession>(options, kTalkerRecord);
    std::string error = session_->Start();
    if (error.empty() && !session_->Simulate(kInRange)) error = "simulator commands not applied";
    if (error.empty()) session_->KeepSimulatorAlive();
    if (error.empty() && !session_->WaitUntilVoiceTreated(kSetUpWaitMs)) error = "talker never fetched";
    if (!error.empty()) {
      std::fprintf(stderr, "talk_bench: %s\n", error.c_str());
      std::exit(1);
    }
  }

  Tiles tiles_ = Tiles::kNone;
  std::unique_ptr<testing::TempDir> tileFolder_;
  std::unique_ptr<PluginSession> session_;
};

std::vector<short> SpeechBlock() {
  std::vector<short> block(kBlockSamples);
  for (int i = 0; i < kBlockSamples; ++i) {
    block[i] = static_cast<short>(9000 * std::sin(i * 0.031) + 3000 * std::sin(i * 0.21));
  }
  return block;
}

// Times every call of body and reports the median and the 99th percentile in microseconds.
template <typename Body>
void TimeEachCall(benchmark::State& state, Body body) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> micros;
  micros.reserve(1 << 16);
  for (auto _ : state) {
    Clock::time_point begin = Clock::now();
    body();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  auto at = [&micros](double fraction) {
    return micros[static_cast<size_t>(fraction * (micros.size() - 1))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
}

void VoiceBlock(benchmark::State& state, Tiles tiles, const SimulatorState& local) {
  PluginSession& session = Sessions::For(tiles);
  if (!session.Simulate(local)) state.SkipWithError("simulator commands not applied");
  const std::vector<short> speech = SpeechBlock();
  std::vector<short> block(kBlockSamples);
  auto voice = session.plugin().onEditPlaybackVoiceDataEvent;
  voice(PluginSession::kConnection, PluginSession::kTalkerClient, block.data(), kBlockSamples,
        1);  // loads tiles
  TimeEachCall(state, [&] {
    std::copy(speech.begin(), speech.end(), block.begin());
    voice(PluginSession::kConnection, PluginSession::kTalkerClient, block.data(), kBlockSamples, 1);
    benchmark::DoNotOptimize(block.data());
  });
  bool silenced = std::all_of(block.begin(), block.end(), [](short sample) { return sample == 0; });
  state.SetLabel(silenced ? "silenced" : block != speech ? "treated" : "untouched");
}

void BM_VoiceBlock_InRangeOverTiles(benchmark::State& state) { VoiceBlock(state, Tiles::kLoaded, kInRange); }
void BM_VoiceBlock_BeyondRange(benchmark::State& state) { VoiceBlock(state, Tiles::kLoaded, kBeyondRange); }
void BM_VoiceBlock_InRangeWithoutTiles(benchmark::State& state) { VoiceBlock(state, Tiles::kNone, kInRange); }

enum class Server { kLoopback, kFarAway, kSilent };

void TalkEvent(benchmark::State& state, Server server) {
  PluginSession& session = Sessions::For(Tiles::kLoaded);
  if (!session.Simulate(kInRange)) state.SkipWithError("simulator commands not applied");
  session.server().SetReplyDelayMs(server == Server::kFarAway ? 100 : 0);
  session.server().SetSilent(server == Server::kSilent);
  auto talk = session.plugin().onTalkStatusChangeEvent;
  const std::string query = "GET:" + std::string(PluginSession::kTalkerNickname) + "@ ";
  int queriesBefore = session.server().CountRequests(query);
  session.host().ClearPlacements();
  TimeEachCall(state, [&] { talk(PluginSession::kConnection, 1, 0, PluginSession::kTalkerClient); });
  // Each event places him at once. Its query goes out unless the one of an earlier event is still
  // waiting for the pacing (then that one answers it); the refresh cycle adds one every 2 s.
  state.counters["queries_per_event"] =
      static_cast<double>(session.server().CountRequests(query) - queriesBefore) / state.iterations();
  state.counters["placed_per_event"] =
      static_cast<double>(session.host().Placements().size()) / state.iterations();
  session.server().SetReplyDelayMs(0);
  session.server().SetSilent(false);
  session.host().ClearPlacements();
}

void BM_TalkEvent(benchmark::State& state) { TalkEvent(state, Server::kLoopback); }
void BM_TalkEvent_Server100MsAway(benchmark::State& state) { TalkEvent(state, Server::kFarAway); }
void BM_TalkEvent_ServerSilent(benchmark::State& state) { TalkEvent(state, Server::kSilent); }

// Tile set-ups are grouped so that the plug-in starts twice in all.
BENCHMARK(BM_VoiceBlock_InRangeOverTiles)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceBlock_BeyondRange)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TalkEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TalkEvent_Server100MsAway)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TalkEvent_ServerSilent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VoiceBlock_InRangeWithoutTiles)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace halcyra

// The plug-in is stopped before the program ends, not by static destructors.
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  halcyra::Sessions::StopAll();
  return 0;
}
