// Configuration: finds the Saved Games folder, sets up the log, and reads Halcyra.ini.
//
// ReadIniFile runs once at plug-in start on the host's thread; UpdatePluginInfo re-reads the
// re-readable keys ([SELECTOR], [EAR], [HCS], [SYSTEM]) and runs again on the refresh thread every
// seventh tick, or at the next tick after a new TeamSpeak connection. Neither is ever held by the
// user or the network: message boxes are shown on threads of their own (nothing waits for them to be
// closed), and a name look-up is waited for at most NameLookup::kWaitMs, or until the caller's stop
// token is stopped. The keys, their defaults and the file the first start writes: foundation/ini_keys.h.
//
// At the first start the Halcyra folder and an Halcyra.ini with every key are made (a file that
// exists is never touched). A value that is not what its key takes, an unknown section or key, gets
// one level-0 line that names it and says what is used instead; the same line is not repeated by the
// reloads while the file stays as it is.
//
// A few keys are also written back, one at a time, when the pilot changes them from the client
// (StoreAttenuation, StoreRadioSelector): the key's line is rewritten in place and the rest of the
// file stays as it was. storeLock_ orders such a write against a reload's reading of the same keys,
// so a reload never puts back the value a write has just replaced; it is held while the selector
// sink is called (the joystick selector's lock and the log's come after it).
//
// [HCS] HOST=teamspeak means the host of the TeamSpeak server this client is connected to: the
// runtime hands it over at each connection (NoteTeamSpeakServer) and the reloads ask for it again
// (SetTeamSpeakHostSource).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "foundation/name_lookup.h"
#include "foundation/radio_selector_sink.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "foundation/tile_folder_sink.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"

namespace halcyra {

class Configuration {
 public:
  // The host of the TeamSpeak server the client is connected to now; nothing when it is not
  // connected or cannot tell. Called on the thread of a reload.
  using TeamSpeakHostSource = std::function<std::optional<std::string>()>;

  Configuration(platform::Env& env, Clog& log, Settings& settings, SimulatorStatus& simulator);

  void SetRadioSelectorSink(RadioSelectorSink* sink) { selectors_ = sink; }
  void SetTileFolderSink(TileFolderSink* sink) { tiles_ = sink; }
  void SetTeamSpeakHostSource(TeamSpeakHostSource source) { teamspeakHost_ = std::move(source); }

  // 1 = read, 0 = the Saved Games folder could not be found (nothing was logged).
  int ReadIniFile();
  // Once stop is stopped, a name look-up in progress is no longer waited for.
  void UpdatePluginInfo(const platform::StopToken& stop = {});
  // The dotted IPv4 text of a host: a dotted address as it is, else a name look-up; on failure
  // "127.0.0.1" with a log line and an error box (shown once per failing host text, again after
  // the host has been resolved or given as an address in between).
  std::string GetRemoteIP(const std::string& host, const platform::StopToken& stop = {}) EXCLUDES(boxLock_);

  // The host of the TeamSpeak server just connected to (any host thread). With HOST=teamspeak a
  // dotted address is used at once; a name is looked up by the next reload, which it asks for.
  void NoteTeamSpeakServer(const std::string& host) EXCLUDES(teamspeakLock_);
  // True once after NoteTeamSpeakServer or RequestReload asked for a reload (the refresh thread
  // polls it each tick).
  bool TakeReloadRequest() { return reloadRequested_.exchange(false); }
  // Asks for a reload at the refresh thread's next tick (any thread; never waits).
  void RequestReload() { reloadRequested_ = true; }

  // Writes [SYSTEM] ATTN (0 or 1) into Halcyra.ini and then uses it. False, with what went wrong,
  // when the file cannot be written: the setting then stays as it was.
  [[nodiscard]] bool StoreAttenuation(int attenuation, std::string* problem) EXCLUDES(storeLock_);
  // Writes [SELECTOR] RADIOn (radioIndex 0..2; a joystick id 0..31 and a button 1..32, or -1 -1)
  // and hands the binding to the selector sink. False, with what went wrong, when the file cannot
  // be written: the binding then stays as it was.
  [[nodiscard]] bool StoreRadioSelector(int radioIndex, int device, int button, std::string* problem)
      EXCLUDES(storeLock_);
  // The settings file (set by the start).
  const std::wstring& IniPath() const { return settings_.iniPath; }

 private:
  std::wstring ReadValue(const wchar_t* section, const wchar_t* key);
  // The key's value when it is a whole number from low to high; else its default, with a line.
  int ReadNumber(const wchar_t* section, const wchar_t* key, int low, int high, const char* what);
  void PrepareFolder(const std::wstring& folder);
  std::wstring FindTileFolder();
  std::wstring ConfiguredTileFolder(const std::wstring& folder, const char* origin);
  std::wstring DefaultTileFolder();
  bool ReadInstallFolder(platform::RegistryRoot root, const char* failureMessage, std::wstring* folder);
  void ReadSelectors() EXCLUDES(storeLock_);
  void ReadReloadable(const platform::StopToken& stop) EXCLUDES(storeLock_);
  bool WriteValue(const char* section, const char* key, const std::string& value, std::string* problem)
      REQUIRES(storeLock_);
  std::string ServerAddressOf(const std::string& hostText, const platform::StopToken& stop)
      EXCLUDES(teamspeakLock_);
  void ShowBox(const std::wstring& caption, const std::wstring& text, platform::MessageIcon icon);
  void ForgetFailedHost() EXCLUDES(boxLock_);
  void ReadSimulatorListenAddress();

  // The lines about the file's content: a pass (the start, or one reload) collects them, and only
  // those not seen by the pass before are written.
  void BeginPass() { problemsOfPass_.clear(); }
  void Report(const std::string& line);
  void EndPass() { problemsBefore_ = problemsOfPass_; }
  void ReportUnknownEntries();

  platform::Env& env_;
  Clog& log_;
  Settings& settings_;
  SimulatorStatus& simulator_;
  RadioSelectorSink* selectors_ = nullptr;
  TileFolderSink* tiles_ = nullptr;
  TeamSpeakHostSource teamspeakHost_;
  NameLookup nameLookup_;
  std::wstring folderText_;  // the Halcyra folder, for messages; set at start

  // Used by the thread of a pass only: the start, then the refresh thread (passes never overlap).
  std::set<std::string> problemsBefore_;
  std::set<std::string> problemsOfPass_;
  std::vector<std::string> unlogged_;  // lines of the start that came before the log was set up

  std::atomic<bool> teamspeakMode_{false};  // the last pass read HOST=teamspeak
  std::atomic<bool> reloadRequested_{false};
  std::atomic<int> serverPort_{10600};  // [HCS] UDP of the last pass
  platform::Mutex teamspeakLock_;       // a leaf: held only to copy the texts
  std::optional<std::string> teamspeakHostText_ GUARDED_BY(teamspeakLock_);  // of the last connection
  std::string teamspeakHostLogged_ GUARDED_BY(teamspeakLock_);               // the last one named in the log

  platform::Mutex storeLock_;  // see above; before the selector sink's locks and the log's

  platform::Mutex boxLock_;  // a leaf: held only to compare and set lastFailedHost_
  // The host text whose error box was shown last.
  std::optional<std::string> lastFailedHost_ GUARDED_BY(boxLock_);
};

}  // namespace halcyra
