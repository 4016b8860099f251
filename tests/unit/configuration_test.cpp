#include "foundation/configuration.h"

#include <gtest/gtest.h>

#include <thread>

#include "fake_env.h"
#include "foundation/host_api_version.h"
#include "foundation/ini_keys.h"
#include "host_folders.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using platform::RegistryResult;
using platform::RegistryRoot;
using testing::FakeEnv;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class RecordingSelectors : public RadioSelectorSink {
 public:
  void SetRadioSelector(int radioIndex, int device, int button) override {
    calls.push_back({radioIndex, device, button});
  }
  void ShowRadioSelectors() override { ++shows; }
  void SetPushToTalk(bool value) override { pushToTalk.push_back(value); }
  std::vector<bool> pushToTalk;
  struct Call {
    int radio, device, button;
  };
  std::vector<Call> calls;
  int shows = 0;
};

class RecordingTiles : public TileFolderSink {
 public:
  void SetTileFolder(const std::string& folder) override { folders.push_back(folder); }
  std::vector<std::string> folders;
};

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() : log_(env_), config_(env_, log_, settings_, simulator_) {
    env_.savedGames = dir_.path().wstring();
    env_.moduleFolder = (dir_.path() / "plugins").wstring();
    config_.SetRadioSelectorSink(&selectors_);
    config_.SetTileFolderSink(&tiles_);
  }
  void WriteIni(const std::string& content) { WriteFile(dir_.path() / "Halcyra" / "Halcyra.ini", content); }
  void MakeLogFolder() { std::filesystem::create_directories(dir_.path() / "Halcyra"); }
  std::string LogText() {
    log_.Flush();
    return ReadFile(dir_.path() / "Halcyra" / "Halcyra.log");
  }
  // The boxes about the station server's address (a missing tile folder shows another).
  std::vector<FakeEnv::Box> ServerBoxes() {
    std::vector<FakeEnv::Box> boxes = env_.Boxes();
    boxes.erase(
        std::remove_if(boxes.begin(), boxes.end(),
                       [](const FakeEnv::Box& box) { return box.icon != platform::MessageIcon::kError; }),
        boxes.end());
    return boxes;
  }
  size_t Count(const std::string& text) {
    std::string log = LogText();
    size_t count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
    return count;
  }

  TempDir dir_;
  FakeEnv env_;
  Clog log_;
  Settings settings_;
  SimulatorStatus simulator_;
  Configuration config_;
  RecordingSelectors selectors_;
  RecordingTiles tiles_;
};

TEST_F(ConfigTest, WithoutSavedGamesFolderTheStartFailsSilently) {
  env_.savedGames = L"";
  EXPECT_EQ(0, config_.ReadIniFile());
  EXPECT_FALSE(log_.IsSetUp());
  EXPECT_TRUE(env_.Boxes().empty());
}

