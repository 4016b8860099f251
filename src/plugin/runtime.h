// PluginRuntime: every long-lived object of a started plug-in, and the start and stop sequences.
//
// One runtime exists between ts3plugin_init and ts3plugin_shutdown; both run on the host's main
// thread. Event entry points delegate to it from whichever host thread delivers the event.
#pragma once

#include <memory>

#include "network/simulator_status.h"
#include "platform/env.h"
#include "plugin/config.h"
#include "plugin/host_abi.h"
#include "plugin/log.h"
#include "plugin/settings.h"

namespace halcyra {

class PluginRuntime {
 public:
  PluginRuntime(platform::Env& env, const TS3Functions& host);
  ~PluginRuntime();  // runs Stop() if it has not run

  PluginRuntime(const PluginRuntime&) = delete;
  PluginRuntime& operator=(const PluginRuntime&) = delete;

  // The start sequence: 0 = started, 1 = failed (everything created is released again).
  int Start();
  // The stop sequence: stops every thread, then releases every object. Safe to call twice.
  void Stop();

  // --- host events (host threads) ---
  void OnConnectStatusChange(uint64 serverConnectionHandlerID, int newStatus, unsigned int errorNumber);
  void OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                    uint64 newChannelID, int visibility, const char* moveMessage);
  void OnClientMoveMoved(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                         uint64 newChannelID, int visibility, anyID moverID, const char* moverName,
                         const char* moverUniqueIdentifier, const char* moveMessage);
  void OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, int isReceivedWhisper, anyID clientID);
  void OnEditPlaybackVoiceData(uint64 serverConnectionHandlerID, anyID clientID, short* samples,
                               int sampleCount, int channels);

  // For tests and the scenario runner.
  Clog* log() { return log_.get(); }
  Settings& settings() { return settings_; }
  SimulatorStatus& simulator() { return simulator_; }

 private:
  void FreeObjects();

  platform::Env& env_;
  TS3Functions host_;  // the copy every host call goes through
  Settings settings_;
  SimulatorStatus simulator_;
  std::unique_ptr<Clog> log_;
  std::unique_ptr<Configuration> config_;
  bool started_ = false;
};

}  // namespace halcyra
