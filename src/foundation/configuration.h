// Configuration: finds the Saved Games folder, sets up the log, and reads Halcyra.ini.
//
// ReadIniFile runs once at plug-in start on the host's thread; UpdatePluginInfo re-reads the
// re-readable keys ([SELECTOR], [EAR], [HCS], [SYSTEM]) and runs again on the refresh thread every
// seventh tick. Neither is ever held by the user or the network: message boxes are shown on
// threads of their own (nothing waits for them to be closed), and a name look-up is waited for at
// most NameLookup::kWaitMs, or until the caller's stop flag is raised. Keys, defaults and log lines:
//   [LOG] LOGLEVEL "0"        [HGT] Path ""              [SELECTOR] RADIO1..3 "-1 -1"
//   [EAR] RADIO1..3 "0"       [HCS] HOST "127.0.0.1"     [HCS] UDP "10600"
//   [SYSTEM] ATTN "1"         [DCS] LISTEN "127.0.0.1" (read at start only)
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/log.h"
#include "foundation/name_lookup.h"
#include "foundation/radio_selector_sink.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "foundation/tile_folder_sink.h"
#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra {

// The leading decimal integer of a text, 0 when there is none (clamped to the int range).
int ParseLeadingInt(const std::wstring& text);

class Configuration {
 public:
  Configuration(platform::Env& env, Clog& log, Settings& settings, SimulatorStatus& simulator);

  void SetRadioSelectorSink(RadioSelectorSink* sink) { selectors_ = sink; }
  void SetTileFolderSink(TileFolderSink* sink) { tiles_ = sink; }

  // 1 = read, 0 = the Saved Games folder could not be found (nothing was logged).
  int ReadIniFile();
  // stop (may be null): when raised, a name look-up in progress is no longer waited for.
  void UpdatePluginInfo(const std::atomic<bool>* stop = nullptr);
  // The dotted IPv4 text of a host: a dotted address as it is, else a name look-up; on failure
  // "127.0.0.1" with a log line and an error box (shown once per failing host text, again after
  // the host has been resolved or given as an address in between).
  std::string GetRemoteIP(const std::string& host, const std::atomic<bool>* stop = nullptr)
      EXCLUDES(boxLock_);

 private:
  std::wstring ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue);
  int ReadInt(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue);
  std::wstring FindTileFolder();
  bool ReadInstallFolder(platform::RegistryRoot root, const char* failureMessage, std::wstring* folder);
  void ReadSelectors();
  void ShowBox(const std::wstring& caption, const std::wstring& text, platform::MessageIcon icon);
  void ForgetFailedHost() EXCLUDES(boxLock_);
  void ReadSimulatorListenAddress();

  platform::Env& env_;
  Clog& log_;
  Settings& settings_;
  SimulatorStatus& simulator_;
  RadioSelectorSink* selectors_ = nullptr;
  TileFolderSink* tiles_ = nullptr;
  NameLookup nameLookup_;

  platform::Mutex boxLock_;  // a leaf: held only to compare and set lastFailedHost_
  // The host text whose error box was shown last.
  std::optional<std::string> lastFailedHost_ GUARDED_BY(boxLock_);
};

}  // namespace halcyra
