// The built plug-in library loaded as the host loads it, driven through its exports only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include "fake_env.h"
#include "fake_host.h"
#include "foundation/version.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "log_reader.h"
#include "platform/env.h"
#include "plugin/runtime_guard.h"
#include "plugin_ini.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using testing::FakeHost;
using testing::LoadedPlugin;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> LogLines(const std::filesystem::path& file) {
  std::vector<std::string> lines;
  std::istringstream stream(ReadFile(file));
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Index of the first line at or after `from` containing text; -1 when none.
int Find(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
  for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
    if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
  }
  return -1;
}

class PluginBoundaryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(plugin_.ok()) << plugin_.error(); }

  void WriteIni(int logLevel, const std::string& more = "") {
    std::filesystem::create_directories(dir_ / "HGT");
    WriteFile(dir_ / "Halcyra" / "Halcyra.ini", "[LOG]\nLOGLEVEL=" + std::to_string(logLevel) +
                                                    "\n[HGT]\nPath=" + (dir_ / "HGT").string() +
                                                    "\n[HCS]\nHOST=127.0.0.1\nUDP=10600\n" + more);
  }
  std::filesystem::path LogFile() { return dir_ / "Halcyra" / "Halcyra.log"; }

  // One full start and stop of the plug-in, as the host does it.
  int StartAndStop() {
    plugin_.setFunctionPointers(host_.Table());
    int result = plugin_.init();
    if (result == 0) plugin_.shutdown();
    return result;
  }

  LoadedPlugin plugin_;
  FakeHost host_;
  TempDir dir_;
};

TEST_F(PluginBoundaryTest, IdentifiesItself) {
  const char* name = plugin_.name();
  EXPECT_STREQ("Halcyra", name);
  EXPECT_EQ(name, plugin_.name());                  // the same pointer every time
  EXPECT_STREQ(kPluginVersion, plugin_.version());  // the project version (CMakeLists.txt)
  // The test program has no version resource, like the Linux client: a client of unknown version
  // gets the current API (the answers to known versions: the plugin_api_client_* tests).
  EXPECT_EQ(kFixedHostApiVersion != 0 ? kFixedHostApiVersion : 26, plugin_.apiVersion());
  EXPECT_EQ(1, plugin_.requestAutoload());
  EXPECT_GT(std::strlen(plugin_.author()), 0u);
  EXPECT_EQ(0, std::strncmp("Radio simulator for DCS-World\n", plugin_.description(), 30));
}

TEST_F(PluginBoundaryTest, StartWithoutSavedGamesFolderFailsAndWritesNoLog) {
  testing::ScopedSavedGames missing("");
  plugin_.setFunctionPointers(host_.Table());
  EXPECT_EQ(1, plugin_.init());
  EXPECT_FALSE(std::filesystem::exists(LogFile()));
  plugin_.shutdown();  // a stop after a failed start finds nothing to release
  EXPECT_EQ(0, host_.TotalCalls());
}

