#include "plugin/runtime.h"

#include "export_hook/export_hook.h"
#include "platform/files.h"
#include "plugin/format.h"

namespace halcyra {

PluginRuntime::PluginRuntime(platform::Env& env, const TS3Functions& host) : env_(env), host_(host) {}

PluginRuntime::~PluginRuntime() { Stop(); }

int PluginRuntime::Start() {
  log_ = std::make_unique<Clog>(env_);
  joystick_ = std::make_unique<CJoystick>(env_, *log_);
  joystick_->Init();
  tiles_ = std::make_unique<CHGTFiles>(env_, *log_);
  config_ = std::make_unique<Configuration>(env_, *log_, settings_, simulator_);
  config_->SetRadioSelectorSink(joystick_.get());
  config_->SetTileFolderSink(tiles_.get());

  if (config_->ReadIniFile() == 0) {
    joystick_->Terminate();
    tiles_->Terminate();
    FreeObjects();
    return 1;
  }
  log_->Write("Halcyra plugin is initializing", "", 0);
  NoteMissingExportHook();

  model_ = std::make_unique<CHalcyra>(*log_, *tiles_);
  model_->Initialize();
  CHalcyra* model = model_.get();
  clients_ = std::make_unique<CTS3ClientsBase>(*log_, [model](const char* nickname) {
    model->UpdateLocalStation([nickname](StationRecord& local) { CopyText(local.nickname, nickname); });
  });

  int networking = env_.StartNetworking();
  if (networking != 0) {
    log_->Write("ts3plugin_init",
                Format("WSAStartup failed with error: %d (%d)", networking, env_.LastNetworkingError()), 0);
    // The host unloads the library after a failed start, so nothing of ours may keep running.
    Stop();
    return 1;
  }
  StartThreads();
  started_ = true;
  log_->Write("Halcyra plugin is initialized", "", 0);
  return 0;
}

// Says so when no simulator folder of Saved Games loads the export script: without it the simulator
// sends nothing, and the pilot would only notice that the radios stay silent.
void PluginRuntime::NoteMissingExportHook() {
  std::wstring savedGames;
  if (!env_.SavedGamesFolder(&savedGames) || exporthook::AnyHookInstalled(platform::PathFromWide(savedGames)))
    return;
  std::string separator(1, platform::PathSeparator());
  log_->Write("ts3plugin_init",
              "No DCS World export hook in " + platform::WideToUtf8(savedGames) + separator + "DCS*" +
                  separator + "Scripts" + separator +
                  "Export.lua: the simulator will send nothing. Install it with halcyra-dcs-install (in the "
                  "plug-in folder's halcyra folder) and restart the simulator",
              0);
}

void PluginRuntime::StartThreads() {
  exchange_ = std::make_unique<StationServerExchange>(env_, *log_, settings_, *model_, *clients_, host_);
  StationServerExchange* exchange = exchange_.get();
  commands_ = std::make_unique<SimulatorCommands>(*log_, *model_, *tiles_,
                                                  [exchange] { return exchange->SendHCDataToHCS(""); });
  simulatorLink_ =
      std::make_unique<SimulatorLink>(env_, *log_, *commands_, simulator_, settings_.simulatorListenAddress);
  refreshCycle_ = std::make_unique<RefreshCycle>(env_, *log_, *config_, *clients_, *exchange_, simulator_, host_);
  talk_ = std::make_unique<TalkHandler>(*log_, settings_, simulator_, *clients_, *model_, *exchange_, host_);

  log_->Write("ts3plugin_init", "Launch Thread_RW_HCS", 3);
  refreshCycle_->Start();
  log_->Write("ts3plugin_init", "Launch Thread_DCS_External", 3);
  simulatorLink_->Start();
  simulator_.watchdogCounter = 0;

  CHalcyra* model = model_.get();
  joystick_->SetCallbacks(
      [model](int radioIndex) {
        std::string marks = CJoystick::ActiveMarksFor(radioIndex);
        model->UpdateLocalStation([&marks](StationRecord& local) { CopyText(local.activeMarks, marks.c_str()); });
        return marks;
      },
      [exchange](const char* activeMarks) { exchange->SendHCDataToHCS(activeMarks); });
  joystick_->StartScanning();
}

// The stop sequence. Every step skips what does not exist, and every release clears its pointer,
// so a stop after a failed start (or a second stop) does nothing harmful.
void PluginRuntime::Stop() {
  if (log_ && started_) log_->Write("ts3plugin_shutdown", "Plugin is shuting down", 0);
  started_ = false;
  StopThreads();
  if (tiles_) tiles_->Terminate();
  config_.reset();
  FreeObjects();
}

void PluginRuntime::StopThreads() {
  if (joystick_) joystick_->Terminate();
  if (simulatorLink_) simulatorLink_->Stop();
  if (refreshCycle_) refreshCycle_->Stop();
  if (exchange_) exchange_->StopQueries();
  talk_.reset();
  refreshCycle_.reset();
  simulatorLink_.reset();
  commands_.reset();
  exchange_.reset();
}

void PluginRuntime::FreeObjects() {
  if (model_) model_->Terminate();
  model_.reset();
  if (clients_) clients_->Terminate();
  clients_.reset();
  joystick_.reset();
  tiles_.reset();
  log_.reset();  // writes what is still queued and the closing line, then stops the writer
}

void PluginRuntime::OnConnectStatusChange(uint64 serverConnectionHandlerID, int newStatus, unsigned int) {
  if (started_) clients_->OnConnectStatusChange(serverConnectionHandlerID, newStatus, host_);
}

void PluginRuntime::OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64, uint64 newChannelID, int,
                                 const char*) {
  if (started_) clients_->OnClientMove(serverConnectionHandlerID, clientID, newChannelID, host_);
}

void PluginRuntime::OnClientMoveMoved(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                                      uint64 newChannelID, int visibility, anyID, const char*, const char*,
                                      const char* moveMessage) {
  if (!started_) return;
  log_->Write("onClientMoveMovedEvent", "Call ts3plugin_onClientMoveEvent", 5);
  OnClientMove(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility, moveMessage);
}

void PluginRuntime::OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, int, anyID clientID) {
  if (started_) talk_->OnTalkStatusChange(serverConnectionHandlerID, status, clientID);
}

void PluginRuntime::OnEditPlaybackVoiceData(uint64, anyID clientID, short* samples, int sampleCount, int) {
  if (started_) talk_->OnEditPlaybackVoiceData(clientID, samples, sampleCount);
}

}  // namespace halcyra
