// A started plug-in as a pilot's client runs it, for tests and benchmarks through the loaded library:
// a Saved Games folder with an INI file, the fake host connected with the own client ("Own") and
// one other pilot ("Talker") in the own channel, a station server on loopback that holds the
// talker's record, and the simulator's commands sent to UDP port 10602.
//
// The plug-in binds the fixed ports 10601-10603: a program using this runs alone among such
// programs (USES_UDP_PORTS).
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake_host.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "loopback_station_server.h"
#include "platform/mutex.h"
#include "simulator_sender.h"
#include "temp_dir.h"

namespace halcyra::testing {

struct SessionOptions {
  int logLevel = 5;
  int attenuation = 1;  // [SYSTEM] ATTN
  int ear1 = -1;        // [EAR] RADIO1..3
  int ear2 = 1;
  int ear3 = 0;
  std::filesystem::path tileFolder;  // [HGT] Path; empty: an empty folder of the session
  uint16_t stationServerPort = 0;    // [HCS] UDP; 0: the session's loopback station server
  // More pilots in the own channel besides the talker: "Wing1".."WingN" (client IDs 3, 4, ...),
  // each with a record at the station server (WingmanRecord).
  int wingmen = 0;
};

// What the simulator reports about the local aircraft (texts as the simulator sends them).
struct SimulatorState {
  std::string latitude = "42.000000";
  std::string longitude = "41.000000";
  std::string altitude = "10000";
  int radioClass = 0;
  std::string frequency1 = "000.000";
  std::string frequency2 = "000.000";
  std::string frequency3 = "000.000";
  std::string cryptoFrequency = "000.000";
  int cryptoKey = 0;
  std::string activeMarks = "X__";
  int volume1 = 100;
  int volume2 = 100;
  int volume3 = 100;
};

class PluginSession {
 public:
  static constexpr uint64 kConnection = 1;
  static constexpr anyID kOwnClient = 1;
  static constexpr anyID kTalkerClient = 2;
  static constexpr uint64 kChannel = 7;
  static constexpr const char* kOwnNickname = "Own";
  static constexpr const char* kTalkerNickname = "Talker";

  // talkerRecord: the talker's record as he publishes it, without "SET:" ("Talker@... ").
  PluginSession(SessionOptions options, std::string talkerRecord);
  ~PluginSession();  // stops the plug-in

  // Loads and starts the plug-in, connects the host and joins the channel. Empty on success,
  // else what went wrong.
  std::string Start();

  // Sends SET_VOLUM, SET_LLALT, SET_ACTIV and SET_RADIO and waits until the plug-in has published
  // the resulting station (so all four are applied). Retries while the listener is not up yet.
  bool Simulate(const SimulatorState& state) EXCLUDES(simulatorLock_);
  // From now on resends the last SET_LLALT every second, as a running simulator does, so the
  // plug-in's watchdog never runs out however long a test or benchmark takes.
  void KeepSimulatorAlive();
  // The publish text the plug-in sends for that state.
  static std::string PublishText(const SimulatorState& state);

  // Waits until the refresh cycle has stored the talker's record (needs LOGLEVEL >= 3).
  bool WaitForTalkerRecord(int timeoutMs);
  // Waits until a voice block of the talker comes back edited (needs an audible talker).
  bool WaitUntilVoiceTreated(int timeoutMs);

  // The log file's lines (without line ends), and a wait for a line containing text at or after
  // line index from.
  std::vector<std::string> LogLines() const;
  bool WaitForLogLine(const std::string& text, size_t from, int timeoutMs) const;

  LoadedPlugin& plugin() { return plugin_; }
  FakeHost& host() { return host_; }
  LoopbackStationServer& server() { return server_; }
  const TempDir& folder() const { return dir_; }
  std::string TalkerRecordText() const;  // as the plug-in logs it: without the final blank
  static std::string WingmanNickname(int index) { return "Wing" + std::to_string(index); }
  static std::string WingmanRecord(int index);  // as he publishes it, without "SET:"

 private:
  void WriteIni();
  static std::string PositionCommand(const SimulatorState& state);
  void KeepAliveLoop() EXCLUDES(simulatorLock_);

  SessionOptions options_;
  std::string talkerRecord_;
  TempDir dir_;
  std::unique_ptr<ScopedSavedGames> savedGames_;
  FakeHost host_;
  LoopbackStationServer server_;
  LoadedPlugin plugin_;
  // One command sequence at a time. Held while it sends and never while it waits for the plug-in
  // or the station server; a leaf.
  platform::Mutex simulatorLock_;
  SimulatorSender simulator_ GUARDED_BY(simulatorLock_);
  SimulatorState lastState_ GUARDED_BY(simulatorLock_);
  std::atomic<bool> stopKeepAlive_{false};
  std::unique_ptr<platform::Thread> keepAlive_;
  bool started_ = false;
};

}  // namespace halcyra::testing
