#include "runner.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include "host_folders.h"
#include "loaded_plugin.h"
#include "oracle.h"
#include "platform/process.h"
#include "plugin_decisions.h"
#include "plugin_ini.h"
#include "render.h"
#include "report.h"
#include "simulator_feed.h"
#include "simulator_sender.h"
#include "station_server.h"
#include "temp_dir.h"
#include "terrain.h"
#include "voice.h"
#include "wav.h"
#include "wire/station_messages.h"

namespace halcyra::sim {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

constexpr int kGapBlocks = kBlocksPerSecond / 2;  // a call ends at least half a second before the next
constexpr uint64_t kWatchdogFeedMs = 1000;        // SET_LLALT at least this often in real time
constexpr uint64_t kLocalSyncTimeoutMs = 5000;
constexpr uint64_t kLocalResendMs = 500;
constexpr uint64_t kLogCatchUpMs = 2000;
constexpr uint64_t kRemotesKnownTimeoutMs = 12000;
constexpr uint64_t kRefreshTicksWaitMs = 4500;  // two refresh ticks, when the log cannot tell
constexpr int kFetchLogLevel = 5;               // the level at which the plug-in logs fetched records
constexpr int kProfileSamples = 200;

// Calls the plug-in's stop sequence when the run ends, however it ends.
class StartedPlugin {
 public:
  explicit StartedPlugin(const testing::LoadedPlugin& entry) : entry_(entry) {}
  ~StartedPlugin() { Stop(); }
  void Stop() {
    if (started_) entry_.shutdown();
    started_ = false;
  }
  void MarkStarted() { started_ = true; }

 private:
  const testing::LoadedPlugin& entry_;
  bool started_ = false;
};

// The fields a publish carries, but the altitude (ground classes rewrite it on the terrain).
bool SamePublishedFields(const StationRecord& a, const StationRecord& b) {
  auto same = [](const char* x, const char* y) { return std::strcmp(x, y) == 0; };
  return same(a.latitudeText, b.latitudeText) && same(a.longitudeText, b.longitudeText) &&
         same(a.frequency1, b.frequency1) && same(a.frequency2, b.frequency2) &&
         same(a.frequency3, b.frequency3) && same(a.activeMarks, b.activeMarks) &&
         same(a.cryptoFrequency, b.cryptoFrequency) && a.cryptoKey == b.cryptoKey &&
         a.radioClass == b.radioClass;
}

std::string IniText(const Scenario& scenario, const std::string& tileFolder, uint16_t serverPort) {
  testing::IniSettings ini;
  ini.logLevel = scenario.logLevel;
  ini.tileFolder = tileFolder;
  ini.port = serverPort;
  ini.ear1 = scenario.ears[0];
  ini.ear2 = scenario.ears[1];
  ini.ear3 = scenario.ears[2];
  ini.attenuation = scenario.attenuation;
  return testing::IniText(ini);
}

// The calls of every remote as blocks: each lasts its voice clip, ends half a second before the
// remote's next call and with the scenario.
std::vector<Call> PlanCalls(const Scenario& scenario, const VoiceSet& voices, int64_t totalBlocks) {
  std::vector<Call> calls;
  for (size_t r = 0; r < scenario.remotes.size(); ++r) {
    const std::vector<double>& starts = scenario.remotes[r].callStarts;
    int64_t clipBlocks =
        static_cast<int64_t>((voices.clips[r].samples.size() + kBlockSamples - 1) / kBlockSamples);
    for (size_t i = 0; i < starts.size(); ++i) {
      int64_t first = static_cast<int64_t>(std::llround(starts[i] * kBlocksPerSecond));
      if (first < 0 || first >= totalBlocks) continue;
      int64_t count = std::min(clipBlocks, totalBlocks - first);
      if (i + 1 < starts.size()) {
        int64_t next = std::llround(starts[i + 1] * kBlocksPerSecond);
        count = std::min<int64_t>(count, next - first - kGapBlocks);
      }
      if (count > 0) calls.push_back({static_cast<int>(r), first, count});
    }
  }
  std::sort(calls.begin(), calls.end(), [](const Call& a, const Call& b) {
    return a.firstBlock != b.firstBlock ? a.firstBlock < b.firstBlock : a.remote < b.remote;
  });
  return calls;
}

class ScenarioRun {
 public:
  ScenarioRun(const RunOptions& options, const StatusSink& status)
      : options_(options), scenario_(options.scenario), status_(status), env_(platform::Env::Default()) {}