TEST_F(PluginBoundaryTest, SuccessfulStartAtLevelZeroLogsSetUpConfigurationAndStartLines) {
  testing::ScopedSavedGames savedGames(dir_.path().string());
  WriteIni(0);
  ASSERT_EQ(0, StartAndStop());
  auto lines = LogLines(LogFile());
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(testing::MatchesShape(
      lines[0],
      "[%d%d%d%d-%d%d-%d%d %d%d:%d%d:%d%d.%d%d%d][L00] Initialize Log file with 0 level. Thread #%i "
      "(%X%X%X%X%X%X%X%X)"))
      << lines[0];
  int path = Find(lines, "][L00] (0");
  ASSERT_GE(path, 0);
  ASSERT_NE(std::string::npos, lines[path].find(") ReadIniFile : HGT Files path : "));
  int server = Find(lines, ") ReadIniFile : Halcyra Server : 127.0.0.1:10600", path);
  EXPECT_GT(Find(lines, ") ReadIniFile : DCS Listen : 127.0.0.1:10602", server), server);
  int initializing = Find(lines, ") Halcyra plugin is initializing", server);
  int api =
      Find(lines, ") ts3plugin_apiVersion : TeamSpeak client version unknown: plug-in API ", initializing);
  int initialized = Find(lines, ") Halcyra plugin is initialized", initializing + 1);
  int closing = Find(lines, "][L00] ~Clog : Close log file.", initialized);
  EXPECT_GT(path, 0);
  EXPECT_GT(server, path);
  EXPECT_GT(initializing, server);
  EXPECT_GT(initialized, initializing);
  ASSERT_GT(api, initializing);
  EXPECT_LT(api, initialized);
  EXPECT_NE(std::string::npos, lines[api].find("][L00] (")) << lines[api];
  EXPECT_EQ(static_cast<int>(lines.size()) - 1, closing);
  EXPECT_EQ(-1, Find(lines, "Launch Thread_RW_HCS"));
  EXPECT_EQ(-1, Find(lines, "Read HGT parameters"));
}

// The one start line that names the installer, until some DCS* folder's Export.lua loads the script.
TEST_F(PluginBoundaryTest, StartSaysWhenNoSimulatorFolderLoadsTheExportScript) {
  testing::ScopedSavedGames savedGames(dir_.path().string());
  WriteIni(0);
  const std::string notice = "][L00] (0";
  const std::string install =
      "Export.lua: the simulator will send nothing. Install it with halcyra-dcs-install";
  auto noticeLines = [&] {
    auto lines = LogLines(LogFile());
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(notice) != std::string::npos && line.find(install) != std::string::npos;
    });
  };
  std::filesystem::path scripts = dir_ / "DCS.openbeta" / "Scripts";
  WriteFile(scripts / "Export.lua",
            "-- pcall(dofile, lfs.writedir() .. \"Scripts/Halcyra/HalcyraExport.lua\")\n");
  WriteFile(scripts / "Halcyra" / "HalcyraExport.lua", "");
  ASSERT_EQ(0, StartAndStop());
  EXPECT_EQ(1, noticeLines()) << "a commented-out line loads nothing";

  WriteFile(dir_ / "DCS" / "Scripts" / "Export.lua",
            "dofile(lfs.writedir()..[[Scripts\\Halcyra\\HalcyraExport.lua]])\n");
  ASSERT_EQ(0, StartAndStop());
  EXPECT_EQ(1, noticeLines()) << "the line without the script beside it loads nothing";

  WriteFile(dir_ / "DCS" / "Scripts" / "Halcyra" / "HalcyraExport.lua", "");
  ASSERT_EQ(0, StartAndStop());
  EXPECT_EQ(0, noticeLines());
}

TEST_F(PluginBoundaryTest, StartAtLevelThreeCanRunTwiceInOneProcess) {
  testing::ScopedSavedGames savedGames(dir_.path().string());
  WriteIni(3);
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(0, StartAndStop()) << "run " << run;
    auto lines = LogLines(LogFile());
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos, lines[0].find("Initialize Log file with 3 level.")) << "run " << run;
    int read = Find(lines, ") ReadIniFile : Read HGT parameters");
    ASSERT_GT(read, 0);
    EXPECT_NE(std::string::npos, lines[read].find("][L03] ("));
    int path = Find(lines, "ReadIniFile : HGT Files path : ", read);
    int server = Find(lines, "UpdatePluginInfo : Halcyra Server : (127.0.0.1) 127.0.0.1:10600", path);
    int summary = Find(lines, "ReadIniFile : Halcyra Server : 127.0.0.1:10600", server);
    int initializing = Find(lines, "Halcyra plugin is initializing", summary);
    int launchRefresh = Find(lines, "ts3plugin_init : Launch Thread_RW_HCS", initializing);
    int launchSimulator = Find(lines, "ts3plugin_init : Launch Thread_DCS_External", launchRefresh);
    int initialized = Find(lines, "Halcyra plugin is initialized", initializing + 1);
    EXPECT_GT(launchRefresh, initializing);
    EXPECT_GT(launchSimulator, launchRefresh);
    EXPECT_GT(initialized, launchSimulator);
    int stopping = Find(lines, "ts3plugin_shutdown : Plugin is shuting down", initialized);
    int closing = Find(lines, "~Clog : Close log file.", stopping);
    EXPECT_GT(read, 0);
    EXPECT_GT(path, read);
    EXPECT_GT(server, path);
    EXPECT_GT(summary, server);
    EXPECT_GT(initializing, summary);
    EXPECT_GT(initialized, initializing);
    EXPECT_GT(stopping, initialized);
    EXPECT_EQ(static_cast<int>(lines.size()) - 1, closing);
    // The log file holds the current run only.
    EXPECT_EQ(1, static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.find("Initialize Log file") != std::string::npos;
              })));
  }
}

