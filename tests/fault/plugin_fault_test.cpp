// The loaded plug-in against everything that can go wrong around it: a station server that is
// silent or answers garbage, truncated or oversize replies; a flood of simulator datagrams, many
// of them malformed; tile files that are short, empty, oversized or unreadable; Saved Games and
// log folders that are missing, unwritable, vanish or have very long paths; a station server name
// that cannot be resolved; host functions that do not return. Each case checks that the plug-in
// goes on working and keeps what it had, and that the host is never held by it.
//
// The runtime in this process, on a platform layer whose message boxes stay open, whose name
// service does not answer and whose socket library does not start (which the loaded library's own
// platform layer cannot be made to do), shows that neither start nor stop waits for them.
//
// "Heard" below means: a talk event places the talker on the ear of the receiving radio.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "fake_env.h"
#include "fake_host.h"
#include "hgt_tile.h"
#include "host_folders.h"
#include "loaded_plugin.h"
#include "platform/ipv4.h"
#include "plugin/lifecycle.h"
#include "radio_scene.h"
#include "scripted_station_server.h"
#include "simulator_sender.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace halcyra {
namespace {

using namespace testing;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRecordWaitMs = 8000;  // a few refresh ticks (2 s each)
constexpr float kLeftEarX = -1.001f;      // radio 1 on the left ear (ear1 = -1), distance 1

bool Near(float a, float b) { return a > b - 0.0005f && a < b + 0.0005f; }

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs work on a thread of its own and tells whether it returned within timeoutMs. If it did not,
// release() lets go whatever holds it, so that it can finish before this returns.
bool ReturnsWithin(int timeoutMs, const std::function<void()>& work, const std::function<void()>& release) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    work();
    done = true;
  });
  bool returned = WaitUntil([&] { return done.load(); }, timeoutMs);
  if (!returned) release();
  thread.join();
  return returned;
}

// A folder under base whose full path is exactly `length` characters long.
std::filesystem::path FolderOfLength(const std::filesystem::path& base, size_t length) {
  std::filesystem::path folder = base;
  while (folder.native().size() < length) {
    size_t missing = length - folder.native().size();  // a separator and a name
    size_t name = missing <= 61 ? missing - 1 : (missing <= 122 ? missing / 2 : 60);
    folder /= std::string(name, 'g');
  }
  return folder;
}

class PluginFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok()) << server_.error();
    ASSERT_TRUE(plugin_.ok()) << plugin_.error();
    host_.SetOwnClient(kOwnClient, kOwnNickname);
    for (const Talker& talker : Talkers()) host_.SetNickname(talker.clientID, talker.nickname);
    host_.SetChannel(kChannel, {kOwnClient, Viper().clientID, Cobra().clientID});
    server_.SetRecord("Viper", TalkerRecord("Viper", 42.35, 41.4, 6000));
    server_.SetRecord("Cobra", TalkerRecord("Cobra", 42.4, 41.3, 7000));
    ini_.tileFolder = (dir_ / "HGT").string();
  }
  void TearDown() override {
    if (started_) plugin_.shutdown();
    readOnly_.reset();
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
  void JoinAndFly(double latitude = 42.2, double longitude = 41.2, int altitudeFeet = 10000,
                  int radioClass = 0, const std::string& expectedAltitude = "") {
    plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
    plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
    char position[48];
    std::snprintf(position, sizeof position, "%.6f %.6f %s", latitude, longitude,
                  expectedAltitude.empty() ? std::to_string(altitudeFeet).c_str() : expectedAltitude.c_str());
    std::string expected = std::string("Me@") + position + " 251.000 124.000 030.000 X__ 251.000 12 " +
                           std::to_string(radioClass) + " ";
    ASSERT_TRUE(SendUntilPublished(
        {TuneRadios(), Position(latitude, longitude, altitudeFeet, radioClass), "SET_ACTIV X__"}, expected))
        << "last publish: " << server_.LastPublish(kOwnNickname).value_or("(none)");
  }

  // Sends the datagrams again and again until the station server received `expected` from us in a
  // publish made after this call (the plug-in may not listen yet when the first ones arrive).
  bool SendUntilPublished(const std::vector<std::string>& datagrams, const std::string& expected) {
    int before = server_.PublishCount();
    return WaitUntil(
        [&] {
          for (const std::string& datagram : datagrams) simulator_.Send(datagram);
          return server_.PublishCount() > before && server_.LastPublish(kOwnNickname) == expected;
        },
        kRecordWaitMs);
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
  // A talk event places him at once on the record it has, and again when the refresh it asked for
  // brings another: true when he ends up far away.
  bool EndsUpFarAway(const Talker& talker) {
    Talk(talker);
    return WaitUntil(
        [&] {
          std::optional<TS3_VECTOR> last;
          for (const FakeHost::Placement& placement : host_.Placements()) {
            if (placement.clientID == talker.clientID) last = placement.position;
          }
          return last && Near(last->x, 0.0f) && Near(last->y, 100.0f);
        },
        kRecordWaitMs);
  }
  // Waits until the refresh cycle has fetched the talker, so that a talk event places him.
  bool BecomesHeard(const Talker& talker) {
    return WaitUntil([&] { return HeardOnTheLeftEar(talker); }, kRecordWaitMs);
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
  std::optional<ScopedUnwritableFolder> readOnly_;  // writable again at the end
};

// --- the station server ---

TEST_F(PluginFaultTest, ServerSilenceGarbageTruncatedAndOversizeRepliesLoseNoStation) {
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));
  ASSERT_TRUE(BecomesHeard(Cobra()));

  // A talk event asks for Viper on the plug-in's query thread: each answer is set until that query
  // has reached the server and its answer has had time to come back.
  auto heardWhileAsked = [&](const char* what) {
    int queries = server_.QueriesFor("Viper");
    EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << what;
    EXPECT_TRUE(WaitUntil([&] { return server_.QueriesFor("Viper") > queries; }, kRecordWaitMs)) << what;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  };
  server_.SetAnswer(ServerAnswer::kSilent);
  Clock::time_point start = Clock::now();
  heardWhileAsked("after silence");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));  // the talk event never waits

  server_.SetAnswer(ServerAnswer::kGarbage);
  for (int i = 0; i < 5; ++i) heardWhileAsked("after garbage");

  server_.SetAnswer(ServerAnswer::kOversize);
  heardWhileAsked("after an oversize reply");

  // A truncated reply carries a new position and nothing else: the radios stay as they were.
  server_.SetRecord("Viper", TalkerRecord("Viper", 42.3, 41.35, 6000));
  server_.SetAnswer(ServerAnswer::kTruncated);
  heardWhileAsked("after a truncated reply");
  EXPECT_TRUE(HeardOnTheLeftEar(Viper())) << "after a truncated reply";

  server_.SetAnswer(ServerAnswer::kLate);  // arrives after the query gave up, maybe at the next one
  heardWhileAsked("after a late reply");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));

  // Cobra, never asked for by a talk event during all that, is still heard.
  server_.SetAnswer(ServerAnswer::kRecord);
  EXPECT_TRUE(HeardOnTheLeftEar(Cobra()));
  // And a proper reply still takes effect: Viper changes to a frequency we do not listen to.
  server_.SetRecord("Viper", TalkerRecord("Viper", 42.3, 41.35, 6000, "124.500"));
  EXPECT_TRUE(EndsUpFarAway(Viper()));
  EXPECT_NE(std::string::npos, LogText().find("Thread_UDPRequest :  ! Recvfrom failed with error"));
}