  std::optional<RunResult> Run(std::string* error);

 private:
  void Say(const std::string& line) {
    if (status_) status_(line);
  }
  bool PrepareFiles(std::string* error);
  bool LoadPlugin(std::string* error);
  bool StartServer(std::string* error);
  bool StartPlugin(StartedPlugin& started, std::string* error);
  void TakeHotkeysAndMenus();
  std::string RadioCheckVerdict(anyID clientID);
  bool SendLocalCommands(double t, bool all);
  bool WaitForLocalRecord(std::string* error);
  bool WaitUntilRemotesKnown(std::string* error);
  void FeedWatchdog();
  void PublishRemotes(double t);
  void UpdateSecond(int second, std::string* error, bool* failed);
  void PlayBlock(int64_t block);
  void WaitForPluginLog();
  bool ReadPluginLog(const std::function<void(const std::string& line)>& visit);
  void WaitForTalkRefresh(const std::string& nickname);
  void FeedVoice(int remote, int64_t block, int64_t blockInCall);
  void FillHeard();
  void WaitForBlockTime(int64_t block, uint64_t startMs);
  void MakeProfiles();
  void MakeMap();
  bool WriteOutputs(std::string* error);

  const RunOptions& options_;
  const Scenario& scenario_;
  StatusSink status_;
  platform::Env& env_;
  testing::TempDir work_{"halcyra-sim-"};
  fs::path outFolder_;
  fs::path savedGames_;
  fs::path pluginLog_;
  std::string tileFolder_;
  std::string programFolder_;
  std::optional<VoiceSet> voices_;
  std::unique_ptr<StationServerProcess> server_;
  std::unique_ptr<StationServerClient> serverClient_;
  std::unique_ptr<testing::SimulatorSender> feed_;
  std::unique_ptr<testing::LoadedPlugin> plugin_;
  std::unique_ptr<SimHost> host_;
  std::unique_ptr<RadioView> view_;
  std::unique_ptr<testing::ScopedSavedGames> savedGamesVariable_;