// Only a simulator on this computer commands the aircraft unless [DCS] LISTEN opens the port: a
// command sent to another local address (127.0.0.2) is ignored by default and taken with 0.0.0.0.
TEST_F(PluginBoundaryTest, SimulatorPortListensOnLoopbackUnlessOpened) {
  testing::ScopedSavedGames savedGames(dir_.path().string());
  platform::Env& env = platform::Env::Default();
  ASSERT_EQ(0, env.StartNetworking());
  for (bool opened : {false, true}) {
    WriteIni(6, opened ? "[DCS]\nLISTEN=0.0.0.0\n" : "");
    plugin_.setFunctionPointers(host_.Table());
    ASSERT_EQ(0, plugin_.init());
    std::unique_ptr<platform::UdpSocket> simulator = env.CreateUdpSocket();
    ASSERT_NE(nullptr, simulator);
    const std::string other = "SET_VOLUM 2 2 2", loopback = "SET_VOLUM 1 1 1";
    // Opened, both must arrive. Closed, the datagram to the other address is sent first, every time,
    // so by the time the loopback one has been handled it would have been too had it been let in.
    bool seen = false;
    for (int attempt = 0; attempt < 200 && !seen; ++attempt) {
      simulator->SendTo(other.data(), other.size(), 0x7F000002, 10602);
      simulator->SendTo(loopback.data(), loopback.size(), 0x7F000001, 10602);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      auto logged = LogLines(LogFile());
      seen = Find(logged, "Received : >" + loopback + "]") >= 0 &&
             (!opened || Find(logged, "Received : >" + other + "]") >= 0);
    }
    plugin_.shutdown();
    auto lines = LogLines(LogFile());
    EXPECT_TRUE(seen) << "opened " << opened;
    EXPECT_EQ(opened, Find(lines, "Received : >" + other + "]") >= 0) << "opened " << opened;
    int listen = Find(lines, opened ? ") ReadIniFile : DCS Listen : 0.0.0.0:10602 (every address)"
                                    : ") ReadIniFile : DCS Listen : 127.0.0.1:10602");
    ASSERT_GE(listen, 0) << "opened " << opened;
    EXPECT_NE(std::string::npos, lines[listen].find("][L00] ("));
  }
}

struct Api26Functions {
  TS3Functions prefix;
  void* appended[230 - kHostFunctionCount];
};
static_assert(sizeof(Api26Functions) == 230 * sizeof(void*));

// Calls the entry point as a client of API 26 declares it. The declarations differ on purpose, so
// the sanitizer's check of the called function's type is off for this one call.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
void HandOverAsApi26Client(void (*entry)(), const Api26Functions& table) {
  reinterpret_cast<void (*)(const Api26Functions)>(entry)(table);
}