// Whatever the station side does, the plug-in stops within a second: a server that never answers
// (queries of a pass and of talk events in flight), forgers spraying port 10601, and port 10601
// taken by another program (the plug-in starts all the same and says so).
TEST_F(PluginFaultTest, ShutdownTakesAtMostASecondWhateverTheStationSideDoes) {
  WriteIni();
  for (const char* fault : {"silent server", "forgers", "port 10601 taken"}) {
    SCOPED_TRACE(fault);
    std::string faultName = fault;
    std::unique_ptr<platform::UdpSocket> other = platform::Env::Default().CreateUdpSocket();
    ASSERT_TRUE(other);
    if (faultName == "port 10601 taken") {
      ASSERT_EQ(0, other->Bind(0, 10601));
    } else if (faultName == "forgers") {
      ASSERT_EQ(0, other->Bind(kLoopbackAddress, 0));
    }
    server_.SetAnswer(faultName == "silent server" ? ServerAnswer::kSilent : ServerAnswer::kRecord);
    Start();
    JoinAndFly();
    if (faultName == "port 10601 taken") {
      EXPECT_TRUE(
          WaitUntil([&] { return LogText().find(" ! Cannot initialize (bind): ") != std::string::npos; },
                    kRecordWaitMs));
    } else {
      int queries = server_.Queries();
      ASSERT_TRUE(WaitUntil([&] { return server_.Queries() > queries; }, kRecordWaitMs));
    }
    std::atomic<bool> spraying{faultName == "forgers"};
    std::thread spray([&] {
      const std::string forged = "Viper@1 1 1 999.000 999.000 999.000 XXX 000.000 0 0 ";
      for (int i = 0; i < 20000 && spraying.load(); ++i) {
        other->SendTo(forged.data(), forged.size(), kLoopbackAddress, 10601);
        if (i % 16 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    Talk(Viper());  // its query is in flight too
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Clock::time_point start = Clock::now();
    plugin_.shutdown();
    started_ = false;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    spraying = false;
    spray.join();
  }
  server_.SetAnswer(ServerAnswer::kRecord);
}

// --- the simulator ---

std::vector<std::string> MalformedDatagrams() {
  return {"",
          "S",
          "SET_RADIO",
          "SET_RADIO ",
          "set_radio 251.000 124.000 030.000 251.000 12",
          "SET_LLALT " + std::string(110, '4'),   // 120 bytes: one too many
          "SET_RADIO " + std::string(565, '9'),   // fills the receive buffer
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
  EXPECT_TRUE(WaitUntil([&] { return PlacedFarAway(Viper()); }, kRecordWaitMs));
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("HGT file is shorter than 1201 x 1201 samples"));
  EXPECT_NE(std::string::npos, log.find("HGT file is longer than 1201 x 1201 samples"));
}

// --- folders ---

TEST_F(PluginFaultTest, MissingHalcyraFolderIsMadeWithTheSettingsFileAndTheLog) {
  Start();  // Saved Games exists, Halcyra\ does not: the first start makes both files
  plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  ASSERT_TRUE(SendUntilPublished({TuneRadios(), Position(42.2, 41.2, 10000), "SET_ACTIV X__"},
                                 "Me@42.200000 41.200000 10000 251.000 124.000 030.000 X__ 251.000 12 0 "));
  // Every ear defaults to "in front": (0, 1).
  EXPECT_TRUE(WaitUntil(
      [&] {
        std::optional<TS3_VECTOR> placed = Talk(Viper());
        return placed && Near(placed->x, 0.0f) && Near(placed->y, 1.0f);
      },
      kRecordWaitMs));
  EXPECT_TRUE(std::filesystem::exists(IniFile(dir_.path())));
  EXPECT_NE(std::string::npos, LogText().find("Wrote the default settings to "));
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
  WaitUntil(
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

// Whoever runs the suite: for root, whom permissions do not stop, the folder is made immutable.
TEST_F(PluginFaultTest, ReadOnlyHalcyraFolderLeavesThePluginWorking) {
  WriteIni();
  readOnly_.emplace(dir_ / "Halcyra");
  ASSERT_TRUE(readOnly_->ok()) << readOnly_->error();
  Start();
  JoinAndFly();
  EXPECT_TRUE(BecomesHeard(Viper()));
  EXPECT_FALSE(std::filesystem::exists(LogFile(dir_.path())));
}

TEST_F(PluginFaultTest, SavedGamesFolderThatDoesNotExistIsMadeAtTheStart) {
  savedGames_.emplace((dir_ / "nowhere").string());
  plugin_.setFunctionPointers(host_.Table());
  // The folder is "found" but does not exist: the start makes it, with the settings and the log.
  ASSERT_EQ(0, plugin_.init());
  started_ = true;
  plugin_.onConnectStatusChangeEvent(kConnection, STATUS_CONNECTION_ESTABLISHED, 0);
  plugin_.onClientMoveEvent(kConnection, kOwnClient, 0, kChannel, 0, "");
  EXPECT_TRUE(SendUntilPublished({TuneRadios(), Position(42.2, 41.2, 10000), "SET_ACTIV X__"},
                                 "Me@42.200000 41.200000 10000 251.000 124.000 030.000 X__ 251.000 12 0 "));
  EXPECT_TRUE(std::filesystem::exists(IniFile(dir_ / "nowhere")));
  EXPECT_TRUE(std::filesystem::exists(LogFile(dir_ / "nowhere")));
}

// A Saved Games folder of 252 characters makes the log file's path 272 characters long: every line
// goes to the file that was opened (where the system cannot open so long a path, there is no log),
// never to a file at the path cut short.
TEST_F(PluginFaultTest, LongSavedGamesPathKeepsTheLogWhereItWasOpened) {
  std::filesystem::path savedGames = FolderOfLength(dir_.path(), 252);
  ASSERT_EQ(252u, savedGames.native().size());
  ini_.logLevel = 3;
  WriteFile(IniFile(savedGames), IniText(ini_));
  Start(savedGames);
  JoinAndFly();
  plugin_.shutdown();
  started_ = false;

  EXPECT_FALSE(std::filesystem::exists(savedGames / "Halcyr"))
      << "a line went to the path cut at 259 characters";
  std::filesystem::path log = LogFile(savedGames);
  ASSERT_EQ(272u, log.native().size());
  if (std::filesystem::exists(log)) {
    std::string text = ReadFile(log);
    EXPECT_NE(std::string::npos, text.find("Halcyra plugin is initialized")) << text;
    EXPECT_NE(std::string::npos, text.find("~Clog : Close log file."));
  }
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
  EXPECT_TRUE(WaitUntil([&] { return server_.Queries() > queries + 2; }, kRecordWaitMs))
      << "the refresh cycle stopped querying";
  EXPECT_TRUE(BecomesHeard(Viper()));
  std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("GetRemoteIP : Can not resolve server address : no-such-host.invalid !"));
  EXPECT_NE(std::string::npos, log.find("ReadIniFile : Halcyra Server : 127.0.0.1:10600"));
}

// --- a host that does not return ---

// A host busy with its own shutdown may not return from its functions until ours has returned. A
// talk event and a refresh query (whose talker the server no longer knows, so he goes back to the
// listener's position) are both inside channelset3DAttributes when the host stops the plug-in: the
// stop returns while both are still held, and the plug-in finishes when they come back.
TEST_F(PluginFaultTest, StopReturnsWhileHostFunctionsDoNotReturn) {
  ini_.logLevel = 3;
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));
  ASSERT_TRUE(BecomesHeard(Cobra()));

  host_.BlockPlacements(FakeHost::Block::kAll);
  std::atomic<bool> talked{false};
  std::thread talk([&] {
    plugin_.onTalkStatusChangeEvent(kConnection, 1, 0, Viper().clientID);
    talked = true;
  });
  server_.SetAnswerChooser([](const std::string& nickname) {
    return nickname == "Cobra" ? ServerAnswer::kNotFound : ServerAnswer::kRecord;
  });
  ASSERT_TRUE(WaitUntil([&] { return host_.PlacementsInProgress() >= 2; }, kRecordWaitMs));

  Clock::time_point stopStart = Clock::now();
  bool stopped = ReturnsWithin(
      5000, [&] { plugin_.shutdown(); }, [&] { host_.BlockPlacements(FakeHost::Block::kNone); });
  double stopMs = MillisecondsSince(stopStart);
  started_ = false;
  std::printf("[ fault    ] stop with two host calls held: %.1f ms\n", stopMs);
  EXPECT_TRUE(stopped) << "the stop waited for the host";
  EXPECT_EQ(2, host_.PlacementsInProgress()) << "the host was let go before the stop returned";
  EXPECT_FALSE(talked.load());

  host_.BlockPlacements(FakeHost::Block::kNone);
  talk.join();
  // The plug-in is released when the event has left it: its log closes then.
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadFile(LogFile(dir_.path())).find("~Clog : Close log file.") != std::string::npos; },
      5000));
  EXPECT_TRUE(WaitUntil([&] { return host_.PlacementsInProgress() == 0; }, 5000));
}

