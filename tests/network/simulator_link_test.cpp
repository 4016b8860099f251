// The simulator link: the datagram filter and the four commands, directly and over real UDP to
// port 10602, with publishes reaching a fake station server.
#include "network/simulator_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "fake_env.h"
#include "hgt_tile.h"
#include "network_rig.h"
#include "platform/ipv4.h"
#include "wait_until.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

using testing::CountContaining;
using testing::FakeEnv;
using testing::HgtTile;
using testing::LineContaining;
using testing::NetworkRig;
using testing::WaitUntil;

class SimulatorLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(rig_.server.ok()); }

  void Handle(const std::string& datagram) {
    link_.HandleDatagram(datagram.c_str(), static_cast<int>(datagram.size()));
  }
  StationRecord Local() { return rig_.model->LocalStation(); }
  // Sets the local station's volumes to 1 2 3 by a command that is surely processed.
  void MarkVolumes() {
    Handle("SET_VOLUM 1 2 3");
    ASSERT_EQ(1, Local().volume1);
  }
  // Puts a 500 m tile under N42E041 and hands its folder to the tile store.
  void LoadTerrain() {
    HgtTile(500).WriteTo(rig_.dir / "HGT" / "N42E041.HGT");
    rig_.tiles->SetTileFolder((rig_.dir / "HGT").string());
  }

  NetworkRig rig_{platform::Env::Default(), 6};  // 6: every received datagram is logged
  std::atomic<int> publishes_{0};
  SimulatorCommands commands_{*rig_.log, *rig_.model, *rig_.tiles, [this] {
                                ++publishes_;
                                return rig_.exchange->SendHCDataToHCS("");
                              }};
  SimulatorStatus simulator_;
  SimulatorLink link_{platform::Env::Default(), *rig_.log, commands_, simulator_};
};

TEST_F(SimulatorLinkTest, SeparatorByteIsNeverExamined) {
  Handle("SET_RADIO 124.000 251.000 030.000 124.000 7");
  EXPECT_STREQ("124.000", Local().frequency1);
  Handle("SET_RADIO:125.000 251.000 030.000 124.000 7");
  EXPECT_STREQ("125.000", Local().frequency1);
  Handle("SET_RADIOx126.000 251.000 030.000 124.000 7");
  EXPECT_STREQ("126.000", Local().frequency1);
  StationRecord local = Local();
  EXPECT_STREQ("251.000", local.frequency2);
  EXPECT_STREQ("030.000", local.frequency3);
  EXPECT_STREQ("124.000", local.cryptoFrequency);
  EXPECT_EQ(7, local.cryptoKey);
}

TEST_F(SimulatorLinkTest, OnlyDatagramsOf11To119BytesAreProcessed) {
  Handle("SET_VOLUM ");  // 10 bytes
  EXPECT_EQ(100, Local().volume1);
  Handle("SET_VOLUM 5");  // 11 bytes
  StationRecord local = Local();
  EXPECT_EQ(5, local.volume1);
  EXPECT_EQ(100, local.volume2);
  EXPECT_EQ(100, local.volume3);

  std::string longest = "SET_VOLUM 7 8 9";
  longest.resize(119, ' ');
  Handle(longest);
  EXPECT_EQ(7, Local().volume1);
  std::string tooLong = "SET_VOLUM 1 1 1";
  tooLong.resize(120, ' ');
  Handle(tooLong);
  EXPECT_EQ(7, Local().volume1);
}

TEST_F(SimulatorLinkTest, CommandWordsAreCaseSensitive) {
  MarkVolumes();
  Handle("set_volum 50 50 50");
  Handle("Set_Radio 124.000 251.000 030.000 124.000 7");
  EXPECT_EQ(1, Local().volume1);
  EXPECT_STREQ("000.000", Local().frequency1);
}

TEST_F(SimulatorLinkTest, OverLongFrequencyEmptiesThatFieldAndKeepsTheFollowing) {
  Handle("SET_RADIO 124.000 251.000 030.000 124.000 7");
  Handle("SET_RADIO 125.000 12345678 031.000 125.000 8");
  StationRecord local = Local();
  EXPECT_STREQ("125.000", local.frequency1);
  EXPECT_STREQ("", local.frequency2);
  EXPECT_STREQ("030.000", local.frequency3);
  EXPECT_STREQ("124.000", local.cryptoFrequency);
  EXPECT_EQ(7, local.cryptoKey);
}

