// The whole plug-in under load: every thread of it busy at once for a while, then a shutdown in
// the middle of it all, then a new start, while the host keeps delivering events.
//
// Load: two host threads deliver talk and voice events for five talkers, a third moves clients in
// and out of the channel (each move rebuilds the channel client list), simulator datagrams arrive
// on port 10602 as fast as they can be sent (a few of them malformed), the station server answers
// some queries, ignores others and answers some late or with garbage, and the INI file is
// rewritten on disk again and again. Run under ThreadSanitizer and AddressSanitizer as well.
//
// The runtime in this process runs on a clock four times faster than real time, so its first phase
// of 20 s on the plug-in's clock (long enough for the configuration reload at the 7th refresh tick,
// even when every sleep of the plug-in overshoots by a third) lasts 5 s; the loaded library keeps
// real time and its first phase lasts 5 s, two refresh ticks and more. Either first phase goes on
// (up to 20 s more) until the host has placed a talker, which on a slow machine may take longer.
// HALCYRA_STRESS_SECONDS sets the first phase of both on their own clocks; the run after the new
// start lasts a fifth of it and a little more.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fake_env.h"
#include "fake_host.h"
#include "hgt_tile.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "platform/env.h"
#include "plugin/runtime_guard.h"
#include "radio_scene.h"
#include "scripted_station_server.h"
#include "simulator_sender.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

