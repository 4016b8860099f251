#include "plugin/runtime.h"

#include "plugin/format.h"

namespace halcyra {

PluginRuntime::PluginRuntime(platform::Env& env, const TS3Functions& host) : env_(env), host_(host) {}

PluginRuntime::~PluginRuntime() { Stop(); }

int PluginRuntime::Start() {
  log_ = std::make_unique<Clog>(env_);
  config_ = std::make_unique<Configuration>(env_, *log_, settings_, simulator_);

  if (config_->ReadIniFile() == 0) {
    FreeObjects();
    return 1;
  }
  log_->Write("Halcyra plugin is initializing", "", 0);

  int networking = env_.StartNetworking();
  if (networking != 0) {
    log_->Write("ts3plugin_init",
                Format("WSAStartup failed with error: %d (%d)", networking, env_.LastNetworkingError()), 0);
    // The host unloads the library after a failed start, so nothing may keep running.
    FreeObjects();
    return 1;
  }

  simulator_.watchdogCounter = 0;
  started_ = true;
  log_->Write("Halcyra plugin is initialized", "", 0);
  return 0;
}

void PluginRuntime::Stop() {
  if (log_) log_->Write("ts3plugin_shutdown", "Plugin is shuting down", 0);
  started_ = false;
  config_.reset();
  FreeObjects();
}

void PluginRuntime::FreeObjects() {
  config_.reset();
  log_.reset();  // writes the closing line, stops the writer, discards what is still queued
}

void PluginRuntime::OnConnectStatusChange(uint64, int, unsigned int) {}

void PluginRuntime::OnClientMove(uint64, anyID, uint64, uint64, int, const char*) {}

void PluginRuntime::OnClientMoveMoved(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                                      uint64 newChannelID, int visibility, anyID, const char*, const char*,
                                      const char* moveMessage) {
  if (log_) log_->Write("onClientMoveMovedEvent", "Call ts3plugin_onClientMoveEvent", 5);
  OnClientMove(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility, moveMessage);
}

void PluginRuntime::OnTalkStatusChange(uint64, int, int, anyID) {}

void PluginRuntime::OnEditPlaybackVoiceData(uint64, anyID, short*, int, int) {}

}  // namespace halcyra
