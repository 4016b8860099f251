// The loaded plug-in against everything that can go wrong around it: a station server that is
// silent or answers garbage, truncated or oversize replies; a flood of simulator datagrams, many
// of them malformed; tile files that are short, empty, oversized or unreadable; Saved Games and
// log folders that are missing, unwritable or vanish; a station server name that cannot be
// resolved. Each case checks that the plug-in goes on working and keeps what it had.
//
// "Heard" below means: a talk event places the talker on the ear of the receiving radio.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fake_host.h"
#include "hgt_tile.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "radio_scene.h"
#include "scripted_station_server.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRecordWaitMs = 8000;  // a few refresh ticks (2 s each)
constexpr float kLeftEarX = -1.001f;      // radio 1 on the left ear (ear1 = -1), distance 1

bool Near(float a, float b) { return a > b - 0.0005f && a < b + 0.0005f; }

class PluginFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << server_.error();
    ASSERT_TRUE(plugin_.ok()) << plugin_.error();
    host_.SetOwnClient(kOwnClient, kOwnNickname);
    for (const Talker& talker : Talkers()) host_.SetNickname(talker.clientID, talker.nickname);
    host_.SetChannel({kOwnClient, Viper().clientID, Cobra().clientID});
    server_.SetRecord("Viper", TalkerRecord("Viper", 42.35, 41.4, 6000));
    server_.SetRecord("Cobra", TalkerRecord("Cobra", 42.4, 41.3, 7000));
    ini_.tileFolder = (dir_ / "HGT").string();
  }
  void TearDown() override {
    if (started_) plugin_.shutdown();
    if (!readOnly_.empty()) std::filesystem::permissions(readOnly_, std::filesystem::perms::owner_all);
    EXPECT_EQ(0, host_.OutstandingAllocations());
  }

  static const Talker& Viper() { return Talkers()[0]; }
  static const Talker& Cobra() { return Talkers()[1]; }

  void WriteIni() { WriteFile(IniFile(dir_.path()), IniText(ini_)); }

  // Starts the plug-in on the Saved Games folder `savedGames` (default: the test's folder).
  void Start(const std::filesystem::path& savedGames = {}) {
    savedGames_.emplace((savedGames.empty() ? dir_.path() : savedGames).string());
    plugin_.setFunctionPointers(host_.Table());
    ASSERT_EQ(0, plugin_.init());
    started_ = true;
  }

  // We join the channel (which names our station "Me") and the simulator tunes our radios and
  // puts us at a position; waits until the station server has our station.
  void JoinAndFly(double latitude = 42.2, double longitude = 41.2, int altitudeFeet = 10000, int radioClass = 0,
                  const std::string& expectedAltitude = "") {
    plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
    plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
    char position[48];
    std::snprintf(position, sizeof position, "%.6f %.6f %s", latitude, longitude,
                  expectedAltitude.empty() ? std::to_string(altitudeFeet).c_str() : expectedAltitude.c_str());
    std::string expected = std::string("Me@") + position + " 251.000 124.000 030.000 X__ 251.000 12 " +
                           std::to_string(radioClass) + " ";
    ASSERT_TRUE(SendUntilPublished({TuneRadios(), Position(latitude, longitude, altitudeFeet, radioClass),
                                    "SET_ACTIV X__"},
                                   expected))
        << "last publish: " << server_.LastPublish(kOwnNickname).value_or("(none)");
  }

  // Sends the datagrams again and again until the station server received `expected` from us in a
  // publish made after this call (the plug-in may not listen yet when the first ones arrive).
  bool SendUntilPublished(const std::vector<std::string>& datagrams, const std::string& expected) {
    int before = server_.PublishCount();
    return ScriptedStationServer::WaitFor(
        [&] {
          for (const std::string& datagram : datagrams) simulator_.Send(datagram);
          return server_.PublishCount() > before && server_.LastPublish(kOwnNickname) == expected;
        },
        5000);
  }

  // One talk event of talker; where the host was told to put him, if anywhere.
  std::optional<TS3_VECTOR> Talk(const Talker& talker) {
    host_.ClearPlacements();
    plugin_.onTalkStatusChangeEvent(kConnection, 1, 0, talker.clientID);
    std::optional<TS3_VECTOR> placed;
    for (const FakeHost::Placement& placement : host_.Placements()) {
      if (placement.clientID == talker.clientID) placed = placement.position;
    }
    return placed;
  }
  bool HeardOnTheLeftEar(const Talker& talker) {
    std::optional<TS3_VECTOR> placed = Talk(talker);
    return placed && Near(placed->x, kLeftEarX) && Near(placed->y, 0.1f);
  }
  bool PlacedFarAway(const Talker& talker) {
    std::optional<TS3_VECTOR> placed = Talk(talker);
    return placed && Near(placed->x, 0.0f) && Near(placed->y, 100.0f);
  }
  // Waits until the refresh cycle has fetched the talker, so that a talk event places him.
  bool BecomesHeard(const Talker& talker) {
    return ScriptedStationServer::WaitFor([&] { return HeardOnTheLeftEar(talker); }, kRecordWaitMs);
  }

  // The log, once the writer has had time to write what is queued.
  std::string LogText() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ReadFile(LogFile(dir_.path()));
  }

  ScriptedStationServer server_;
  FakeHost host_;
  LoadedPlugin plugin_;
  TempDir dir_;
  IniSettings ini_;
  SimulatorSender simulator_;
  std::optional<ScopedSavedGames> savedGames_;
  bool started_ = false;
  std::filesystem::path readOnly_;  // made writable again at the end
};