int StressSeconds(int byDefault) {
  std::string value;
  if (platform::GetEnvironmentVariableUtf8("HALCYRA_STRESS_SECONDS", &value)) {
    int seconds = std::atoi(value.c_str());
    if (seconds > 0) return seconds;
  }
  return byDefault;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The entry points the load drives: those of the loaded library, or of a runtime in this process.
struct EntryPoints {
  std::function<int()> init;
  std::function<void()> shutdown;
  std::function<void(uint64, int, unsigned int)> connect;
  std::function<void(uint64, anyID, uint64, uint64, int, const char*)> move;
  std::function<void(uint64, int, int, anyID)> talk;
  std::function<void(uint64, anyID, short*, int, int)> voice;
};

EntryPoints EntryPointsOf(LoadedPlugin& plugin) {
  return {plugin.init,
          plugin.shutdown,
          plugin.onConnectStatusChangeEvent,
          plugin.onClientMoveEvent,
          plugin.onTalkStatusChangeEvent,
          plugin.onEditPlaybackVoiceDataEvent};
}

struct LoadCounts {
  std::atomic<long> talkEvents{0};
  std::atomic<long> voiceBlocks{0};
  std::atomic<long> moveEvents{0};
  std::atomic<long> datagrams{0};
  std::atomic<long> iniWrites{0};
};

// The threads that keep the plug-in busy until Stop().
class Load {
 public:
  Load(EntryPoints& entry, FakeHost& host, std::filesystem::path iniFile, IniSettings ini,
       bool sendActiveMarks)
      : entry_(entry),
        host_(host),
        iniFile_(std::move(iniFile)),
        ini_(std::move(ini)),
        sendActiveMarks_(sendActiveMarks) {}
  ~Load() { Stop(); }

  void Start() {
    for (int index = 0; index < 2; ++index) threads_.emplace_back([this, index] { TalkAndVoice(index); });
    threads_.emplace_back([this] { MoveClients(); });
    threads_.emplace_back([this] { SendDatagrams(); });
    threads_.emplace_back([this] { RewriteIni(); });
  }
  void Stop() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
  }
  const LoadCounts& counts() const { return counts_; }

 private:
  // Host thread: talk on, a second of voice blocks, talk off, for talker after talker.
  void TalkAndVoice(int index) {
    std::vector<short> block(960);
    std::mt19937 random(static_cast<unsigned>(index + 1));
    while (!stop_) {
      const Talker& talker = Talkers()[random() % Talkers().size()];
      entry_.talk(kConnection, 1, 0, talker.clientID);
      ++counts_.talkEvents;
      for (int i = 0; i < 50 && !stop_; ++i) {
        for (size_t s = 0; s < block.size(); ++s)
          block[s] = static_cast<short>(static_cast<int>((s * 37 + i) % 20000) - 10000);
        entry_.voice(kConnection, talker.clientID, block.data(), static_cast<int>(block.size()), 1);
        ++counts_.voiceBlocks;
        if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      entry_.talk(kConnection, 0, 0, talker.clientID);
      ++counts_.talkEvents;
    }
  }

  // Host thread: clients join and leave the channel; each move rebuilds the plug-in's list.
  void MoveClients() {
    std::mt19937 random(99);
    int round = 0;
    while (!stop_) {
      std::vector<anyID> channel{kOwnClient};
      for (const Talker& talker : Talkers()) {
        if (random() % 4 != 0) channel.push_back(talker.clientID);
      }
      host_.SetChannel(kChannel, channel);
      if (round++ % 50 == 0) entry_.connect(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
      anyID mover = round % 3 == 0 ? kOwnClient : channel[random() % channel.size()];
      entry_.move(kConnection, mover, 0, kChannel, 0, "");
      ++counts_.moveEvents;
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
  }

  // The simulator at full speed, in bursts of 250 ms with a pause of 100 ms between them: every
  // datagram that changes our station makes the plug-in publish it, and a station server (or its
  // socket buffer) flooded without pause would drop the queries of the refresh cycle as well.
  void SendDatagrams() {
    SimulatorSender sender;
    std::vector<std::string> datagrams = {
        TuneRadios(),
        Position(42.2, 41.2, 10000),
        "SET_VOLUM 100 80 120",
        Position(42.25, 41.25, 9000, 1),
        "SET_RADIO",
        "SET_LLALT 42.2 41.2 10000 0 and a very long tail " + std::string(80, '#'),
        std::string("SET_ACTIV \0\0\0", 13),
        "GARBAGE!!!!!!"};
    if (sendActiveMarks_) datagrams.push_back("SET_ACTIV X__");
    size_t next = 0;
    Clock::time_point burstEnd = Clock::now() + std::chrono::milliseconds(250);
    while (!stop_) {
      sender.Send(datagrams[next++ % datagrams.size()]);
      ++counts_.datagrams;
      if (next % 64 == 0 && Clock::now() >= burstEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        burstEnd = Clock::now() + std::chrono::milliseconds(250);
      }
    }
  }

  // Another program rewrites the INI file (in place, so the plug-in may read it half-written).
  void RewriteIni() {
    int round = 0;
    while (!stop_) {
      IniSettings ini = ini_;
      ini.ear1 = round % 2 == 0 ? -1 : 1;
      ini.ear2 = round % 3 - 1;
      ini.attenuation = round % 5 == 4 ? 0 : 1;
      WriteFile(iniFile_, IniText(ini));
      ++counts_.iniWrites;
      ++round;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  EntryPoints& entry_;
  FakeHost& host_;
  std::filesystem::path iniFile_;
  IniSettings ini_;
  bool sendActiveMarks_;
  std::atomic<bool> stop_{false};
  LoadCounts counts_;
  std::vector<std::thread> threads_;
};

// The station server of the run: most queries get the record, some none, some a late one
// (after the plug-in has given up), a few garbage, truncated or oversize replies.
void ServeUnreliably(ScriptedStationServer& server) {
  auto counter = std::make_shared<std::atomic<unsigned>>(0);
  server.SetLateMs(600);
  server.SetAnswerChooser([counter](const std::string&) {
    switch ((*counter)++ % 10) {
      case 1:
      case 5:
        return ServerAnswer::kSilent;
      case 3:
      case 7:
        return ServerAnswer::kLate;
      case 8:
        return (*counter / 10) % 3 == 0   ? ServerAnswer::kGarbage
               : (*counter / 10) % 3 == 1 ? ServerAnswer::kTruncated
                                          : ServerAnswer::kOversize;
      default:
        return ServerAnswer::kRecord;
    }
  });
  for (size_t i = 0; i < Talkers().size(); ++i) {
    const Talker& talker = Talkers()[i];
    bool encrypted = i % 2 == 1;
    server.SetRecord(talker.nickname,
                     TalkerRecord(talker.nickname, 42.3 + 0.05 * i, 41.4, 6000 + 500 * static_cast<int>(i),
                                  "251.000", encrypted ? "251.000" : "000.000", encrypted ? 77 : 0));
  }
}

class PluginStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << server_.error();
    host_.SetOwnClient(kOwnClient, kOwnNickname);
    for (const Talker& talker : Talkers()) host_.SetNickname(talker.clientID, talker.nickname);
    host_.SetChannel(kChannel, {kOwnClient});
    HgtTile tile(300);
    for (int row = 400; row < 800; ++row) tile.Set(row, 700, 2500);  // a ridge across the tile
    tile.WriteTo(dir_ / "HGT" / "N42E041.HGT");
    ini_.logLevel = 3;
    ini_.tileFolder = (dir_ / "HGT").string();
    WriteFile(IniFile(dir_.path()), IniText(ini_));
    ServeUnreliably(server_);
  }

  // Runs the load against entry: a first phase, a shutdown while the load goes on, a second start,
  // a shorter second phase, then the final shutdown after the load has stopped. The phases are
  // measured on the plug-in's clock, which runs clockFactor times faster than real time.
  void RunScenario(EntryPoints& entry, const char* what, int seconds, uint32_t clockFactor) {
    auto sleepOnPluginClock = [clockFactor](int ms) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms / clockFactor));
    };
    ASSERT_EQ(0, entry.init());
    Load load(entry, host_, IniFile(dir_.path()), ini_, sendActiveMarks_);
    load.Start();
    sleepOnPluginClock(seconds * 1000);
    WaitUntil([&] { return !host_.Placements().empty(); }, 20000);

    int queriesBefore = server_.Queries();
    int publishesBefore = server_.PublishCount();
    Clock::time_point stopStart = Clock::now();
    entry.shutdown();
    double shutdownMs = MillisecondsSince(stopStart);

    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // events reach a stopped plug-in
    int publishesWhileStopped = server_.PublishCount();
    ASSERT_EQ(0, entry.init());
    sleepOnPluginClock(seconds * 1000 / 5 + 2500);
    int publishesAfterRestart = server_.PublishCount();
    int queriesAfterRestart = server_.Queries();
    load.Stop();
    Clock::time_point finalStart = Clock::now();
    entry.shutdown();
    double finalShutdownMs = MillisecondsSince(finalStart);

    const LoadCounts& counts = load.counts();
    std::printf(
        "[ stress   ] %s: first phase %d s (clock x%u); shutdown under load %.1f ms, final shutdown %.1f "
        "ms\n",
        what, seconds, clockFactor, shutdownMs, finalShutdownMs);
    std::printf(
        "[ stress   ] events: %ld talk, %ld voice blocks, %ld moves, %ld datagrams sent, %ld INI rewrites\n",
        counts.talkEvents.load(), counts.voiceBlocks.load(), counts.moveEvents.load(),
        counts.datagrams.load(), counts.iniWrites.load());
    std::printf(
        "[ stress   ] station server: %d queries, %d replies, %d publishes; %zu placements by the host\n",
        server_.Queries(), server_.RepliesSent(), server_.PublishCount(), host_.Placements().size());
    RecordProperty("shutdown_under_load_ms", static_cast<int>(shutdownMs));
    RecordProperty("talk_events", static_cast<int>(counts.talkEvents.load()));
    RecordProperty("voice_blocks", static_cast<int>(counts.voiceBlocks.load()));
    RecordProperty("datagrams", static_cast<int>(counts.datagrams.load()));

    // The plug-in did its work during the first phase (placements need a station server reply
    // that came in time, so they are counted over the whole run)...
    EXPECT_GT(queriesBefore, 0);
    EXPECT_GT(publishesBefore, 0);
    EXPECT_GT(host_.Placements().size(), 0u);
    // ...stopped promptly with everything running (loosely: sanitizers slow everything down)...
    EXPECT_LT(shutdownMs, 2000.0);
    EXPECT_LT(finalShutdownMs, 2000.0);
    // ...and worked again after the new start: it published and queried again.
    EXPECT_GT(publishesAfterRestart, publishesWhileStopped);
    EXPECT_GT(queriesAfterRestart, queriesBefore);
    EXPECT_EQ(0, host_.OutstandingAllocations());
  }

  ScriptedStationServer server_;
  FakeHost host_;
  TempDir dir_;
  IniSettings ini_;
  bool sendActiveMarks_ = true;
};