TEST_F(ConfigTest, FirstStartWritesEverySettingAndGivesEveryDefault) {
  simulator_.alive = 0;
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ(0, settings_.logLevel);
  EXPECT_EQ(0, settings_.ear1);
  EXPECT_EQ(0, settings_.ear2);
  EXPECT_EQ(0, settings_.ear3);
  EXPECT_EQ("127.0.0.1", settings_.Server().address);  // HOST=teamspeak, and no connection yet
  EXPECT_EQ(10600, settings_.Server().port);
  EXPECT_EQ(1, settings_.attenuation);
  EXPECT_EQ(1, simulator_.alive);
  // Without the installer's folder the tiles live beside the plug-in, in a folder made for them.
  std::filesystem::path tiles = dir_.path() / "plugins" / "halcyra" / "HGT";
  EXPECT_EQ(tiles.string(), settings_.hgtPath);
  EXPECT_TRUE(std::filesystem::is_directory(tiles));
  ASSERT_EQ(1u, tiles_.folders.size());
  EXPECT_EQ(settings_.hgtPath, tiles_.folders[0]);
  ASSERT_EQ(3u, selectors_.calls.size());
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(r, selectors_.calls[r].radio);
    EXPECT_EQ(-1, selectors_.calls[r].device);
    EXPECT_EQ(-1, selectors_.calls[r].button);
  }
  EXPECT_EQ(1, selectors_.shows);
  EXPECT_TRUE(env_.Boxes().empty());

  // The file holds every key, is read back without a complaint, and is never written over.
  std::filesystem::path ini = dir_.path() / "Halcyra" / "Halcyra.ini";
  std::string written = ReadFile(ini);
  EXPECT_EQ(DefaultIniText(), written);
  for (const IniKey& key : IniKeys()) {
    EXPECT_NE(std::string::npos, written.find("\n" + platform::WideToUtf8(key.key) + "=")) << key.comment;
  }
  EXPECT_NE(std::string::npos, written.find("\nHOST=teamspeak\r\n"));
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("Wrote the default settings to " + ini.string())) << log;
  EXPECT_NE(std::string::npos, log.find("[HCS] HOST=teamspeak: not connected to a TeamSpeak server yet"));
  EXPECT_EQ(std::string::npos, log.find(" is not ")) << log;
  EXPECT_EQ(std::string::npos, log.find("unknown")) << log;

  WriteIni("[LOG]\nLOGLEVEL=2\n");
  Clog secondLog(env_);
  Settings secondSettings;
  Configuration second(env_, secondLog, secondSettings, simulator_);
  ASSERT_EQ(1, second.ReadIniFile());
  EXPECT_EQ("[LOG]\nLOGLEVEL=2\n", ReadFile(ini));
  EXPECT_EQ(2, secondSettings.logLevel);
}