// --- the station server ---

TEST_F(PluginFaultTest, ServerSilenceGarbageTruncatedAndOversizeRepliesLoseNoStation) {
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));
  ASSERT_TRUE(BecomesHeard(Cobra()));

  server_.SetAnswer(ServerAnswer::kSilent);
  Clock::time_point start = Clock::now();
  EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after silence";
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));  // the query gives up at 450 ms

  server_.SetAnswer(ServerAnswer::kGarbage);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after garbage " << i;

  server_.SetAnswer(ServerAnswer::kOversize);
  EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after an oversize reply";

  // A truncated reply carries a new position and nothing else: the radios stay as they were.
  server_.SetRecord("Viper", TalkerRecord("Viper", 42.3, 41.35, 6000));
  server_.SetAnswer(ServerAnswer::kTruncated);
  EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after a truncated reply";

  server_.SetAnswer(ServerAnswer::kLate);  // arrives after the query gave up, maybe at the next one
  EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after a late reply";
  std::this_thread::sleep_for(std::chrono::milliseconds(700));

  // Cobra, never asked for by a talk event during all that, is still heard.
  server_.SetAnswer(ServerAnswer::kRecord);
  EXPECT_TRUE(HeardOnTheLeftEar(Cobra()));
  // And a proper reply still takes effect: Viper changes to a frequency we do not listen to.
  server_.SetRecord("Viper", TalkerRecord("Viper", 42.3, 41.35, 6000, "124.500"));
  EXPECT_TRUE(PlacedFarAway(Viper()));
  EXPECT_NE(std::string::npos, LogText().find("Thread_UDPRequest :  ! Recvfrom failed with error"));
}

// --- the simulator ---

std::vector<std::string> MalformedDatagrams() {
  return {"",
          "S",
          "SET_RADIO",
          "SET_RADIO ",
          "set_radio 251.000 124.000 030.000 251.000 12",
          "SET_LLALT " + std::string(110, '4'),  // 120 bytes: one too many
          "SET_RADIO " + std::string(565, '9'),  // fills the receive buffer
          "SET_ACTIV " + std::string(1990, 'X'),  // longer than the receive buffer
          std::string("SET_VOLUM\0\0\0\0\0\0\0\0", 17),
          "SET_VOLUM lots of noise",
          "SET_LLALT nan inf -1e400 2",
          "SET_ACTIVE_RADIO 2",
          "\xff\xfe\x00\x01 binary junk \x80\x81\x82"};
}

