#include "plugin/runtime.h"

#include "export_hook/export_hook.h"
#include "foundation/format.h"
#include "foundation/host_api_version.h"
#include "platform/files.h"

namespace halcyra {

// Counts an event in progress for as long as it lives; false when the runtime does not take events
// (not started, or stopping). The count is raised before the flag is read and the stop lowers the
// flag before it reads the count, so either the stop sees the event or the event sees the stop.
class PluginRuntime::Event {
 public:
  explicit Event(PluginRuntime& runtime) : runtime_(runtime) {
    ++runtime_.eventsInProgress_;
    accepted_ = runtime_.accepting_.load();
  }
  ~Event() { --runtime_.eventsInProgress_; }
  explicit operator bool() const { return accepted_; }

 private:
  PluginRuntime& runtime_;
  bool accepted_ = false;
};

PluginRuntime::PluginRuntime(platform::Env& env, const TS3Functions& host) : env_(env), host_(host) {}

PluginRuntime::~PluginRuntime() {
  Stop();
  ReleaseObjects();
}

int PluginRuntime::Start() {
  log_ = std::make_unique<Clog>(env_);
  joystick_ = std::make_unique<CJoystick>(env_, *log_);
  joystick_->Init();
  tiles_ = std::make_unique<CHGTFiles>(env_, *log_);
  config_ = std::make_unique<Configuration>(env_, *log_, settings_, simulator_);
  config_->SetRadioSelectorSink(joystick_.get());
  config_->SetTileFolderSink(tiles_.get());
  config_->SetTeamSpeakHostSource([this] { return AskTeamSpeakHost(); });

  if (config_->ReadIniFile() == 0) {
    joystick_->Terminate();
    tiles_->Terminate();
    FreeObjects();
    return 1;
  }
  log_->Write("Halcyra plugin is initializing", "", 0);
  // Which API the client was answered, and why. (A client that refuses the answer never starts the
  // plug-in; its own message names the number.)
  log_->Write("ts3plugin_apiVersion", DescribeHostApi(CurrentHostApi()), 0);
  tiles_->RecordMissingSquaresIn(MissingTileListPath());
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
  if (!StartThreads()) {
    // The host unloads the library after a failed start, so nothing of ours may keep running.
    Stop();
    return 1;
  }
  accepting_ = true;
  log_->Write("Halcyra plugin is initialized", "", 0);
  return 0;
}

// missing-tiles.txt beside Halcyra.ini, where halcyra-tiles --missing reads it.
std::wstring PluginRuntime::MissingTileListPath() const {
  size_t separator = settings_.iniPath.find_last_of(static_cast<wchar_t>(platform::PathSeparator()));
  std::wstring folder = separator == std::wstring::npos ? L"" : settings_.iniPath.substr(0, separator + 1);
  return folder + L"missing-tiles.txt";
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

// The TeamSpeak server's host, asked for on the refresh thread (through the relay, which gives up
// when the plug-in stops).
std::optional<std::string> PluginRuntime::AskTeamSpeakHost() {
  if (!clients_ || !hostCalls_) return std::nullopt;
  uint64 connection = clients_->CurrentServerConnectionHandlerID();
  if (connection == 0) return std::nullopt;
  auto answer = std::make_shared<std::optional<std::string>>();
  bool asked = hostCalls_->Run(
      [answer, connection](const TS3Functions& host) { *answer = ReadServerHost(host, connection); },
      hostQuestions_.Token());
  return asked ? *answer : std::nullopt;
}

// Starts the long-lived threads; false (logged) when one of them could not be started. The stop
// sequence ends what did start.
bool PluginRuntime::StartThreads() {
  hostCalls_ = std::make_unique<HostCallRelay>(env_, host_);
  exchange_ =
      std::make_unique<StationServerExchange>(env_, *log_, settings_, *model_, *clients_, *hostCalls_);
  StationServerExchange* exchange = exchange_.get();
  commands_ = std::make_unique<SimulatorCommands>(*log_, *model_, *tiles_,
                                                  [exchange] { return exchange->SendHCDataToHCS(""); });
  simulatorLink_ =
      std::make_unique<SimulatorLink>(env_, *log_, *commands_, simulator_, settings_.simulatorListenAddress);
  refreshCycle_ =
      std::make_unique<RefreshCycle>(env_, *log_, *config_, *clients_, *exchange_, simulator_, *hostCalls_);
  talk_ = std::make_unique<TalkHandler>(*log_, settings_, simulator_, *clients_, *model_, *exchange_, host_,
                                        *hostCalls_);

  if (!exchange_->Start()) return ThreadNotStarted("Thread_UDPRequest");
  log_->Write("ts3plugin_init", "Launch Thread_RW_HCS", 3);
  if (!refreshCycle_->Start()) return ThreadNotStarted("Thread_RW_HCS");
  log_->Write("ts3plugin_init", "Launch Thread_DCS_External", 3);
  if (!simulatorLink_->Start()) return ThreadNotStarted("Thread_DCS_External");
  simulator_.watchdogCounter = 0;

  CHalcyra* model = model_.get();
  joystick_->SetCallbacks(
      [model](int radioIndex) {
        std::string marks = CJoystick::ActiveMarksFor(radioIndex);
        model->UpdateLocalStation(
            [&marks](StationRecord& local) { CopyText(local.activeMarks, marks.c_str()); });
        return marks;
      },
      [exchange](const char* activeMarks) { exchange->SendHCDataToHCS(activeMarks); });
  controls_ = std::make_unique<PilotControls>(PilotControlsParts{env_, *log_, settings_, simulator_, *config_,
                                                                 *joystick_, *model_, *clients_, *exchange_,
                                                                 host_, *hostCalls_, scannerCalls_.Token()});
  PilotControls* controls = controls_.get();
  joystick_->SetMicrophone([controls](bool open) { return controls->Microphone(open); },
                           [this] { scannerCalls_.RequestStop(); });
  joystick_->SetCaptureDone([controls](int radioIndex, std::optional<JoystickButton> pressed) {
    controls->CaptureDone(radioIndex, pressed);
  });
  joystick_->StartScanning();
  return true;
}

bool PluginRuntime::ThreadNotStarted(const char* thread) {
  log_->Write("ts3plugin_init", Format("Cannot start %s: the plug-in does not start", thread), 0);
  return false;
}

// The stop sequence. Every step skips what does not exist, and every release clears its pointer,
// so a stop after a failed start (or a second stop) does nothing harmful. Every thread is told to
// stop before any is waited for; none of them waits for the host, a message box or a name look-up.
void PluginRuntime::Stop() {
  bool wasAccepting = accepting_.exchange(false);
  if (log_ && wasAccepting) log_->Write("ts3plugin_shutdown", "Plugin is shuting down", 0);
  // First, while the host call relay still runs: a microphone that push-to-talk opened is closed.
  if (joystick_) joystick_->Terminate();
  RequestStops();
  bool idle = WaitForEvents();
  StopThreads();
  if (idle) ReleaseObjects();
}

void PluginRuntime::RequestStops() {
  hostQuestions_.RequestStop();
  scannerCalls_.RequestStop();
  if (refreshCycle_) refreshCycle_->RequestStop();
  if (exchange_) exchange_->RequestStop();
  if (hostCalls_) hostCalls_->Stop();
}

bool PluginRuntime::WaitForEvents() {
  uint64_t deadline = env_.TickMs() + kEventWaitMs;
  while (eventsInProgress_.load() > 0 && env_.TickMs() < deadline) env_.SleepMs(1);
  return eventsInProgress_.load() == 0;
}

void PluginRuntime::StopThreads() {
  if (joystick_) joystick_->Terminate();
  if (simulatorLink_) simulatorLink_->Stop();
  if (refreshCycle_) refreshCycle_->Stop();
  if (exchange_) exchange_->Stop();
}

// Objects go after every thread that uses them has stopped, and while no event uses them.
void PluginRuntime::ReleaseObjects() {
  controls_.reset();
  talk_.reset();
  refreshCycle_.reset();
  simulatorLink_.reset();
  commands_.reset();
  exchange_.reset();
  hostCalls_.reset();
  if (tiles_) tiles_->Terminate();
  config_.reset();
  FreeObjects();
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
  Event event(*this);
  if (!event) return;
  clients_->OnConnectStatusChange(serverConnectionHandlerID, newStatus, host_);
  if (newStatus == STATUS_CONNECTION_ESTABLISHED) {
    joystick_->MicrophoneStateLost();
    if (std::optional<std::string> host = ReadServerHost(host_, serverConnectionHandlerID))
      config_->NoteTeamSpeakServer(*host);
  }
}

void PluginRuntime::OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64,
                                 uint64 newChannelID, int, const char*) {
  Event event(*this);
  if (event) clients_->OnClientMove(serverConnectionHandlerID, clientID, newChannelID, host_);
}

void PluginRuntime::OnClientMoveMoved(uint64 serverConnectionHandlerID, anyID clientID, uint64 oldChannelID,
                                      uint64 newChannelID, int visibility, anyID, const char*, const char*,
                                      const char* moveMessage) {
  Event event(*this);
  if (!event) return;
  log_->Write("onClientMoveMovedEvent", "Call ts3plugin_onClientMoveEvent", 5);
  OnClientMove(serverConnectionHandlerID, clientID, oldChannelID, newChannelID, visibility, moveMessage);
}

void PluginRuntime::OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, int, anyID clientID) {
  Event event(*this);
  if (event) talk_->OnTalkStatusChange(serverConnectionHandlerID, status, clientID);
}

void PluginRuntime::OnEditPlaybackVoiceData(uint64, anyID clientID, short* samples, int sampleCount,
                                            int channels) {
  Event event(*this);
  if (event) talk_->OnEditPlaybackVoiceData(clientID, samples, sampleCount, channels);
}

void PluginRuntime::OnHotkeyEvent(const char* keyword) {
  Event event(*this);
  if (event) controls_->OnHotkey(keyword);
}

void PluginRuntime::OnMenuItemEvent(uint64 serverConnectionHandlerID, int type, int menuItemID,
                                    uint64 selectedItemID) {
  Event event(*this);
  if (event) controls_->OnMenuItem(serverConnectionHandlerID, type, menuItemID, selectedItemID);
}

std::optional<std::string> PluginRuntime::InfoData(uint64 serverConnectionHandlerID, uint64 id, int type) {
  Event event(*this);
  if (!event) return std::nullopt;
  return controls_->InfoData(serverConnectionHandlerID, id, type);
}

}  // namespace halcyra