TEST_F(SimulatorLinkTest, NonNumericIntegerLeavesItAndEndsTheScan) {
  MarkVolumes();
  Handle("SET_VOLUM 40 loud 60");
  StationRecord local = Local();
  EXPECT_EQ(40, local.volume1);
  EXPECT_EQ(2, local.volume2);
  EXPECT_EQ(3, local.volume3);
}

TEST_F(SimulatorLinkTest, SetLLAltResetsTheWatchdogEvenWhenMalformed) {
  Handle("SET_LLALT 42.5 41.5 1000 0");
  simulator_.watchdogCounter = 6;
  Handle("SET_LLALT  ");  // no arguments at all
  EXPECT_EQ(0, simulator_.watchdogCounter.load());
  EXPECT_FLOAT_EQ(42.5f, Local().latitude);

  simulator_.watchdogCounter = 6;
  Handle("SET_LLALT abcdefghijklmnopq 1 2 3");  // latitude word too long: emptied, scan ends
  EXPECT_EQ(0, simulator_.watchdogCounter.load());
  StationRecord local = Local();
  EXPECT_STREQ("", local.latitudeText);
  EXPECT_FLOAT_EQ(0.0f, local.latitude);  // the numbers follow the stored texts
  EXPECT_STREQ("41.5", local.longitudeText);
  EXPECT_FLOAT_EQ(41.5f, local.longitude);

  simulator_.watchdogCounter = 6;
  Handle("SET_LLALT 1 2 3 x");  // class not a number: stays 0
  EXPECT_EQ(0, simulator_.watchdogCounter.load());
  local = Local();
  EXPECT_FLOAT_EQ(1.0f, local.latitude);
  EXPECT_FLOAT_EQ(3.0f, local.altitude);
  EXPECT_EQ(0, local.radioClass);

  simulator_.watchdogCounter = 6;
  Handle("SET_RADIO 124.000 251.000 030.000 124.000 7");
  EXPECT_EQ(6, simulator_.watchdogCounter.load());
}

TEST_F(SimulatorLinkTest, PublishesOnlyOnceTheNicknameIsKnownAndNeverForVolumes) {
  Handle("SET_RADIO 124.000 251.000 030.000 124.000 7");
  Handle("SET_LLALT 42.5 41.5 1000 0");
  Handle("SET_ACTIV X__");
  EXPECT_EQ(0, publishes_.load());
  EXPECT_FALSE(rig_.server.WaitForRequests(1, 200));

  rig_.SetLocalNickname("Viper");
  Handle("SET_VOLUM 10 20 30");
  EXPECT_EQ(0, publishes_.load());
  Handle("SET_ACTIV _X_");
  ASSERT_TRUE(rig_.server.WaitForRequests(1, 3000));
  EXPECT_EQ("SET:Viper@42.5 41.5 1000 124.000 251.000 030.000 _X_ 124.000 7 0 ", rig_.server.Requests()[0]);
  Handle("SET_RADIO 125.000 251.000 030.000 124.000 7");
  Handle("SET_LLALT 42.6 41.5 1000 0");
  EXPECT_TRUE(rig_.server.WaitForRequests(3, 3000));
  EXPECT_EQ(3, publishes_.load());
}

TEST_F(SimulatorLinkTest, GroundStationsStandOnTheTerrain) {
  LoadTerrain();
  Handle("SET_LLALT 42.5 41.5 1234 2");
  StationRecord local = Local();
  EXPECT_FLOAT_EQ(1655.0f, local.altitude);
  EXPECT_STREQ("1655", local.altitudeText);
  Handle("SET_LLALT 42.5 41.5 1234 1");
  local = Local();
  EXPECT_FLOAT_EQ(1645.0f, local.altitude);
  EXPECT_STREQ("1645.000000", local.altitudeText);
  Handle("SET_LLALT 42.5 41.5 1234 100");  // an aircraft keeps the simulator's altitude
  local = Local();
  EXPECT_FLOAT_EQ(1234.0f, local.altitude);
  EXPECT_STREQ("1234", local.altitudeText);
}