TEST_F(PluginFaultTest, SimulatorFloodOfAHundredThousandDatagramsLosesNothing) {
  ini_.logLevel = 6;  // every datagram received is logged, so the log tells how many arrived
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));

  std::vector<std::string> datagrams = MalformedDatagrams();
  datagrams.push_back(TuneRadios());
  datagrams.push_back(Position(42.25, 41.25, 9000));
  datagrams.push_back("SET_ACTIV _X_");
  datagrams.push_back("SET_VOLUM 100 80 120");
  Clock::time_point start = Clock::now();
  for (int i = 0; i < 100000; ++i) simulator_.Send(datagrams[static_cast<size_t>(i) % datagrams.size()]);
  double floodMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::printf("[ fault    ] 100000 datagrams sent in %.0f ms\n", floodMs);

  // The plug-in still reads the simulator: the final state is published exactly.
  ASSERT_TRUE(SendUntilPublished({TuneRadios(), Position(42.2, 41.2, 10000), "SET_ACTIV X__"},
                                 "Me@42.200000 41.200000 10000 251.000 124.000 030.000 X__ 251.000 12 0 "))
      << server_.LastPublish(kOwnNickname).value_or("(none)");
  EXPECT_TRUE(HeardOnTheLeftEar(Viper()));
  std::string log = LogText();
  size_t received = 0;
  for (size_t at = log.find("Thread_DCS_External : Received : >"); at != std::string::npos;
       at = log.find("Thread_DCS_External : Received : >", at + 1)) {
    ++received;
  }
  std::printf("[ fault    ] %zu datagrams received and logged by the plug-in\n", received);
  EXPECT_GT(received, 1000u);
}

// --- elevation tiles ---

TEST_F(PluginFaultTest, ShortEmptyOversizedAndUnreadableTilesAreSurvived) {
  std::filesystem::path hgt = dir_ / "HGT";
  std::string tile = HgtTile(100).Bytes();
  WriteFile(hgt / "N42E041.HGT", tile.substr(0, tile.size() / 2));  // short
  WriteFile(hgt / "N43E041.HGT", "");                               // empty
  WriteFile(hgt / "N42E042.HGT", tile + tile);                      // oversized
  std::filesystem::create_directories(hgt / "N43E042.HGT");         // unreadable: a folder
  HgtTile wall(100);  // a good one, flat at 100 m but for a wall of 8000 m along 41.5 E
  for (int row = 0; row < HgtTile::kSize; ++row) wall.Set(row, 600, 8000);
  wall.WriteTo(hgt / "N44E041.HGT");
  WriteIni();
  Start();

  struct Square {
    double latitude;
    double longitude;
  };
  for (Square square : {Square{42, 41}, Square{43, 41}, Square{42, 42}, Square{43, 42}}) {
    SCOPED_TRACE(::testing::Message() << "square " << square.latitude << " " << square.longitude);
    // A ground station there stands at the altitude the simulator sent: no terrain.
    JoinAndFly(square.latitude + 0.2, square.longitude + 0.2, 100, 1, "100.000000");
    // A talker across the square is heard: nothing hides him.
    server_.SetRecord("Viper", TalkerRecord("Viper", square.latitude + 0.5, square.longitude + 0.8, 3000));
    EXPECT_TRUE(BecomesHeard(Viper()));
  }

  // The good tile still loads: the ground station stands on it (328 ft + 5 ft), a talker on this
  // side of the wall is heard and one behind it is hidden.
  JoinAndFly(44.2, 41.2, 100, 1, "333.000000");
  server_.SetRecord("Viper", TalkerRecord("Viper", 44.2, 41.45, 20000));
  EXPECT_TRUE(BecomesHeard(Viper()));
  server_.SetRecord("Viper", TalkerRecord("Viper", 44.2, 41.8, 20000));
  EXPECT_TRUE(ScriptedStationServer::WaitFor([&] { return PlacedFarAway(Viper()); }, kRecordWaitMs));
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("HGT file is shorter than 1201 x 1201 samples"));
  EXPECT_NE(std::string::npos, log.find("HGT file is longer than 1201 x 1201 samples"));
}

// --- folders ---