// A client of API 26 hands over its whole table, 230 pointers by value; the plug-in reads the 209
// that every client's table begins with, starts and calls the host through them.
TEST_F(PluginBoundaryTest, StartsAndCallsTheHostWithTheLongerTableOfNewerClients) {
  testing::ScopedSavedGames savedGames(dir_.path().string());
  WriteIni(4);
  Api26Functions table{};
  table.prefix = host_.Table();
  HandOverAsApi26Client(reinterpret_cast<void (*)()>(plugin_.setFunctionPointers), table);
  host_.SetOwnClient(3, "Viper");
  host_.SetNickname(7, "Bob");
  host_.SetChannel(0x42, {3, 7});
  ASSERT_EQ(0, plugin_.init());
  plugin_.onConnectStatusChangeEvent(1, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(1, 3, 0, 0x42, 0, "");  // lists the channel and reads Bob's nickname
  plugin_.shutdown();
  EXPECT_EQ(1, host_.ClientIdCalls());
  EXPECT_EQ(2, host_.SettingsCalls());
  EXPECT_EQ(100.0f, host_.LastRolloffScale());
  EXPECT_EQ(0, host_.OutstandingAllocations());  // the list and the nickname went back through freeMemory
  EXPECT_GE(Find(LogLines(LogFile()), "CTS3ClientsBase::AddCDB_item : new Client : [#001]\"Bob\""), 0);
}

TEST_F(PluginBoundaryTest, EventsOutsideAStartedPluginAreIgnored) {
  plugin_.setFunctionPointers(host_.Table());
  short samples[4] = {1, 2, 3, 4};
  plugin_.onConnectStatusChangeEvent(1, 4, 0);
  plugin_.onClientMoveEvent(1, 2, 0, 3, 0, "");
  plugin_.onClientMoveMovedEvent(1, 2, 0, 3, 0, 5, "mover", "uid", "");
  plugin_.onTalkStatusChangeEvent(1, 1, 0, 2);
  plugin_.onEditPlaybackVoiceDataEvent(1, 2, samples, 4, 1);
  plugin_.onHotkeyEvent("halcyra_radio2");
  plugin_.onMenuItemEvent(1, PLUGIN_MENU_TYPE_GLOBAL, 1, 0);
  char* data = reinterpret_cast<char*>(samples);
  plugin_.infoData(1, 2, PLUGIN_CLIENT, &data);
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(0, host_.TotalCalls());
  EXPECT_EQ(1, samples[0]);
  EXPECT_EQ(4, samples[3]);
}

// What the client asks for once after the start, and gives back piece by piece through freeMemory
// (the asan suite finds what is not given back).
TEST_F(PluginBoundaryTest, HotkeysAndMenusAreListedInAllocatedMemoryTheClientGivesBack) {
  PluginHotkey** hotkeys = nullptr;
  plugin_.initHotkeys(&hotkeys);
  ASSERT_NE(nullptr, hotkeys);
  std::vector<std::string> keywords;
  for (PluginHotkey** hotkey = hotkeys; *hotkey != nullptr; ++hotkey) {
    keywords.push_back((*hotkey)->keyword);
    EXPECT_EQ(0, std::strncmp("Halcyra: ", (*hotkey)->description, 9)) << (*hotkey)->description;
    plugin_.freeMemory(*hotkey);
  }
  plugin_.freeMemory(hotkeys);
  EXPECT_EQ((std::vector<std::string>{"halcyra_radio1", "halcyra_radio2", "halcyra_radio3",
                                      "halcyra_next_radio", "halcyra_model"}),
            keywords);

  PluginMenuItem** items = nullptr;
  char* icon = reinterpret_cast<char*>(&items);
  plugin_.initMenus(&items, &icon);
  ASSERT_NE(nullptr, items);
  EXPECT_EQ(nullptr, icon);
  std::vector<std::string> global, client;
  for (PluginMenuItem** item = items; *item != nullptr; ++item) {
    ((*item)->type == PLUGIN_MENU_TYPE_CLIENT ? client : global).push_back((*item)->text);
    EXPECT_STREQ("", (*item)->icon);
    plugin_.freeMemory(*item);
  }
  plugin_.freeMemory(items);
  EXPECT_EQ(
      (std::vector<std::string>{"Radio model on/off", "Reload settings now", "Open Halcyra.ini",
                                "Open the log folder", "Bind a joystick button to radio 1",
                                "Bind a joystick button to radio 2", "Bind a joystick button to radio 3"}),
      global);
  EXPECT_EQ(std::vector<std::string>{"Radio check"}, client);
  EXPECT_STREQ("Halcyra", plugin_.infoTitle());
  plugin_.registerPluginID("halcyra_win64-abc");
}

// ---- the joystick selector through the runtime in this process: joysticks can only be faked in
// the platform layer, which the loaded library does not let a test replace.

// Counts the joystick scanner's sleeps, in ms; the host stamps its calls with the count, so a test
// tells how much of the scanner's time passed between a press and the host call it caused.
class ScannerClock : public testing::FakeEnv {
 public:
  std::atomic<uint64_t> scannerSleptMs{0};
  bool ReadJoystickButtons(int id, uint32_t* buttons) override {
    uint32_t thread = CurrentThreadId();
    if (thread != testThread_) scanner_ = thread;
    return FakeEnv::ReadJoystickButtons(id, buttons);
  }
  // The scanner sleeps between two passes on the clock (its stop token's wait).
  void WaitOnClock(platform::ConditionVariable& signal, platform::MutexLock& lock, uint32_t ms) override {
    if (CurrentThreadId() == scanner_.load()) scannerSleptMs += ms;
    FakeEnv::WaitOnClock(signal, lock, ms);
  }

 private:
  const uint32_t testThread_ = CurrentThreadId();
  std::atomic<uint32_t> scanner_{0};
};

constexpr uint32_t Button(int number) { return 1u << (number - 1); }

class JoystickRuntimeTest : public ::testing::Test {
 protected:
  void Start(const std::string& selectorLines) {
    env_.savedGames = dir_.path().wstring();
    env_.moduleFolder = (dir_ / "plugins").wstring();
    env_.PlugJoystick(0, 0);
    std::filesystem::create_directories(dir_ / "HGT");
    WriteFile(testing::IniFile(dir_.path()),
              "[LOG]\nLOGLEVEL=3\n[HGT]\nPath=" + (dir_ / "HGT").string() + "\n[SELECTOR]\n" + selectorLines);
    host_.StampCallsWith([this] { return env_.scannerSleptMs.load(); });
    plugin_.SetFunctionPointers(host_.Table());
    ASSERT_EQ(0, plugin_.Init());
    plugin_.OnConnectStatusChange(1, STATUS_CONNECTION_ESTABLISHED, 0);
  }
  ~JoystickRuntimeTest() override { plugin_.Shutdown(); }
  std::filesystem::path LogFile() { return testing::LogFile(dir_.path()); }
  // Lets the scanner read the joysticks at least once more.
  void LetTheScannerLook() {
    uint64_t now = env_.scannerSleptMs.load();
    ASSERT_TRUE(testing::WaitUntil([&] { return env_.scannerSleptMs.load() >= now + 40; }, 10000));
  }

  // Presses (or releases) and returns the microphone call it caused, waiting for it.
  std::optional<testing::FakeHost::SelfVariableCall> Press(uint32_t buttons, size_t callsBefore) {
    uint64_t pressedAt = env_.scannerSleptMs.load();
    env_.PlugJoystick(0, buttons);
    if (!testing::WaitUntil([&] { return host_.SelfVariableCalls().size() > callsBefore; }, 10000))
      return std::nullopt;
    testing::FakeHost::SelfVariableCall call = host_.SelfVariableCalls()[callsBefore];
    EXPECT_LE(call.stamp - pressedAt, 40u) << "ms of the scanner between the press and the microphone call";
    return call;
  }

  TempDir dir_;
  FakeHost host_;
  ScannerClock env_;
  RuntimeGuard plugin_{env_};
};

TEST_F(JoystickRuntimeTest, HeldButtonSelectsItsRadioAndKeysTheMicrophoneWithin40Ms) {
  Start("RADIO2=0 5\nPTT=1\n");
  // Closed first, so that a client set to transmit continuously sends nothing before a press.
  ASSERT_TRUE(testing::WaitUntil([&] { return host_.SelfVariableCalls().size() == 1; }, 10000));
  EXPECT_EQ(1, host_.SelfVariableCalls()[0].value);
  auto opened = Press(Button(5), 1);
  ASSERT_TRUE(opened);
  EXPECT_EQ(1u, opened->serverConnectionHandlerID);
  EXPECT_EQ(static_cast<size_t>(CLIENT_INPUT_DEACTIVATED), opened->flag);
  EXPECT_EQ(0, opened->value);
  EXPECT_TRUE(testing::WaitUntil([&] { return host_.FlushCalls() == 2; }, 10000));
  auto closed = Press(0, 2);
  ASSERT_TRUE(closed);
  EXPECT_EQ(1, closed->value);

  ASSERT_TRUE(Press(Button(5), 3));
  plugin_.Shutdown();  // held while the plug-in stops: the microphone is closed
  std::vector<testing::FakeHost::SelfVariableCall> calls = host_.SelfVariableCalls();
  ASSERT_EQ(5u, calls.size());
  EXPECT_EQ(1, calls[4].value);
  EXPECT_EQ(5, host_.FlushCalls());
  std::string log = ReadFile(LogFile());
  EXPECT_NE(std::string::npos, log.find("Thread_ScanJoystick : Radio #2 is selected. HCS active : _X_"))
      << log;
}

// A bind item: the next button pressed goes to the settings file and is used at once; the chat tab
// says which, or that none was pressed.
TEST_F(JoystickRuntimeTest, BindItemTakesTheNextPressedButtonIntoTheSettingsAndUsesIt) {
  env_.realSleepCapMs = 20;  // the ten seconds of a capture pass in a few seconds, not at once
  Start("RADIO1=0 7\nRADIO3=-1 -1   ; none yet\n");
  plugin_.OnMenuItemEvent(1, PLUGIN_MENU_TYPE_GLOBAL, 7, 0);  // "Bind a joystick button to radio 3"
  ASSERT_EQ(1u, host_.ChatLines().size());
  EXPECT_EQ("Halcyra: press the joystick button for radio 3 within 10 s", host_.ChatLines()[0]);
  LetTheScannerLook();              // as a pilot reads the line first: a button held before counts not
  env_.PlugJoystick(0, Button(7));  // radio 1's button
  ASSERT_TRUE(testing::WaitUntil([&] { return host_.ChatLines().size() == 2; }, 10000));
  EXPECT_EQ("Halcyra: Radio 3: joystick 0, button 7 (taken from radio 1)", host_.ChatLines()[1]);
  EXPECT_EQ("[LOG]\nLOGLEVEL=3\n[HGT]\nPath=" + (dir_ / "HGT").string() +
                "\n[SELECTOR]\nRADIO1=-1 -1\nRADIO3=0 7   ; none yet\n",
            ReadFile(testing::IniFile(dir_.path())));

  env_.PlugJoystick(0, 0);
  LetTheScannerLook();
  env_.PlugJoystick(0, Button(7));  // now radio 3's
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return ReadFile(LogFile()).find("Radio #3 is selected. HCS active : __X") != std::string::npos; },
      10000));

  plugin_.OnMenuItemEvent(1, PLUGIN_MENU_TYPE_GLOBAL, 5, 0);  // radio 1, and no button is pressed
  ASSERT_TRUE(testing::WaitUntil([&] { return host_.ChatLines().size() == 4; }, 20000));
  EXPECT_EQ("Halcyra: Radio 1: no joystick button was pressed within 10 s; its binding stays as it was",
            host_.ChatLines()[3]);
}

}  // namespace
}  // namespace halcyra
