// PluginRuntime: every long-lived object of a started plug-in, and the start and stop sequences.
//
// One runtime exists between ts3plugin_init and ts3plugin_shutdown; both run on the host's main
// thread (PluginLifecycle). Event entry points delegate to it from whichever host thread delivers
// the event; an event is handled only between a successful start and the stop, and the stop waits
// for the events in progress at most kEventWaitMs. An event that stays longer (inside a host
// function that blocks) keeps the runtime's objects alive through its shared owner: they are then
// released when it leaves, by the destructor.
//
// The runtime's objects lock in this order (each lock's declaration says what it guards and what it
// comes before; clang checks the annotations in the tsan build):
//   the exchange's lock (StationServerExchange) -> a StopToken's lock;
//   the host call relay's lock -> a StopToken's lock, the platform's thread start lock;
//   the client list lock (CTS3ClientsBase) -> the host's own locks, the log's locks;
//   the tile lock (CHGTFiles) -> the missing tile list's lock, the log's locks;
//   the joystick thread lock (CJoystick) -> the platform's thread locks, the log's locks;
//   the configuration's store lock -> the joystick selector lock, the log's locks;
//   the log's file lock -> the log's queue lock (Clog).
// The missing tile list's lock, the station model lock, the settings' server lock, the
// configuration's message box lock, the name look-up lock, the joystick selector lock, the
// exchange's wake-up lock, the talk handler's lock of the latest events and the lifecycle's runtime
// lock are leaves.
#pragma once

#include <memory>

#include "audio/talk_handler.h"
#include "foundation/configuration.h"
#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "input/joystick.h"
#include "network/refresh_cycle.h"
#include "network/server_exchange.h"
#include "network/simulator_commands.h"
#include "network/simulator_link.h"
#include "platform/env.h"
#include "plugin/pilot_controls.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"

namespace halcyra {

class PluginRuntime {
 public:
  static constexpr uint32_t kEventWaitMs = 500;  // the stop's wait for events in progress

  PluginRuntime(platform::Env& env, const TS3Functions& host);
  ~PluginRuntime();  // runs Stop() if it has not run, and releases every object

  PluginRuntime(const PluginRuntime&) = delete;
  PluginRuntime& operator=(const PluginRuntime&) = delete;

  // The start sequence: 0 = started, 1 = failed (everything created is released again).
  int Start();
  // The stop sequence: refuses new events, stops every thread, then releases every object unless
  // an event is still in progress (the destructor does it then). Returns within about a second
  // whatever the host, the network or the user do meanwhile. Safe to call twice.
  void Stop();

  // --- host events (host threads) ---
  void OnConnectStatusChange(uint64 serverConnectionHandlerID, int newStatus, unsigned int errorNumber);
  void OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                    uint64 newChannelID, int visibility, const char* moveMessage);
  void OnClientMoveMoved(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                         uint64 newChannelID, int visibility, anyID moverID, const char* moverName,
                         const char* moverUniqueIdentifier, const char* moveMessage);
  void OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, int isReceivedWhisper,
                          anyID clientID);
  void OnEditPlaybackVoiceData(uint64 serverConnectionHandlerID, anyID clientID, short* samples,
                               int sampleCount, int channels);
  // The client's event thread: hotkeys, menu items and the info panel (PilotControls).
  void OnHotkeyEvent(const char* keyword);
  void OnMenuItemEvent(uint64 serverConnectionHandlerID, int type, int menuItemID, uint64 selectedItemID);
  std::optional<std::string> InfoData(uint64 serverConnectionHandlerID, uint64 id, int type);

  // For tests.
  Clog* log() { return log_.get(); }
  Settings& settings() { return settings_; }
  SimulatorStatus& simulator() { return simulator_; }
  CHalcyra* model() { return model_.get(); }
  CTS3ClientsBase* clients() { return clients_.get(); }
  CJoystick* joystick() { return joystick_.get(); }

 private:
  class Event;  // an event in progress

  void NoteMissingExportHook();
  std::optional<std::string> AskTeamSpeakHost();
  std::wstring MissingTileListPath() const;
  [[nodiscard]] bool StartThreads();
  [[nodiscard]] bool ThreadNotStarted(const char* thread);  // logs it; false
  void RequestStops();
  bool WaitForEvents();  // true when none is in progress any more
  void StopThreads();
  void ReleaseObjects();
  void FreeObjects();

  platform::Env& env_;
  TS3Functions host_;  // the copy every host call goes through
  Settings settings_;
  SimulatorStatus simulator_;
  // Created in start order; released in the stop sequence's order (threads before what they use).
  std::unique_ptr<Clog> log_;
  std::unique_ptr<CJoystick> joystick_;
  std::unique_ptr<CHGTFiles> tiles_;
  std::unique_ptr<Configuration> config_;
  std::unique_ptr<CHalcyra> model_;
  std::unique_ptr<CTS3ClientsBase> clients_;
  std::unique_ptr<HostCallRelay> hostCalls_;
  platform::StopSource hostQuestions_;  // stopped by the stop: the reloads' questions to the host give up
  std::unique_ptr<StationServerExchange> exchange_;
  std::unique_ptr<SimulatorCommands> commands_;
  std::unique_ptr<SimulatorLink> simulatorLink_;
  std::unique_ptr<RefreshCycle> refreshCycle_;
  std::unique_ptr<TalkHandler> talk_;
  platform::StopSource scannerCalls_;  // stopped by the stop: the joystick scanner's host calls give up
  std::unique_ptr<PilotControls> controls_;
  std::atomic<bool> accepting_{false};  // events are handled: set at the end of a successful start
  std::atomic<int> eventsInProgress_{0};
};

}  // namespace halcyra
