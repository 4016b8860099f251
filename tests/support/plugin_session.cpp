#include "plugin_session.h"

#include <vector>

#include "log_reader.h"
#include "platform/env.h"
#include "plugin_ini.h"
#include "wait_until.h"
#include "wire/simulator_command_text.h"

namespace halcyra::testing {
namespace {

constexpr int kPublishWaitMs = 1000;
constexpr int kCommandAttempts = 10;
constexpr uint32_t kKeepAlivePeriodMs = 1000;

std::string Text(int value) { return std::to_string(value); }

}  // namespace

PluginSession::PluginSession(SessionOptions options, std::string talkerRecord)
    : options_(std::move(options)), talkerRecord_(std::move(talkerRecord)) {}

PluginSession::~PluginSession() {
  stopKeepAlive_ = true;
  if (keepAlive_) keepAlive_->Join();
  if (started_) plugin_.shutdown();
}

void PluginSession::WriteIni() {
  IniSettings ini;
  ini.logLevel = options_.logLevel;
  ini.tileFolder = (options_.tileFolder.empty() ? dir_ / "HGT" : options_.tileFolder).string();
  ini.port = options_.stationServerPort != 0 ? options_.stationServerPort : server_.port();
  ini.ear1 = options_.ear1;
  ini.ear2 = options_.ear2;
  ini.ear3 = options_.ear3;
  ini.attenuation = options_.attenuation;
  ini.selector1 = ini.selector2 = ini.selector3 = "";
  std::filesystem::create_directories(ini.tileFolder);
  WriteFile(IniFile(dir_.path()), IniText(ini));
}

std::string PluginSession::Start() {
  if (!plugin_.ok()) return "plug-in not loaded: " + plugin_.error();
  if (!server_.ok()) return "station server could not start";
  {
    platform::MutexLock lock(simulatorLock_);
    if (!simulator_.ok()) return "no socket for the simulator commands";
  }

  savedGames_ = std::make_unique<ScopedSavedGames>(dir_.path().string());
  WriteIni();
  server_.Store(talkerRecord_);
  host_.SetOwnClient(kOwnClient, kOwnNickname);
  host_.SetNickname(kTalkerClient, kTalkerNickname);
  std::vector<anyID> channel{kOwnClient, kTalkerClient};
  for (int index = 1; index <= options_.wingmen; ++index) {
    anyID id = static_cast<anyID>(kTalkerClient + index);
    server_.Store(WingmanRecord(index));
    host_.SetNickname(id, WingmanNickname(index));
    channel.push_back(id);
  }
  host_.SetChannel(kChannel, channel);

  plugin_.setFunctionPointers(host_.Table());
  if (plugin_.init() != 0) return "ts3plugin_init failed";
  started_ = true;
  plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  return "";
}

std::string PluginSession::PublishText(const SimulatorState& s) {
  return "SET:" + std::string(kOwnNickname) + "@" + s.latitude + " " + s.longitude + " " + s.altitude + " " +
         s.frequency1 + " " + s.frequency2 + " " + s.frequency3 + " " + s.activeMarks + " " +
         s.cryptoFrequency + " " + Text(s.cryptoKey) + " " + Text(s.radioClass) + " ";
}

std::string PluginSession::PositionCommand(const SimulatorState& s) {
  return wire::SetLLAltCommand(s.latitude, s.longitude, s.altitude, s.radioClass);
}

// The listener handles datagrams in arrival order, so once the publish that follows SET_RADIO has
// arrived, the volumes sent before it are applied too.
bool PluginSession::Simulate(const SimulatorState& s) {
  std::string publish = PublishText(s);
  for (int attempt = 0; attempt < kCommandAttempts; ++attempt) {
    size_t from = server_.RequestCount();
    bool sent = false;
    {
      platform::MutexLock lock(simulatorLock_);
      lastState_ = s;
      sent = simulator_.Send(wire::SetVolumCommand(s.volume1, s.volume2, s.volume3)) &&
             simulator_.Send(PositionCommand(s)) && simulator_.Send(wire::SetActivCommand(s.activeMarks)) &&
             simulator_.Send(wire::SetRadioCommand(s.frequency1, s.frequency2, s.frequency3,
                                                   s.cryptoFrequency, s.cryptoKey));
    }
    if (sent && server_.WaitForRequest(publish, from, kPublishWaitMs)) return true;
  }
  return false;
}

void PluginSession::KeepSimulatorAlive() {
  if (keepAlive_) return;
  keepAlive_ = platform::Env::Default().StartThread([this] { KeepAliveLoop(); });
}

void PluginSession::KeepAliveLoop() {
  while (platform::SleepUnlessStopped(platform::Env::Default(), kKeepAlivePeriodMs, stopKeepAlive_)) {
    platform::MutexLock lock(simulatorLock_);
    simulator_.Send(PositionCommand(lastState_));
  }
}

std::string PluginSession::WingmanRecord(int index) {
  return WingmanNickname(index) + "@42.100000 41.100000 9000 124.000 000.000 000.000 X__ 000.000 0 0 ";
}

std::string PluginSession::TalkerRecordText() const {
  std::string text = talkerRecord_;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool PluginSession::WaitForTalkerRecord(int timeoutMs) {
  return WaitForLogLine("Thread_UDPRequest : Added item [" + TalkerRecordText() + "]", 0, timeoutMs);
}

bool PluginSession::WaitUntilVoiceTreated(int timeoutMs) {
  return WaitUntil(
      [this] {
        const std::vector<short> original(64, 1000);
        std::vector<short> block = original;
        plugin_.onEditPlaybackVoiceDataEvent(kConnection, kTalkerClient, block.data(),
                                             static_cast<int>(block.size()), 1);
        return block != original;
      },
      timeoutMs);
}

std::vector<std::string> PluginSession::LogLines() const {
  return SplitLines(ReadFile(LogFile(dir_.path())));
}

bool PluginSession::WaitForLogLine(const std::string& text, size_t from, int timeoutMs) const {
  return WaitUntil(
      [&] {
        std::vector<std::string> lines = LogLines();
        for (size_t i = from; i < lines.size(); ++i) {
          if (lines[i].find(text) != std::string::npos) return true;
        }
        return false;
      },
      timeoutMs);
}

}  // namespace halcyra::testing