TEST_F(PluginStressTest, LoadedLibraryWithEveryThreadBusyStopsAndStartsAgain) {
  ScopedSavedGames savedGames(dir_.path().string());
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.setFunctionPointers(host_.Table());
  EntryPoints entry = EntryPointsOf(plugin);
  RunScenario(entry, "loaded library", StressSeconds(5), 1);
}

// The host unloads the library after a stop and may load it again: ten times over, the library is
// loaded, started, kept busy from several threads, stopped amid that load and unloaded. In every
// second round the station server knows nobody for a while and the host does not return from the
// calls that put clients back at the listener's position: the stop returns all the same, and the
// library stays loaded while a thread of it is still inside the host, until the host lets it go.
// After each round the library is really gone from the process and the process is left with the
// threads it had after the first round (the socket library may keep a thread of its own from its
// first use on); nothing crashes afterwards.
TEST_F(PluginStressTest, LoadedLibraryIsUnloadedAndLoadedAgainTenTimes) {
  ScopedSavedGames savedGames(dir_.path().string());
  int threadsAfterFirstRound = 0;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(::testing::Message() << "round " << round);
    const bool hostHoldsACall = round % 2 == 1;
    {
      LoadedPlugin plugin;
      ASSERT_TRUE(plugin.ok()) << plugin.error();
      plugin.setFunctionPointers(host_.Table());
      EntryPoints entry = EntryPointsOf(plugin);
      ASSERT_EQ(0, entry.init());
      Load load(entry, host_, IniFile(dir_.path()), ini_, sendActiveMarks_);
      load.Start();
      if (hostHoldsACall) {
        host_.BlockPlacements(FakeHost::Block::kResets);
        server_.SetAnswer(ServerAnswer::kNotFound);
        EXPECT_TRUE(WaitUntil([&] { return host_.PlacementsInProgress() > 0; }, 10000));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      std::atomic<bool> stopped{false};
      std::thread stop([&] {
        entry.shutdown();
        stopped = true;
      });
      EXPECT_TRUE(WaitUntil([&] { return stopped.load(); }, 5000)) << "the stop waited for the host";
      if (!stopped) host_.BlockPlacements(FakeHost::Block::kNone);  // so that it can end
      stop.join();
      load.Stop();  // events that came after the stop were ignored
    }
    if (hostHoldsACall) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_TRUE(PluginLibraryIsLoaded()) << "unloaded while a thread of it was inside the host";
      host_.BlockPlacements(FakeHost::Block::kNone);
      ServeUnreliably(server_);
    }
    EXPECT_TRUE(WaitUntil([] { return !PluginLibraryIsLoaded(); }, 5000))
        << "the library stayed loaded after its unload";
    if (round == 0) {
      threadsAfterFirstRound = ThreadsOfThisProcess();
      continue;
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() == threadsAfterFirstRound; }, 5000))
        << ThreadsOfThisProcess() << " threads after the unload, " << threadsAfterFirstRound
        << " after the first round";
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // code of an unloaded library would crash now
  EXPECT_EQ(0, host_.OutstandingAllocations());
}