// The server says "(no found) " for the talker, and the host does not return from the call that puts
// him back at the listener's position. The talk event never waits for it: the talker is placed by
// his record at once, and the reset is made from the query thread. No query asks for a reset after
// the server knows him again.
TEST_F(PluginFaultTest, TalkEventGivesUpAQueryWhoseHostCallDoesNotReturn) {
  WriteIni();
  Start();
  JoinAndFly();
  ASSERT_TRUE(BecomesHeard(Viper()));

  host_.BlockPlacements(FakeHost::Block::kResets);
  server_.SetAnswer(ServerAnswer::kNotFound);
  // On a loaded machine the answer may come after the time limit, and the given-up query then makes
  // no host call at all: talk again until one query has reached the host before being given up.
  // The event places him at once; the reset of its query comes later, from the query thread.
  std::optional<TS3_VECTOR> placed;
  for (int attempt = 0; attempt < 5 && host_.PlacementsInProgress() == 0; ++attempt) {
    bool returned = ReturnsWithin(
        5000,
        [&] {
          host_.ClearPlacements();
          plugin_.onTalkStatusChangeEvent(kConnection, 1, 0, Viper().clientID);
          // (A reset of the refresh cycle's own "(no found) " may come in between: not his.)
          for (const FakeHost::Placement& placement : host_.Placements()) {
            bool reset = placement.position.x == 0 && placement.position.y == 0 && placement.position.z == 0;
            if (placement.clientID == Viper().clientID && !reset) {
              placed = placement.position;
              break;
            }
          }
        },
        [&] { host_.BlockPlacements(FakeHost::Block::kNone); });
    ASSERT_TRUE(returned) << "the talk event waited for the host";
    if (host_.PlacementsInProgress() == 0) WaitUntil([&] { return host_.PlacementsInProgress() > 0; }, 1000);
  }
  EXPECT_GE(host_.PlacementsInProgress(), 1);
  ASSERT_TRUE(placed.has_value());
  EXPECT_TRUE(Near(placed->x, kLeftEarX) && Near(placed->y, 0.1f)) << placed->x << " " << placed->y;

  // Every query asked so far has been given up (450 ms) or has its reset in progress; no new one
  // asks for a reset. Once the host returns, no reset call follows.
  server_.SetAnswer(ServerAnswer::kRecord);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  auto resets = [&] {
    size_t count = 0;
    for (const FakeHost::Placement& placement : host_.Placements()) {
      count += placement.position.x == 0 && placement.position.y == 0 && placement.position.z == 0 ? 1 : 0;
    }
    return count;
  };
  size_t resetsBefore = resets();
  host_.BlockPlacements(FakeHost::Block::kNone);
  EXPECT_TRUE(WaitUntil([&] { return host_.PlacementsInProgress() == 0; }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(resetsBefore, resets());
}

// --- start and stop of the runtime on a platform that holds them ---

class RuntimeFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.SetOwnClient(kOwnClient, kOwnNickname);
    for (const Talker& talker : Talkers()) host_.SetNickname(talker.clientID, talker.nickname);
    host_.SetChannel(kChannel, {kOwnClient, Viper().clientID});
    env_.savedGames = dir_.path().wstring();
    lifecycle_.SetFunctionPointers(host_.Table());
  }
  void TearDown() override {
    env_.boxGate.Open();
    env_.lookupGate.Open();
    lifecycle_.Shutdown();
  }

  static const Talker& Viper() { return Talkers()[0]; }
  void WriteIni() { WriteFile(IniFile(dir_.path()), IniText(ini_)); }
  std::string LogText() { return ReadFile(LogFile(dir_.path())); }
  void ReleaseAll() {
    env_.boxGate.Open();
    env_.lookupGate.Open();
  }
  // The events of a pilot who talks while the plug-in is being started.
  void Events() {
    short block[4] = {1, 2, 3, 4};
    lifecycle_.Deliver(
        [&](PluginRuntime& r) { r.OnConnectStatusChange(kConnection, STATUS_CONNECTION_ESTABLISHED, 0); });
    lifecycle_.Deliver(
        [&](PluginRuntime& r) { r.OnClientMove(kConnection, kOwnClient, 0, kChannel, 0, ""); });
    lifecycle_.Deliver([&](PluginRuntime& r) { r.OnTalkStatusChange(kConnection, 1, 0, Viper().clientID); });
    lifecycle_.Deliver(
        [&](PluginRuntime& r) { r.OnEditPlaybackVoiceData(kConnection, Viper().clientID, block, 4, 1); });
  }

  TempDir dir_;
  FakeEnv env_;
  FakeHost host_;
  IniSettings ini_;
  PluginLifecycle lifecycle_{env_};
};