TEST_F(ConfigTest, LogLinesOfAStartAtLevelThree) {
  WriteIni("[LOG]\nLOGLEVEL=3\n[HGT]\nPath=/data/hgt\n[EAR]\nRADIO1=-1\nRADIO2=1\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  std::string log = LogText();
  size_t setUp = log.find("Initialize Log file with 3 level.");
  size_t readHgt = log.find("[L03] (0");
  ASSERT_NE(std::string::npos, log.find(") ReadIniFile : Read HGT parameters", readHgt));
  size_t path = log.find(") ReadIniFile : HGT Files path : /data/hgt");
  size_t server = log.find(") UpdatePluginInfo : Halcyra Server : (127.0.0.1) 127.0.0.1:10600");
  size_t last = log.find(") ReadIniFile : Halcyra Server : 127.0.0.1:10600");
  EXPECT_LT(setUp, readHgt);
  EXPECT_LT(readHgt, path);
  EXPECT_LT(path, server);
  EXPECT_LT(server, last);
  EXPECT_NE(std::string::npos, last) << log;
  // Level 5 lines stay out at LOGLEVEL 3.
  EXPECT_EQ(std::string::npos, log.find("Listening ears"));
  EXPECT_EQ(std::string::npos, log.find("Attenuation is"));
}

TEST_F(ConfigTest, LevelFiveShowsEarsAndAttenuation) {
  WriteIni("[LOG]\nLOGLEVEL=5\n[HGT]\nPath=x\n[EAR]\nRADIO1=-1\nRADIO2=1\nRADIO3=0\n[SYSTEM]\nATTN=0\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("UpdatePluginInfo : Listening ears : #1=-1 / #2=1 / #3=0"));
  EXPECT_NE(std::string::npos, log.find("UpdatePluginInfo : Attenuation is OFF"));
}

TEST_F(ConfigTest, WrongValuesAndUnknownKeysGetOneLineEachAndTheirDefault) {
  WriteIni(
      "[LOG]\nLOGLEVEL=9\n[HGT]\nPath=x\n[HCS]\nHOTS=10.0.0.5\nUDP=70000\n[EAR]\nRADIO1=left\nRADIO2= 1 ; "
      "right\n"
      "RADIO3=7 apples\n[SYSTEM]\nATTN=yes\n[SELECTOR]\nRADIO1=0 33\nRADIO2=3 14\n[HSC]\nHOST=10.0.0.6\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ(0, settings_.logLevel);
  EXPECT_EQ(10600, settings_.Server().port);
  EXPECT_EQ("127.0.0.1", settings_.Server().address);
  EXPECT_EQ(0, settings_.ear1);
  EXPECT_EQ(1, settings_.ear2) << "a comment behind a value is no part of it";
  EXPECT_EQ(0, settings_.ear3);
  EXPECT_EQ(1, settings_.attenuation);
  ASSERT_EQ(3u, selectors_.calls.size());
  EXPECT_EQ(-1, selectors_.calls[0].device);
  EXPECT_EQ(3, selectors_.calls[1].device);
  EXPECT_EQ(14, selectors_.calls[1].button);

  const char* const lines[] = {
      "ReadIniFile : [LOG] LOGLEVEL=9 is not a level from 0 to 6: using 0",
      "ReadIniFile : [HCS] UDP=70000 is not a port from 1 to 65535: using 10600",
      "ReadIniFile : [EAR] RADIO1=left is not -1 (left), 0 (both) or 1 (right): using 0",
      "ReadIniFile : [EAR] RADIO3=7 apples is not -1 (left), 0 (both) or 1 (right): using 0",
      "ReadIniFile : [SYSTEM] ATTN=yes is not 0 (off) or 1 (on): using 1",
      "[SELECTOR] RADIO1=0 33 is not a joystick id (0 to 31) and a button (1 to 32): using -1 -1",
      "ReadIniFile : Halcyra.ini: unknown key HOTS in [HCS] is ignored (its keys: HOST, UDP)",
      "ReadIniFile : Halcyra.ini: unknown section [HSC] is ignored with its keys",
  };
  for (const char* line : lines) EXPECT_EQ(1u, Count(line)) << line << "\n" << LogText();

  // Reloads of the same file say nothing again; a new mistake is told at once.
  config_.UpdatePluginInfo();
  config_.UpdatePluginInfo();
  for (const char* line : lines) EXPECT_EQ(1u, Count(line)) << line;
  WriteIni("[HGT]\nPath=x\n[HCS]\nUDP=0x2968\n");
  config_.UpdatePluginInfo();
  EXPECT_EQ(1u, Count("[HCS] UDP=0x2968 is not a port from 1 to 65535: using 10600"));
  EXPECT_EQ(1, settings_.attenuation);
}

TEST_F(ConfigTest, NumbersAreWholeDecimalsAndCommentsEndValues) {
  EXPECT_EQ(-12, ParseWholeNumber(L"  -12 "));
  EXPECT_EQ(5, ParseWholeNumber(L"+5"));
  EXPECT_EQ(std::nullopt, ParseWholeNumber(L""));
  EXPECT_EQ(std::nullopt, ParseWholeNumber(L"-"));
  EXPECT_EQ(std::nullopt, ParseWholeNumber(L"12xyz"));
  EXPECT_EQ(std::nullopt, ParseWholeNumber(L"99999999999999999999"));
  EXPECT_EQ(-2147483647 - 1, ParseWholeNumber(L"-2147483648"));
  EXPECT_EQ(L"127.0.0.1", WithoutInlineComment(L"127.0.0.1      ; station server"));
  EXPECT_EQ(L"", WithoutInlineComment(L"; nothing"));
  EXPECT_EQ(L"C:\\tiles;2", WithoutInlineComment(L"C:\\tiles;2"));
}

TEST_F(ConfigTest, TeamSpeakHostIsTheStationServerOfEachConnection) {
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=TeamSpeak\nUDP=10700\n");
  std::optional<std::string> connected;
  config_.SetTeamSpeakHostSource([&connected] { return connected; });
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ("127.0.0.1", settings_.Server().address);

  // A new connection's address is used at once; a name is looked up by the reload it asks for.
  config_.NoteTeamSpeakServer("10.20.30.40");
  EXPECT_EQ("10.20.30.40", settings_.Server().address);
  EXPECT_EQ(10700, settings_.Server().port);
  EXPECT_TRUE(config_.TakeReloadRequest());
  EXPECT_FALSE(config_.TakeReloadRequest());
  env_.names["ts.squadron.example"] = 0xC0A80A14;
  config_.NoteTeamSpeakServer("ts.squadron.example");
  EXPECT_EQ("10.20.30.40", settings_.Server().address);
  EXPECT_TRUE(config_.TakeReloadRequest());
  config_.UpdatePluginInfo();
  EXPECT_EQ("192.168.10.20", settings_.Server().address);
  // Each reload asks the host again.
  connected = "10.0.0.9";
  config_.UpdatePluginInfo();
  EXPECT_EQ("10.0.0.9", settings_.Server().address);
  EXPECT_NE(std::string::npos,
            LogText().find("[HCS] HOST=teamspeak: the station server is on ts.squadron.example"));

  // Another HOST is not touched by connections.
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.5\n");
  config_.UpdatePluginInfo();
  config_.NoteTeamSpeakServer("10.20.30.40");
  EXPECT_EQ("10.0.0.5", settings_.Server().address);
}

TEST_F(ConfigTest, NumericHostIsUsedWithoutLookUpAndNamedHostIsResolved) {
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.5\nUDP=10700\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ("10.0.0.5", settings_.Server().address);
  EXPECT_EQ(10700, settings_.Server().port);
  EXPECT_EQ(0, env_.lookups);

  env_.names["hcs.squadron.example"] = 0xC0A80A14;  // 192.168.10.20
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=hcs.squadron.example\n");
  config_.UpdatePluginInfo();
  EXPECT_EQ("192.168.10.20", settings_.Server().address);
  EXPECT_EQ(10600, settings_.Server().port);
  EXPECT_EQ(1, env_.lookups);
}

TEST_F(ConfigTest, HostThatStartsWithADigitButIsNoAddressIsResolvedByName) {
  env_.names["1st-wing.example"] = 0x0A000001;
  EXPECT_EQ("10.0.0.1", config_.GetRemoteIP("1st-wing.example"));
}

TEST_F(ConfigTest, UnresolvableHostFallsBackToLoopbackWithLogLineAndOneErrorBox) {
  MakeLogFolder();
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=nowhere.invalid\n");
  env_.names["nowhere.invalid"] = std::nullopt;
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ("127.0.0.1", settings_.Server().address);
  auto boxes = ServerBoxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(L"Halcyra TS plugin : IP Address Error", boxes[0].caption);
  EXPECT_EQ(L"Can not resolve HC server address.\nCheck [HCS] HOST in " +
                (dir_.path() / "Halcyra" / "Halcyra.ini").wstring() + L", please.",
            boxes[0].text);
  EXPECT_EQ(platform::MessageIcon::kError, boxes[0].icon);

  // Reloads keep logging, but the box comes back only for a different failing name, or for the
  // same one after a working address or name in between.
  config_.UpdatePluginInfo();
  config_.UpdatePluginInfo();
  EXPECT_EQ(1u, ServerBoxes().size());
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=elsewhere.invalid\n");
  env_.names["elsewhere.invalid"] = std::nullopt;
  config_.UpdatePluginInfo();
  EXPECT_EQ(2u, ServerBoxes().size());
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.5\n");
  config_.UpdatePluginInfo();
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=elsewhere.invalid\n");
  config_.UpdatePluginInfo();
  EXPECT_EQ(3u, ServerBoxes().size()) << "bad name, 10.0.0.5, the same bad name";
  env_.names["hcs.squadron.example"] = 0xC0A80A14;
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=hcs.squadron.example\n");
  config_.UpdatePluginInfo();
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=elsewhere.invalid\n");
  config_.UpdatePluginInfo();
  EXPECT_EQ(4u, ServerBoxes().size()) << "bad name, a name that resolves, the same bad name";
  EXPECT_NE(std::string::npos,
            LogText().find("GetRemoteIP : Can not resolve server address : nowhere.invalid !"));
}

TEST_F(ConfigTest, RegistryFallbackTriesMachineThenUserThenThePluginsFolder) {
  MakeLogFolder();
  env_.install[RegistryRoot::kLocalMachine] = {RegistryResult::kValueMissing, L""};
  env_.install[RegistryRoot::kCurrentUser] = {RegistryResult::kValueMissing, L""};
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ((dir_.path() / "plugins" / "halcyra" / "HGT").string(), settings_.hgtPath);
  std::string log = LogText();
  size_t machine = log.find("ReadIniFile : ! Can not read HGT path in Registry HKLM");
  size_t user = log.find("ReadIniFile : ! Can not read HGT path in Registry HKCU");
  EXPECT_NE(std::string::npos, machine);
  EXPECT_LT(machine, user);
  EXPECT_NE(std::string::npos, user);
  EXPECT_TRUE(env_.Boxes().empty());

  // A plug-in that cannot tell its own folder has no tiles: never those of the root folder.
  TempDir other;
  env_.savedGames = other.path().wstring();
  env_.moduleFolder = L"";
  Clog secondLog(env_);
  Settings secondSettings;
  Configuration second(env_, secondLog, secondSettings, simulator_);
  ASSERT_EQ(1, second.ReadIniFile());
  EXPECT_EQ("", secondSettings.hgtPath);
  EXPECT_TRUE(env_.Boxes().empty());
}

TEST_F(ConfigTest, UserRegistryIsUsedWhenTheMachineKeyIsMissing) {
  MakeLogFolder();
  std::filesystem::create_directories(dir_.path() / "Games" / "HGT");
  env_.install[RegistryRoot::kCurrentUser] = {RegistryResult::kOk, (dir_.path() / "Games").wstring()};
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ((dir_.path() / "Games" / "HGT").string(), settings_.hgtPath);
  EXPECT_EQ(std::string::npos, LogText().find("Registry HKLM"));
  EXPECT_TRUE(env_.Boxes().empty());
}

TEST_F(ConfigTest, ConfiguredTileFolderSkipsTheRegistryAndWarnsWhenMissingOnDisk) {
  WriteIni("[HGT]\nPath=/no/such/folder\n");
  env_.install[RegistryRoot::kLocalMachine] = {RegistryResult::kValueMissing, L""};
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ("/no/such/folder", settings_.hgtPath);
  std::string log = LogText();
  EXPECT_EQ(std::string::npos, log.find("Registry HKLM"));
  EXPECT_NE(std::string::npos,
            log.find("The elevation tile folder /no/such/folder ([HGT] Path) does not exist"));
  auto boxes = env_.Boxes();
  ASSERT_EQ(1u, boxes.size());
  // The caption names the library file as the build names it.
  std::filesystem::path library = testing::PluginLibraryPath();
  EXPECT_EQ(L"TeamSpeak3 : " + library.filename().wstring(), boxes[0].caption);
  EXPECT_EQ(L"No path for relief database is found. Mask of relief will not work !", boxes[0].text);
  EXPECT_EQ(platform::MessageIcon::kWarning, boxes[0].icon);
}

TEST_F(ConfigTest, TileFolderOf260CharactersOrMoreLeavesItEmpty) {
  std::string folder259(259, 'a');
  WriteIni("[HGT]\nPath=" + folder259 + "\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ(folder259, settings_.hgtPath);

  std::string folder260(260, 'a');
  WriteIni("[HGT]\nPath=" + folder260 + "\n");
  Clog secondLog(env_);
  Settings secondSettings;
  Configuration second(env_, secondLog, secondSettings, simulator_);
  RecordingTiles tiles;
  second.SetTileFolderSink(&tiles);
  ASSERT_EQ(1, second.ReadIniFile());
  EXPECT_EQ("", secondSettings.hgtPath);
  ASSERT_EQ(1u, tiles.folders.size());
  EXPECT_EQ("", tiles.folders[0]);
}

TEST_F(ConfigTest, SelectorBindingsAreScannedAndMalformedOnesAreUnbound) {
  WriteIni("[HGT]\nPath=x\n[SELECTOR]\nRADIO1=0 5\nRADIO2=3\nRADIO3=two four\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  ASSERT_EQ(3u, selectors_.calls.size());
  EXPECT_EQ(0, selectors_.calls[0].device);
  EXPECT_EQ(5, selectors_.calls[0].button);
  EXPECT_EQ(-1, selectors_.calls[1].device);
  EXPECT_EQ(-1, selectors_.calls[1].button);
  EXPECT_EQ(-1, selectors_.calls[2].device);
}

// What the pilot changes from the client goes into his file in place and is used at once; the next
// reload reads the same. A file that cannot be written keeps the setting as it was.
TEST_F(ConfigTest, StoredSettingsAreWrittenInPlaceUsedAtOnceAndKeptByTheReload) {
  WriteIni("[HGT]\nPath=x\n[SYSTEM]\nATTN=1   ; radio model\n[SELECTOR]\nRADIO2=-1 -1\nPTT=1\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  EXPECT_EQ(std::vector<bool>{true}, selectors_.pushToTalk);
  std::string problem;
  ASSERT_TRUE(config_.StoreAttenuation(0, &problem)) << problem;
  EXPECT_EQ(0, settings_.attenuation);
  selectors_.calls.clear();
  ASSERT_TRUE(config_.StoreRadioSelector(1, 3, 14, &problem)) << problem;
  ASSERT_EQ(1u, selectors_.calls.size());
  EXPECT_EQ(3, selectors_.calls[0].device);
  EXPECT_EQ(14, selectors_.calls[0].button);
  std::filesystem::path ini = dir_.path() / "Halcyra" / "Halcyra.ini";
  EXPECT_EQ("[HGT]\nPath=x\n[SYSTEM]\nATTN=0   ; radio model\n[SELECTOR]\nRADIO2=3 14\nPTT=1\n",
            ReadFile(ini));

  selectors_.calls.clear();
  config_.UpdatePluginInfo();
  EXPECT_EQ(0, settings_.attenuation);
  ASSERT_EQ(3u, selectors_.calls.size());
  EXPECT_EQ(14, selectors_.calls[1].button);
  EXPECT_NE(std::string::npos,
            LogText().find("UpdatePluginInfo : [SYSTEM] ATTN=0 written to " + ini.string()));

  std::filesystem::permissions(ini, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);
  EXPECT_FALSE(config_.StoreAttenuation(1, &problem));
  std::filesystem::permissions(ini, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_EQ(0, settings_.attenuation);
  EXPECT_NE(std::string::npos,
            problem.find("cannot write [SYSTEM] ATTN=1 to " + ini.string() + " (read-only)"))
      << problem;
}

TEST_F(ConfigTest, ReloadPicksUpEarChangesButNotTheLogLevel) {
  WriteIni("[LOG]\nLOGLEVEL=2\n[HGT]\nPath=x\n[EAR]\nRADIO2=0\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  WriteIni("[LOG]\nLOGLEVEL=6\n[HGT]\nPath=y\n[EAR]\nRADIO2=-1\n");
  config_.UpdatePluginInfo();
  EXPECT_EQ(-1, settings_.ear2);
  EXPECT_EQ(2, settings_.logLevel);
  EXPECT_EQ(2, log_.Level());
  EXPECT_EQ("x", settings_.hgtPath);
}

TEST_F(ConfigTest, ReadersAlwaysSeeAConsistentServerAddressAndPort) {
  WriteIni("[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.1\nUDP=1001\n");
  ASSERT_EQ(1, config_.ReadIniFile());
  std::atomic<bool> stop{false};
  std::atomic<int> mismatches{0};
  std::thread reader([&] {
    while (!stop) {
      ServerEndpoint server = settings_.Server();
      bool first = server.address == "10.0.0.1" && server.port == 1001;
      bool second = server.address == "10.0.0.2" && server.port == 1002;
      if (!first && !second) ++mismatches;
    }
  });
  for (int i = 0; i < 50; ++i) {
    WriteIni(i % 2 ? "[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.1\nUDP=1001\n"
                   : "[HGT]\nPath=x\n[HCS]\nHOST=10.0.0.2\nUDP=1002\n");
    config_.UpdatePluginInfo();
  }
  stop = true;
  reader.join();
  EXPECT_EQ(0, mismatches);
}

// The host API answered to a client, from its version and HALCYRA_TS3_API: the edges of each
// version line, versions of other lines, and override values that are no whole number from 1 to 99.
TEST(HostApiVersionTest, EachClientGetsTheApiOfItsVersionLineUnlessOverridden) {
  using platform::ProgramVersion;
  const std::pair<ProgramVersion, int> clients[] = {
      {{3, 0, 14}, 20}, {{3, 0, 19}, 20}, {{3, 1, 0}, 21}, {{3, 1, 1}, 22}, {{3, 2, 9}, 22}, {{3, 3, 0}, 23},
      {{3, 5, 6}, 23},  {{3, 6, 0}, 26},  {{3, 9, 1}, 26}, {{2, 0, 0}, 26}, {{4, 0, 0}, 26}, {{0, 0, 0}, 26}};
  for (const auto& [client, api] : clients) {
    EXPECT_EQ(api, HostApiForClient(client)) << client.major << "." << client.minor << "." << client.patch;
  }
  EXPECT_EQ(26, HostApiForClient(std::nullopt));

  const ProgramVersion client{3, 5, 6};
  EXPECT_EQ(24, ChooseHostApi(client, "24", 0).api);
  EXPECT_EQ(7, ChooseHostApi(client, " 07\t", 0).api);
  EXPECT_EQ(99, ChooseHostApi(client, "99", 0).api);
  for (const char* ignored : {"0", "100", "-24", "+24", "24.0", "2 4", "abc", "99999999999999999999"}) {
    HostApiChoice choice = ChooseHostApi(client, ignored, 0);
    EXPECT_EQ(23, choice.api) << ignored;
    EXPECT_EQ(HostApiSource::kClientVersion, choice.source) << ignored;
  }
  EXPECT_EQ(20, ChooseHostApi(client, "24", 20).api);  // a fixed build answers its number
}

TEST(HostApiVersionTest, StartLineNamesTheClientTheAnswerAndWhereItCameFrom) {
  const platform::ProgramVersion client{3, 5, 6};
  EXPECT_EQ("TeamSpeak client 3.5.6: plug-in API 23",
            DescribeHostApi(ChooseHostApi(client, std::nullopt, 0)));
  EXPECT_EQ("TeamSpeak client version unknown: plug-in API 26",
            DescribeHostApi(ChooseHostApi(std::nullopt, std::nullopt, 0)));
  EXPECT_EQ("TeamSpeak client 3.5.6: plug-in API 24 (HALCYRA_TS3_API)",
            DescribeHostApi(ChooseHostApi(client, "24", 0)));
  EXPECT_EQ("TeamSpeak client 3.5.6: plug-in API 20 (fixed by the build)",
            DescribeHostApi(ChooseHostApi(client, std::nullopt, 20)));
  EXPECT_EQ("TeamSpeak client version unknown: plug-in API 20 (fixed by the build; HALCYRA_TS3_API ignored)",
            DescribeHostApi(ChooseHostApi(std::nullopt, "24", 20)));
  EXPECT_EQ(
      "TeamSpeak client 3.5.6: plug-in API 23 (HALCYRA_TS3_API=\"2?4\" ignored: not a whole number from 1 "
      "to 99)",
      DescribeHostApi(ChooseHostApi(client, "2\n4", 0)));
  EXPECT_EQ("TeamSpeak client version unknown: plug-in API 26 (HALCYRA_TS3_API=\"" + std::string(24, '9') +
                "...\" ignored: not a whole number from 1 to 99)",
            DescribeHostApi(ChooseHostApi(std::nullopt, std::string(200, '9'), 0)));
}

}  // namespace
}  // namespace halcyra