TEST_F(PluginFaultTest, MissingHalcyraFolderStartsWithDefaultsAndWithoutLog) {
  Start();  // Saved Games exists, Halcyra\ does not: no INI file, no log file
  plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  ASSERT_TRUE(SendUntilPublished({TuneRadios(), Position(42.2, 41.2, 10000), "SET_ACTIV X__"},
                                 "Me@42.200000 41.200000 10000 251.000 124.000 030.000 X__ 251.000 12 0 "));
  // Every ear defaults to "in front": (0, 1).
  EXPECT_TRUE(ScriptedStationServer::WaitFor(
      [&] {
        std::optional<TS3_VECTOR> placed = Talk(Viper());
        return placed && Near(placed->x, 0.0f) && Near(placed->y, 1.0f);
      },
      kRecordWaitMs));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Halcyra"));
}

TEST_F(PluginFaultTest, LogThatCannotBeCreatedOrVanishesLeavesThePluginWorking) {
  WriteIni();
  std::filesystem::create_directories(LogFile(dir_.path()));  // a folder where the log file goes
  Start();
  JoinAndFly();
  EXPECT_TRUE(BecomesHeard(Viper()));
  EXPECT_TRUE(std::filesystem::is_directory(LogFile(dir_.path())));
  plugin_.shutdown();
  started_ = false;

  // A log that works at first and then loses its folder.
  std::filesystem::remove_all(LogFile(dir_.path()));
  ini_.logLevel = 5;
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));
  ASSERT_TRUE(std::filesystem::exists(LogFile(dir_.path())));
  // The writer may have the file open (Windows then refuses to delete it) or create it again
  // between the file and its folder: remove until the folder is gone.
  ScriptedStationServer::WaitFor(
      [&] {
        std::error_code error;
        std::filesystem::remove_all(dir_ / "Halcyra", error);
        return !std::filesystem::exists(dir_ / "Halcyra");
      },
      5000);
  ASSERT_FALSE(std::filesystem::exists(dir_ / "Halcyra"));
  JoinAndFly(42.25, 41.25, 9000);
  EXPECT_TRUE(HeardOnTheLeftEar(Viper()));
  EXPECT_TRUE(HeardOnTheLeftEar(Cobra()) || BecomesHeard(Cobra()));
}

TEST_F(PluginFaultTest, ReadOnlyHalcyraFolderLeavesThePluginWorking) {
  WriteIni();
  std::filesystem::path folder = dir_ / "Halcyra";
  std::filesystem::permissions(folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  readOnly_ = folder;
  std::error_code error;
  if (std::filesystem::create_directory(folder / "probe", error)) {
    GTEST_SKIP() << "permissions do not stop this user from writing (root, or a file system without them)";
  }
  Start();
  JoinAndFly();
  EXPECT_TRUE(BecomesHeard(Viper()));
  EXPECT_FALSE(std::filesystem::exists(LogFile(dir_.path())));
}

TEST_F(PluginFaultTest, SavedGamesFolderThatDoesNotExistStartsWithoutIniOrLog) {
  savedGames_.emplace((dir_ / "nowhere").string());
  plugin_.setFunctionPointers(host_.Table());
  // The folder is "found" but does not exist: the start goes on without INI and without log.
  ASSERT_EQ(0, plugin_.init());
  started_ = true;
  plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  EXPECT_TRUE(SendUntilPublished({TuneRadios(), Position(42.2, 41.2, 10000), "SET_ACTIV X__"},
                                 "Me@42.200000 41.200000 10000 251.000 124.000 030.000 X__ 251.000 12 0 "));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "nowhere"));
}

// --- the station server's name ---

TEST_F(PluginFaultTest, UnresolvableServerNameFallsBackToTheLoopbackAddressAndTheCycleGoesOn) {
  ini_.host = "no-such-host.invalid";
  WriteIni();
  Clock::time_point start = Clock::now();
  Start();  // the error box comes and goes through the platform layer
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  JoinAndFly();  // publishes reach 127.0.0.1:10600
  int queries = server_.Queries();
  EXPECT_TRUE(ScriptedStationServer::WaitFor([&] { return server_.Queries() > queries + 2; }, kRecordWaitMs))
      << "the refresh cycle stopped querying";
  EXPECT_TRUE(BecomesHeard(Viper()));
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("GetRemoteIP : Can not resolve server address : no-such-host.invalid !"));
  EXPECT_NE(std::string::npos, log.find("ReadIniFile : Halcyra Server : 127.0.0.1:10600"));
}

}  // namespace
}  // namespace halcyra