// Both boxes of the configuration stay open (a tile folder that does not exist; a server name that
// cannot be resolved) and the name service never answers. The start waits for the name a bounded time and
// events that come meanwhile are ignored at once; the stop, while the refresh cycle waits for a
// second name, returns with the boxes still open and the look-ups still stalled.
TEST_F(RuntimeFaultTest, NeitherStartNorStopWaitsForOpenBoxesOrAStalledNameService) {
  ini_.logLevel = 3;
  ini_.host = "hcs.stalled.example";
  ini_.tileFolder = (dir_ / "no-tiles").string();
  WriteIni();
  env_.boxGate.Close();
  env_.lookupGate.Close();

  std::atomic<int> started{-1};
  std::thread start([&] { started = lifecycle_.Init(); });
  bool lookingUp = WaitUntil([&] { return env_.lookupGate.Waiting() == 1; }, 5000);
  bool ignored = lookingUp && ReturnsWithin(
                                  5000, [&] { Events(); }, [&] { ReleaseAll(); });
  int startedWhileEvents = started.load();
  bool startEnded = lookingUp && WaitUntil([&] { return started.load() != -1; }, 10000);
  if (!startEnded) ReleaseAll();
  start.join();
  ASSERT_TRUE(lookingUp) << "the start never looked the server's name up: held by a box?";
  EXPECT_TRUE(ignored) << "an event waited for the start";
  EXPECT_EQ(-1, startedWhileEvents) << "the start ended before the events were delivered: nothing was shown";
  ASSERT_TRUE(startEnded) << "the start waited for the name service without limit";
  ASSERT_EQ(0, started.load());
  EXPECT_EQ(0, host_.TotalCalls()) << "an event during the start was handled";
  EXPECT_EQ(2u, env_.Boxes().size());
  EXPECT_EQ(2, env_.boxGate.Waiting());

  // The refresh cycle reloads the configuration every seventh tick: a new name to look up.
  ini_.host = "second.stalled.example";
  WriteIni();
  ASSERT_TRUE(WaitUntil([&] { return env_.lookupGate.Waiting() == 2; }, 20000));
  // With the clock standing still, a stop that waited for the look-up's time limit would never end.
  env_.clockStopped = true;
  Clock::time_point stopStart = Clock::now();
  bool stopped = ReturnsWithin(
      5000, [&] { lifecycle_.Shutdown(); },
      [&] {
        env_.clockStopped = false;
        ReleaseAll();
      });
  double stopMs = MillisecondsSince(stopStart);
  std::printf("[ fault    ] stop with two boxes open and two name look-ups stalled: %.1f ms\n", stopMs);
  EXPECT_TRUE(stopped) << "the stop waited for a box, a name look-up or a time limit";
  EXPECT_EQ(2, env_.boxGate.Waiting());
  EXPECT_EQ(2, env_.lookupGate.Waiting());

  std::string log = LogText();
  EXPECT_NE(std::string::npos,
            log.find("GetRemoteIP : Can not resolve server address : hcs.stalled.example ! "
                     "(no answer within 2000 ms)"));
  EXPECT_NE(std::string::npos, log.find("ReadIniFile : Halcyra Server : 127.0.0.1:10600"));
  EXPECT_NE(std::string::npos, log.find("~Clog : Close log file."));
}