TEST_F(SimulatorLinkTest, GroundStationsWithoutTerrainKeepTheSimulatorAltitudeInTheirClassForm) {
  Handle("SET_LLALT 10.5 10.5 3.5 1");
  StationRecord local = Local();
  EXPECT_FLOAT_EQ(3.5f, local.altitude);
  EXPECT_STREQ("3.500000", local.altitudeText);
  Handle("SET_LLALT 10.5 10.5 3.5 2");
  local = Local();
  EXPECT_FLOAT_EQ(3.5f, local.altitude);
  EXPECT_STREQ("3", local.altitudeText);
}

TEST_F(SimulatorLinkTest, ClassOneAltitudeTextStaysWithinElevenCharacters) {
  struct Case {
    const char* altitude;
    const char* text;
  };
  for (Case c : {Case{"12345.5", "12345.50000"}, Case{"-1500.25", "-1500.25000"},
                 Case{"123456789", "123456792.0"}, Case{"1e20", "1.0000e+20"}}) {
    Handle(std::string("SET_LLALT 10.5 10.5 ") + c.altitude + " 1");
    StationRecord local = Local();
    EXPECT_STREQ(c.text, local.altitudeText) << c.altitude;
    EXPECT_FLOAT_EQ(wire::DecimalValue(c.altitude), local.altitude) << c.altitude;
  }
}

TEST(PlaceOnTerrainTest, HugeSimulatorAltitudeOfAClassTwoStationIsClamped) {
  StationRecord station = DefaultStation();
  station.radioClass = 2;
  CopyText(station.altitudeText, "1e30");
  PlaceOnTerrain(station, 0);
  EXPECT_FLOAT_EQ(1e30f, station.altitude);
  EXPECT_STREQ("2147483647", station.altitudeText);

  CopyText(station.altitudeText, "-4.5");
  PlaceOnTerrain(station, 0);
  EXPECT_STREQ("-5", station.altitudeText);  // whole feet below sea level, not 65531
}

TEST(PlaceOnTerrainTest, HighestTerrainKeepsItsValue) {
  StationRecord station = DefaultStation();
  station.radioClass = 1;
  PlaceOnTerrain(station, 8848);  // 29021 ft
  EXPECT_FLOAT_EQ(29026.0f, station.altitude);
  EXPECT_STREQ("29026.00000", station.altitudeText);
}

TEST_F(SimulatorLinkTest, ArgumentTextsLongerThan512BytesAreIgnored) {
  MarkVolumes();
  std::string huge = "SET_VOLUM 9 9 9";
  huge.resize(513, ' ');
  commands_.CommandSetVolume(huge.c_str());
  EXPECT_EQ(1, Local().volume1);
  huge.resize(512);
  commands_.CommandSetVolume(huge.c_str());
  EXPECT_EQ(9, Local().volume1);
}

// --- over real UDP ---

std::unique_ptr<platform::UdpSocket> Sender() {
  platform::Env::Default().StartNetworking();
  auto socket = platform::Env::Default().CreateUdpSocket();
  if (socket) socket->Bind(kLoopbackAddress, 0);
  return socket;
}

TEST_F(SimulatorLinkTest, CommandsArriveOverUdpAndPublishesLeave) {
  rig_.SetLocalNickname("Viper");
  ASSERT_TRUE(link_.Start());
  auto sender = Sender();
  ASSERT_TRUE(sender);
  // The listener may still be binding: repeat the first command until it lands.
  ASSERT_TRUE(WaitUntil([&] {
    std::string volumes = "SET_VOLUM 11 22 33";
    sender->SendTo(volumes.data(), volumes.size(), kLoopbackAddress, SimulatorLink::kPort);
    return Local().volume3 == 33;
  }));
  simulator_.watchdogCounter = 4;
  std::string position = "SET_LLALT 42.5 41.5 2500 100";
  sender->SendTo(position.data(), position.size(), kLoopbackAddress, SimulatorLink::kPort);
  ASSERT_TRUE(rig_.server.WaitForRequests(1, 3000));
  EXPECT_EQ("SET:Viper@42.5 41.5 2500 000.000 000.000 000.000 ___ 000.000 0 100 ", rig_.server.Requests()[0]);
  EXPECT_TRUE(WaitUntil([&] { return simulator_.watchdogCounter.load() == 0; }));
  link_.Stop();
  auto lines = rig_.LogLines();
  EXPECT_NE("", LineContaining(lines, "Thread_DCS_External : UDP server started on 10602"));
  EXPECT_NE("", LineContaining(lines, "Thread_DCS_External : Received : >SET_LLALT 42.5 41.5 2500 100]"));
  EXPECT_NE("", LineContaining(lines, "Thread_DCS_External : Received SETALT Command"));
  EXPECT_NE("", LineContaining(lines, "CommandSetLLAltType : 42.5 41.5 2500 100"));
}