// Joysticks can only be faked through the platform layer, which the loaded library does not let
// a test replace: this run builds the runtime in this process on an Env whose two joysticks keep
// pressing the bound buttons, so the selector thread publishes selections amid the load.
class PressingJoysticks : public platform::EnvWrapper {
 public:
  explicit PressingJoysticks(platform::Env& target) : EnvWrapper(target) {}
  std::atomic<int> presses{0};

  // Joystick 0 presses buttons 1 and 2 in turn, joystick 1 button 5; each press lasts one read.
  bool ReadJoystickButtons(int id, uint32_t* buttons) override {
    if (id > 1) return false;
    int read = reads_[id]++;
    bool pressed = read % 2 == 1;
    uint32_t button = id == 0 ? ((read / 2) % 2 == 0 ? 1u : 2u) : 5u;
    *buttons = pressed ? 1u << (button - 1) : 0u;
    if (pressed) ++presses;
    return true;
  }

 private:
  std::atomic<int> reads_[2] = {0, 0};
};

// The plug-in as the exported entry points run it (their RuntimeGuard), in this process.
EntryPoints EntryPointsOf(RuntimeGuard& plugin) {
  return {[&plugin] { return plugin.Init(); },
          [&plugin] { plugin.Shutdown(); },
          [&plugin](uint64 schid, int status, unsigned int error) {
            plugin.OnConnectStatusChange(schid, status, error);
          },
          [&plugin](uint64 schid, anyID client, uint64 from, uint64 to, int visibility, const char* message) {
            plugin.OnClientMove(schid, client, from, to, visibility, message);
          },
          [&plugin](uint64 schid, int status, int whisper, anyID client) {
            plugin.OnTalkStatusChange(schid, status, whisper, client);
          },
          [&plugin](uint64 schid, anyID client, short* samples, int count, int channels) {
            plugin.OnEditPlaybackVoiceData(schid, client, samples, count, channels);
          }};
}

TEST_F(PluginStressTest, RuntimeWithJoystickSelectionsUnderLoad) {
  ScopedSavedGames savedGames(dir_.path().string());
  ini_.selector1 = "0 1";
  ini_.selector2 = "0 2";
  ini_.selector3 = "1 5";
  WriteFile(IniFile(dir_.path()), IniText(ini_));
  sendActiveMarks_ = false;  // every change of the active radio comes from a joystick
  FastClock clock(platform::Env::Default(), 4);
  PressingJoysticks env(clock);
  RuntimeGuard plugin(env);
  plugin.SetFunctionPointers(host_.Table());
  EntryPoints entry = EntryPointsOf(plugin);
  RunScenario(entry, "runtime with joysticks", StressSeconds(20), clock.factor());

  int selections[3] = {0, 0, 0};  // distinct station texts published with each radio active
  for (const std::string& publish : server_.DistinctPublishes()) {
    if (publish.find(" X__ ") != std::string::npos) ++selections[0];
    if (publish.find(" _X_ ") != std::string::npos) ++selections[1];
    if (publish.find(" __X ") != std::string::npos) ++selections[2];
  }
  std::printf(
      "[ stress   ] joystick presses %d; distinct stations published with radio 1, 2, 3 active: %d, %d, %d\n",
      env.presses.load(), selections[0], selections[1], selections[2]);
  EXPECT_GT(selections[0], 0);
  EXPECT_GT(selections[1], 0);
  EXPECT_GT(selections[2], 0);
}

}  // namespace
}  // namespace halcyra