// The socket library does not start: the start fails with its line, and nothing of the plug-in
// keeps running or answers events.
TEST_F(RuntimeFaultTest, SocketLibraryThatDoesNotStartFailsTheStartCleanly) {
  ini_.tileFolder = (dir_ / "HGT").string();
  ini_.logLevel = 3;
  WriteIni();
  env_.startNetworkingResult = 10091;  // WSASYSNOTREADY
  int threads = ThreadsOfThisProcess();
  EXPECT_EQ(1, lifecycle_.Init());
  EXPECT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() == threads; }, 5000))
      << ThreadsOfThisProcess() << " threads, " << threads << " before the start";
  Events();
  EXPECT_EQ(0, host_.TotalCalls());
  std::string log = LogText();
  EXPECT_NE(std::string::npos, log.find("ts3plugin_init : WSAStartup failed with error: 10091 (")) << log;
  EXPECT_EQ(std::string::npos, log.find("Halcyra plugin is initialized"));
  EXPECT_EQ(std::string::npos, log.find("Launch Thread_RW_HCS"));
  // The simulator's port was never taken.
  auto socket = platform::Env::Default().CreateUdpSocket();
  ASSERT_TRUE(socket);
  EXPECT_EQ(0, socket->Bind(0, 10602));
}

// A thread of the plug-in that the system refuses to start fails the start: the start says which,
// everything started before it is stopped again (no thread of the plug-in is left, the ports are
// free) and ts3plugin_init reports the failure. Every thread start of the plug-in is refused in
// turn.
TEST_F(RuntimeFaultTest, ThreadThatCannotStartFailsTheStartCleanly) {
  ini_.tileFolder = (dir_ / "HGT").string();
  ini_.logLevel = 3;
  WriteIni();
  int threads = ThreadsOfThisProcess();
  ASSERT_EQ(0, lifecycle_.Init());
  int starts = env_.threadStarts.load();
  lifecycle_.Shutdown();
  ASSERT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() == threads; }, 5000));

  std::string logs;
  for (int refused = 0; refused < starts; ++refused) {
    SCOPED_TRACE("thread start " + std::to_string(refused) + " refused");
    env_.threadStarts = 0;
    env_.refuseThreadsFrom = refused;
    if (lifecycle_.Init() != 0) {
      EXPECT_TRUE(WaitUntil([&] { return ThreadsOfThisProcess() == threads; }, 5000))
          << ThreadsOfThisProcess() << " threads, " << threads << " before the start";
      for (uint16_t port : {10601, 10602}) {
        auto socket = platform::Env::Default().CreateUdpSocket();
        ASSERT_TRUE(socket);
        EXPECT_EQ(0, socket->Bind(0, port)) << "port " << port;
      }
    }
    lifecycle_.Shutdown();
    logs += LogText();
  }
  env_.refuseThreadsFrom = INT_MAX;
  for (const char* thread : {"Thread_UDPRequest", "Thread_RW_HCS", "Thread_DCS_External"}) {
    EXPECT_NE(std::string::npos, logs.find(std::string("ts3plugin_init : Cannot start ") + thread +
                                           ": the plug-in does not start"))
        << thread;
  }
}

}  // namespace
}  // namespace halcyra