// Another program holds port 10602: the link says so at level 0 and tries again after a pause,
// without burning the CPU, and starts listening once the port is free.
TEST_F(SimulatorLinkTest, TakenPortIsReportedAndRetriedWithoutSpinning) {
  auto blocker = platform::Env::Default().CreateUdpSocket();
  ASSERT_EQ(0, blocker->Bind(kLoopbackAddress, SimulatorLink::kPort));
  FakeEnv clock;  // a 5 s pause of the fake clock costs about a real millisecond
  SimulatorLink link(clock, *rig_.log, commands_, simulator_);
  ASSERT_TRUE(link.Start());
  ASSERT_TRUE(WaitUntil([&] { return clock.sleptMs.load() >= 20000; }, 20000));
  blocker.reset();
  auto sender = Sender();
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::string volumes = "SET_VOLUM 44 55 66";
        sender->SendTo(volumes.data(), volumes.size(), kLoopbackAddress, SimulatorLink::kPort);
        return Local().volume3 == 66;
      },
      20000));
  uint64_t slept = clock.sleptMs.load();
  link.Stop();

  auto lines = rig_.LogLines();
  int failures = CountContaining(lines, "Thread_DCS_External : Cannot listen on UDP port 10602");
  EXPECT_GE(failures, 4);
  EXPECT_LE(static_cast<uint64_t>(failures), slept / 5000 + 1);  // one try per 5 s pause
  EXPECT_NE(std::string::npos, LineContaining(lines, "Cannot listen on UDP port").find("][L00] "));
  EXPECT_EQ(1, CountContaining(lines, "UDP server started on 10602"));
}

// The link sleeps in its receive until a datagram comes, and in a 5 s pause while the port is
// taken: the stop ends either at once. (Timed generously: a wait the stop does not end takes 5 s
// or for ever.)
TEST_F(SimulatorLinkTest, StopEndsTheLinkAtOnceWhetherItWaitsForADatagramOrToBindAgain) {
  auto stopTakesMs = [](SimulatorLink& link) {
    auto begin = std::chrono::steady_clock::now();
    link.Stop();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin)
        .count();
  };
  ASSERT_TRUE(link_.Start());
  auto sender = Sender();
  ASSERT_TRUE(WaitUntil([&] {
    std::string volumes = "SET_VOLUM 11 22 33";
    sender->SendTo(volumes.data(), volumes.size(), kLoopbackAddress, SimulatorLink::kPort);
    return Local().volume3 == 33;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // inside the receive, with nothing to take
  EXPECT_LT(stopTakesMs(link_), 1000);
  auto listener = platform::Env::Default().CreateUdpSocket();
  EXPECT_EQ(0, listener->Bind(kLoopbackAddress, SimulatorLink::kPort)) << "the stopped link holds the port";

  SimulatorLink pausing(platform::Env::Default(), *rig_.log, commands_, simulator_);
  ASSERT_TRUE(pausing.Start());
  ASSERT_TRUE(
      WaitUntil([&] { return CountContaining(rig_.LogLines(), "Cannot listen on UDP port 10602") > 0; }));
  EXPECT_LT(stopTakesMs(pausing), 1000);
  EXPECT_TRUE(link_.Start()) << "a stopped link starts again";
  link_.Stop();
}

}  // namespace
}  // namespace halcyra