  int64_t totalBlocks_ = 0;
  std::streamoff logRead_ = 0;  // bytes of the plug-in's log already counted
  size_t loggedBlocks_ = 0;     // voice blocks whose treatment or silencing the log states
  std::vector<float> mix_;
  std::vector<size_t> nextCall_;  // per remote: index into the remote's calls
  std::vector<std::vector<Call>> callsOf_;
  StationRecord expectedLocal_;
  RadioPanel lastLocalPanel_;
  double lastLocalTime_ = 0;
  std::string lastLLAlt_;
  uint64_t lastLLAltMs_ = 0;
  RunResult result_;
};

bool ScenarioRun::PrepareFiles(std::string* error) {
  if (work_.path().empty()) {
    *error = "cannot make a temporary folder";
    return false;
  }
  std::error_code failed;
  outFolder_ =
      fs::absolute(options_.outFolder.empty() ? fs::path("halcyra-sim-out") : fs::path(options_.outFolder));
  fs::create_directories(outFolder_, failed);
  if (failed) {
    *error = outFolder_.string() + ": cannot be created (" + failed.message() + ")";
    return false;
  }
  programFolder_ = options_.programFolder.empty() ? platform::ExecutableFolder() : options_.programFolder;

  std::vector<std::string> texts;
  for (const Remote& remote : scenario_.remotes) texts.push_back(remote.say);
  Say("Preparing the voices...");
  voices_ = MakeVoices(options_.voice, texts, work_.path().string(), error);
  if (!voices_) return false;
  if (!voices_->note.empty()) Say("Note: " + voices_->note + ".");

  if (options_.hgtFolder.empty()) {
    tileFolder_ = (work_.path() / "HGT").string();
    fs::create_directories(tileFolder_, failed);
    Say("Making the elevation tiles...");
    if (!WriteScenarioTiles(scenario_, tileFolder_, error)) return false;
  } else {
    tileFolder_ = fs::absolute(options_.hgtFolder).string();
    if (!fs::is_directory(tileFolder_)) {
      *error = options_.hgtFolder + ": not a folder of .HGT tiles";
      return false;
    }
  }
  savedGames_ = work_.path() / "Saved Games";
  fs::create_directories(savedGames_ / "Halcyra", failed);
  if (failed) {
    *error = savedGames_.string() + ": cannot be created";
    return false;
  }
  pluginLog_ = testing::LogFile(savedGames_);
  view_ = std::make_unique<RadioView>(tileFolder_);
  return true;
}

// Loads the plug-in library as a host does. The runner hands over the 209 pointers that every
// table from API 20 to 26 begins with, so it hosts a plug-in answering any of them.
bool ScenarioRun::LoadPlugin(std::string* error) {
  std::string path =
      options_.pluginPath.empty() ? programFolder_ + "/" + platform::PluginFileName() : options_.pluginPath;
  plugin_ = std::make_unique<testing::LoadedPlugin>(path);
  if (!plugin_->ok()) {
    *error = plugin_->error();
    return false;
  }
  int api = plugin_->apiVersion();
  if (api < kOldestHostApi || api > kNewestHostApi) {
    *error = path + " answers host API " + std::to_string(api) + ", this runner hosts API " +
             std::to_string(kOldestHostApi) + " to " + std::to_string(kNewestHostApi) +
             " (is HALCYRA_TS3_API set?)";
    return false;
  }
  return true;
}

bool ScenarioRun::StartServer(std::string* error) {
  Say("Starting halcyra-server on 127.0.0.1...");
  std::string program = programFolder_ + "/halcyra-server";
  server_ = StationServerProcess::Start(env_, program,
                                        (outFolder_ / (scenario_.name + ".server.log")).string(), error);
  if (!server_) return false;
  serverClient_ = StationServerClient::Open(env_, server_->Port());
  feed_ = std::make_unique<testing::SimulatorSender>();
  if (!serverClient_ || !feed_->ok()) {
    *error = "cannot open UDP sockets on 127.0.0.1";
    return false;
  }
  return true;
}

bool ScenarioRun::StartPlugin(StartedPlugin& started, std::string* error) {
  const testing::LoadedPlugin& entry = *plugin_;
  if (!WriteFile(testing::IniFile(savedGames_), IniText(scenario_, tileFolder_, server_->Port()))) {
    *error = "cannot write the plug-in's INI file";
    return false;
  }
  savedGamesVariable_ = std::make_unique<testing::ScopedSavedGames>(savedGames_.string());
  host_ = std::make_unique<SimHost>(scenario_.local.nickname);
  for (size_t r = 0; r < scenario_.remotes.size(); ++r) {
    anyID id = static_cast<anyID>(kOwnClientID + 1 + r);
    host_->AddClient(id, scenario_.remotes[r].station.nickname);
    result_.clientIDs.push_back(id);
  }
  Say(std::string("Starting the plug-in ") + entry.name() + " " + entry.version() + "...");
  entry.setFunctionPointers(host_->Table());
  if (entry.init() != 0) {
    *error = "the plug-in did not start (ts3plugin_init returned 1)";
    return false;
  }
  started.MarkStarted();
  entry.registerPluginID("halcyra-sim");
  TakeHotkeysAndMenus();
  entry.onConnectStatusChangeEvent(kServerConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  entry.onClientMoveEvent(kServerConnection, kOwnClientID, 0, kChannel, 0, "");
  return true;
}

// As the client does after the start: asks for the hotkeys and menu items and gives them back.
void ScenarioRun::TakeHotkeysAndMenus() {
  const testing::LoadedPlugin& entry = *plugin_;
  PluginHotkey** hotkeys = nullptr;
  entry.initHotkeys(&hotkeys);
  for (PluginHotkey** hotkey = hotkeys; hotkey != nullptr && *hotkey != nullptr; ++hotkey)
    entry.freeMemory(*hotkey);
  entry.freeMemory(hotkeys);
  PluginMenuItem** items = nullptr;
  char* icon = nullptr;
  entry.initMenus(&items, &icon);
  for (PluginMenuItem** item = items; item != nullptr && *item != nullptr; ++item) entry.freeMemory(*item);
  entry.freeMemory(items);
  entry.freeMemory(icon);
}

// The last line of the plug-in's info panel for a remote pilot: its verdict on him.
std::string ScenarioRun::RadioCheckVerdict(anyID clientID) {
  std::string text = plugin_->InfoText(kServerConnection, clientID, PLUGIN_CLIENT);
  const std::string mark = "Verdict: ";
  size_t at = text.rfind(mark);
  if (at == std::string::npos) return "";
  std::string verdict = text.substr(at + mark.size());
  while (!verdict.empty() && (verdict.back() == '\n' || verdict.back() == '\r')) verdict.pop_back();
  return verdict;
}

// Sends the local pilot's commands for time t; only what changed unless all. SET_VOLUM goes first:
// it publishes nothing, and the publish of the commands after it shows that it was taken.
bool ScenarioRun::SendLocalCommands(double t, bool all) {
  RadioPanel panel = PanelAt(scenario_.local, t);
  bool sent = true;
  if (all || !std::equal(panel.volumes, panel.volumes + 3, lastLocalPanel_.volumes))
    sent &= feed_->Send(SetVolumeCommand(panel));
  if (all || SetRadioCommand(panel) != SetRadioCommand(lastLocalPanel_))
    sent &= feed_->Send(SetRadioCommand(panel));
  if (all || panel.active != lastLocalPanel_.active) sent &= feed_->Send(SetActiveCommand(panel));
  lastLLAlt_ = SetLLAltCommand(PositionAt(scenario_.local, t), scenario_.local.radioClass);
  sent &= feed_->Send(lastLLAlt_);
  lastLLAltMs_ = env_.TickMs();
  lastLocalPanel_ = panel;
  lastLocalTime_ = t;
  expectedLocal_ = view_->RecordAt(scenario_.local, t);
  return sent;
}

void ScenarioRun::FeedWatchdog() {
  if (env_.TickMs() - lastLLAltMs_ < kWatchdogFeedMs) return;
  feed_->Send(lastLLAlt_);
  lastLLAltMs_ = env_.TickMs();
}

// Waits until the plug-in has taken the commands: it publishes the local station after each one,
// so the station server holds them once they are applied. Commands sent before the plug-in's
// simulator link listens are lost, so they are sent again every kLocalResendMs.
bool ScenarioRun::WaitForLocalRecord(std::string* error) {
  uint64_t start = env_.TickMs();
  uint64_t sent = start;
  while (env_.TickMs() - start < kLocalSyncTimeoutMs) {
    std::optional<std::string> reply = serverClient_->Query(scenario_.local.nickname, 200);
    StationRecord stored = DefaultStation();
    if (reply && wire::ParseReply(*reply, &stored).kind == wire::ReplyKind::kRecord) {
      if (SamePublishedFields(stored, expectedLocal_)) return true;
    }
    if (env_.TickMs() - sent >= kLocalResendMs) {
      SendLocalCommands(lastLocalTime_, true);
      sent = env_.TickMs();
    }
    env_.SleepMs(1);
  }
  *error =
      "the plug-in does not take the simulator commands sent to UDP 127.0.0.1:10602 (is another "
      "Halcyra plug-in or scenario run using the port?)";
  return false;
}

// The plug-in's refresh cycle fetches the channel's stations every 2 s; a talk event only refreshes
// a station the plug-in already holds. With LOGLEVEL 5 its log tells when each one has arrived.
bool ScenarioRun::WaitUntilRemotesKnown(std::string* error) {
  Say("Waiting for the plug-in to fetch the remote stations...");
  uint64_t start = env_.TickMs();
  bool logTells = scenario_.logLevel >= kFetchLogLevel;
  uint64_t limit = logTells ? kRemotesKnownTimeoutMs : kRefreshTicksWaitMs;
  while (env_.TickMs() - start < limit) {
    FeedWatchdog();
    env_.SleepMs(50);
    if (!logTells) continue;
    std::string log = ReadFile(pluginLog_);
    bool all = true;
    for (const Remote& remote : scenario_.remotes) {
      all &=
          log.find("Thread_UDPRequest : Added item [" + remote.station.nickname + "@") != std::string::npos;
    }
    if (all) return true;
  }
  if (!logTells) return true;
  *error = "the plug-in did not fetch the remote stations from the station server within " +
           std::to_string(kRemotesKnownTimeoutMs / 1000) + " s (see " + pluginLog_.string() + ")";
  return false;
}

void ScenarioRun::PublishRemotes(double t) {
  for (const Remote& remote : scenario_.remotes) serverClient_->Publish(view_->RecordAt(remote.station, t));
}

void ScenarioRun::UpdateSecond(int second, std::string* error, bool* failed) {
  double t = second;
  host_->SetClock(t);
  SendLocalCommands(t, false);
  if (!WaitForLocalRecord(error)) {
    *failed = true;
    return;
  }
  PublishRemotes(t);
  StationRecord local = expectedLocal_;
  std::vector<Position> positions{PositionAt(scenario_.local, t)};
  for (size_t r = 0; r < scenario_.remotes.size(); ++r) {
    StationRecord remote = RadioView::FetchedRecord(view_->RecordAt(scenario_.remotes[r].station, t));
    TableRow row;
    row.second = second;
    row.remote = static_cast<int>(r);
    row.figures = view_->Judge(local, remote);
    row.ear = row.figures.localRadio >= 1 ? scenario_.ears[row.figures.localRadio - 1] : 0;
    row.verdict = RadioCheckVerdict(result_.clientIDs[r]);
    result_.rows.push_back(row);
    positions.push_back(PositionAt(scenario_.remotes[r].station, t));
  }
  result_.tracks.push_back(positions);
}

void ScenarioRun::FeedVoice(int remote, int64_t block, int64_t blockInCall) {
  const std::vector<int16_t>& clip = voices_->clips[static_cast<size_t>(remote)].samples;
  short samples[kBlockSamples] = {};
  size_t offset = static_cast<size_t>(blockInCall) * kBlockSamples;
  for (size_t i = 0; i < kBlockSamples && offset + i < clip.size(); ++i) samples[i] = clip[offset + i];
  BlockRecord record;
  for (short sample : samples)
    record.inputPeak = std::max(record.inputPeak, std::abs(static_cast<int>(sample)));
  anyID id = result_.clientIDs[static_cast<size_t>(remote)];
  plugin_->onEditPlaybackVoiceDataEvent(kServerConnection, id, samples, kBlockSamples, 1);

  record.remote = remote;
  record.block = block;
  record.position = host_->PositionOf(id);
  StereoGains gains = GainsFor(record.position);
  float* out = mix_.data() + static_cast<size_t>(block) * kBlockSamples * 2;
  float peak = 0;
  for (int i = 0; i < kBlockSamples; ++i) {
    record.editedPeak = std::max(record.editedPeak, std::abs(static_cast<int>(samples[i])));
    float left = samples[i] * gains.left;
    float right = samples[i] * gains.right;
    out[2 * i] += left;
    out[2 * i + 1] += right;
    peak = std::max({peak, std::fabs(left), std::fabs(right)});
  }
  record.renderedPeak = static_cast<int>(std::lround(peak));
  result_.blocks.push_back(record);
}

void ScenarioRun::PlayBlock(int64_t block) {
  const testing::LoadedPlugin& entry = *plugin_;
  host_->SetClock(static_cast<double>(block) / kBlocksPerSecond);
  for (size_t r = 0; r < callsOf_.size(); ++r) {
    if (nextCall_[r] >= callsOf_[r].size()) continue;
    const Call& call = callsOf_[r][nextCall_[r]];
    if (block < call.firstBlock) continue;
    anyID id = result_.clientIDs[r];
    if (block == call.firstBlock) {
      entry.onTalkStatusChangeEvent(kServerConnection, 1, 0, id);
      WaitForTalkRefresh(scenario_.remotes[r].station.nickname);
    }
    FeedVoice(static_cast<int>(r), block, block - call.firstBlock);
    if (block == call.firstBlock + call.blockCount - 1) {
      host_->SetClock(static_cast<double>(block + 1) / kBlocksPerSecond);
      entry.onTalkStatusChangeEvent(kServerConnection, 0, 0, id);
      // His end is judged again on the query thread too; the next talk event must not meet it.
      WaitForTalkRefresh(scenario_.remotes[r].station.nickname);
      ++nextCall_[r];
    }
  }
  FeedWatchdog();
}

// Each row learns whether the remote was heard in its second (some block reached the listener) and
// which of his blocks comes first in it.
void ScenarioRun::FillHeard() {
  size_t remotes = scenario_.remotes.size();
  for (size_t index = 0; index < result_.blocks.size(); ++index) {
    const BlockRecord& block = result_.blocks[index];
    size_t row =
        static_cast<size_t>(block.block / kBlocksPerSecond) * remotes + static_cast<size_t>(block.remote);
    if (row >= result_.rows.size()) continue;
    TableRow& line = result_.rows[row];
    if (line.firstBlock < 0) line.firstBlock = static_cast<int>(index);
    if (block.Reached())
      line.heard = Heard::kHeard;
    else if (line.heard == Heard::kNotTalking)
      line.heard = Heard::kSilent;
  }
}

// The fast mode outpaces the plug-in's log writer: every second of scenario time the runner waits
// until the log states the treatment or silencing of every voice block fed so far, so the log's
// queue never holds more than a second of lines. A block the plug-in does not judge (which the
// check of its decisions reports) ends the wait after kLogCatchUpMs.
void ScenarioRun::WaitForPluginLog() {
  if (scenario_.logLevel < kFetchLogLevel || scenario_.attenuation == 0) return;
  uint64_t start = env_.TickMs();
  while (loggedBlocks_ < result_.blocks.size() && env_.TickMs() - start < kLogCatchUpMs) {
    if (!ReadPluginLog(nullptr)) env_.SleepMs(2);
  }
}

// Reads the complete lines the plug-in's log has got since the last read, counts the voice blocks
// they state and hands each to visit (if given). False when there was no new line.
bool ScenarioRun::ReadPluginLog(const std::function<void(const std::string& line)>& visit) {
  std::ifstream file(pluginLog_, std::ios::binary);
  file.seekg(logRead_);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  size_t complete = text.rfind('\n');
  if (complete == std::string::npos) return false;
  std::istringstream lines(text.substr(0, complete + 1));
  for (std::string line; std::getline(lines, line);) {
    if (line.find(") SamplesByHCVolumes : ") != std::string::npos ||
        line.find(" : voice block silenced") != std::string::npos) {
      ++loggedBlocks_;
    }
    if (visit) visit(line);
  }
  logRead_ += static_cast<std::streamoff>(complete + 1);
  return true;
}

// A talk event has the talker's record refreshed on the plug-in's query thread, which judges him
// again when it changed. On loopback that ends within a few milliseconds, before his next voice
// block; the runner waits for it (the log states its end), so that in the fast mode too his call is
// judged on the record fetched at his talk event, and the log states that judgement before the
// one of his first block.
void ScenarioRun::WaitForTalkRefresh(const std::string& nickname) {
  if (scenario_.logLevel < kFetchLogLevel) return;
  const std::string asked = "RefreshClientStatus : Send query for [" + nickname + "]";
  bool queried = false;
  bool ended = false;
  uint64_t start = env_.TickMs();
  while (!ended && env_.TickMs() - start < kLogCatchUpMs) {
    bool read = ReadPluginLog([&](const std::string& line) {
      if (line.find(asked) != std::string::npos) queried = true;
      if (queried &&
          (line.find("RefreshClientStatus : Request is terminated normally") != std::string::npos ||
           line.find("RefreshClientStatus : Thread_UDPRequest thread ID") != std::string::npos)) {
        ended = true;
      }
    });
    if (!ended && !read) env_.SleepMs(1);
  }
}

// Waits until the block's time in real time, feeding the watchdog meanwhile.
void ScenarioRun::WaitForBlockTime(int64_t block, uint64_t startMs) {
  uint64_t due = startMs + static_cast<uint64_t>(block) * 1000 / kBlocksPerSecond;
  for (uint64_t now = env_.TickMs(); now < due; now = env_.TickMs()) {
    env_.SleepMs(static_cast<unsigned>(std::min<uint64_t>(due - now, 5)));
  }
}

void ScenarioRun::MakeProfiles() {
  size_t shown = std::min<size_t>(scenario_.remotes.size(), 3);
  for (double moment : scenario_.profileMoments) {
    double t = std::clamp(moment, 0.0, scenario_.duration);
    for (size_t r = 0; r < shown; ++r) {
      Profile profile;
      profile.time = t;
      profile.remote = static_cast<int>(r);
      profile.local = view_->RecordAt(scenario_.local, t);
      profile.remoteRecord = RadioView::FetchedRecord(view_->RecordAt(scenario_.remotes[r].station, t));
      profile.figures = view_->Judge(profile.local, profile.remoteRecord);
      for (int i = 0; i <= kProfileSamples; ++i) {
        double f = static_cast<double>(i) / kProfileSamples;
        double lat = profile.local.latitude + (profile.remoteRecord.latitude - profile.local.latitude) * f;
        double lon = profile.local.longitude + (profile.remoteRecord.longitude - profile.local.longitude) * f;
        profile.terrainFeet.push_back(std::floor(view_->ElevationMetres(lat, lon) * 3.28));
      }
      result_.profiles.push_back(profile);
    }
  }
}

void ScenarioRun::MakeMap() {
  constexpr size_t kCells = 60;
  TerrainMap& map = result_.map;
  map.south = 90, map.north = -90, map.west = 180, map.east = -180;
  for (const std::vector<Position>& second : result_.tracks) {
    for (const Position& p : second) {
      map.south = std::min(map.south, p.latitude);
      map.north = std::max(map.north, p.latitude);
      map.west = std::min(map.west, p.longitude);
      map.east = std::max(map.east, p.longitude);
    }
  }
  double margin = std::max({0.05, (map.north - map.south) * 0.1, (map.east - map.west) * 0.1});
  map.south -= margin, map.north += margin, map.west -= margin, map.east += margin;
  map.metres.assign(kCells, std::vector<double>(kCells, 0));
  for (size_t i = 0; i < kCells; ++i) {
    for (size_t j = 0; j < kCells; ++j) {
      map.metres[i][j] = view_->ElevationMetres(map.south + (map.north - map.south) * (i + 0.5) / kCells,
                                                map.west + (map.east - map.west) * (j + 0.5) / kCells);
    }
  }
}

bool ScenarioRun::WriteOutputs(std::string* error) {
  result_.stereo.resize(mix_.size());
  for (size_t i = 0; i < mix_.size(); ++i) {
    result_.stereo[i] = static_cast<int16_t>(std::clamp(std::lround(mix_[i]), -32767L, 32767L));
  }
  std::string base = (outFolder_ / scenario_.name).string();
  result_.wavPath = base + ".wav";
  result_.reportPath = base + ".html";
  result_.pluginLogPath = base + ".plugin.log";
  result_.tablePath = base + ".table.txt";
  result_.blocksPath = base + ".blocks.csv";
  std::error_code failed;
  fs::copy_file(pluginLog_, result_.pluginLogPath, fs::copy_options::overwrite_existing, failed);
  if (failed) {
    *error = "cannot copy the plug-in's log to " + result_.pluginLogPath + " (" + failed.message() + ")";
    return false;
  }
  if (!WriteStereoWav(result_.wavPath, result_.stereo, kOutputRate, error)) return false;
  for (const auto& [path, text] : {std::pair{result_.tablePath, FormatTable(scenario_, result_)},
                                   std::pair{result_.blocksPath, FormatBlocks(scenario_, result_)}}) {
    if (!WriteFile(path, text)) {
      *error = path + ": cannot be written";
      return false;
    }
  }
  return WriteReport(scenario_, result_, result_.reportPath, error);
}

std::optional<RunResult> ScenarioRun::Run(std::string* error) {
  auto wallStart = std::chrono::steady_clock::now();
  if (!PrepareFiles(error)) return std::nullopt;
  if (!LoadPlugin(error)) return std::nullopt;
  if (env_.StartNetworking() != 0) {
    *error = "cannot start networking";
    return std::nullopt;
  }
  if (!StartServer(error)) return std::nullopt;

  totalBlocks_ = std::llround(scenario_.duration * kBlocksPerSecond);
  mix_.assign(static_cast<size_t>(totalBlocks_) * kBlockSamples * 2, 0.0f);
  result_.calls = PlanCalls(scenario_, *voices_, totalBlocks_);
  callsOf_.assign(scenario_.remotes.size(), {});
  for (const Call& call : result_.calls) callsOf_[static_cast<size_t>(call.remote)].push_back(call);
  nextCall_.assign(scenario_.remotes.size(), 0);
  result_.voiceSource = voices_->source;
  result_.voiceNote = voices_->note;

  {
    StartedPlugin started(*plugin_);
    PublishRemotes(0);
    if (!StartPlugin(started, error)) return std::nullopt;
    SendLocalCommands(0, true);
    if (!WaitForLocalRecord(error) || !WaitUntilRemotesKnown(error)) return std::nullopt;

    Say("Running " + scenario_.name + ": " + std::to_string(static_cast<int>(scenario_.duration)) +
        " s of scenario time" + (options_.fast ? ", fast..." : " in real time..."));
    uint64_t startMs = env_.TickMs();
    for (int64_t block = 0; block < totalBlocks_; ++block) {
      if (!options_.fast) WaitForBlockTime(block, startMs);
      if (block % kBlocksPerSecond == 0) {
        bool failed = false;
        int second = static_cast<int>(block / kBlocksPerSecond);
        UpdateSecond(second, error, &failed);
        if (failed) return std::nullopt;
        if (options_.fast) WaitForPluginLog();
        if (options_.progress) options_.progress(second);
      }
      PlayBlock(block);
    }
    started.Stop();  // the plug-in's log is complete once it has stopped
  }
  result_.placements = host_->Placements();
  result_.hostMemoryLeft = host_->OutstandingAllocations();
  savedGamesVariable_.reset();
  server_->Stop();
  result_.fast = options_.fast;
  FillHeard();
  CheckPluginDecisions(scenario_, *view_, ReadPluginDecisions(ReadFile(pluginLog_)), result_);
  MakeProfiles();
  MakeMap();
  if (view_->TilesLoaded() == 0) {
    Say("Note: no elevation tile in " + tileFolder_ +
        " covers the scenario's area, so the terrain was flat (0 m).");
  }
  result_.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  if (!WriteOutputs(error)) return std::nullopt;
  return std::move(result_);
}

}  // namespace

std::optional<RunResult> RunScenario(const RunOptions& options, const StatusSink& status,
                                     std::string* error) {
  ScenarioRun run(options, status);
  return run.Run(error);
}

}  // namespace halcyra::sim
