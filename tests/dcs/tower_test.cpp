// halcyra-tower driving the loaded plug-in: a class 2 station on a terrain tile is published at the
// terrain's height with the radios, selection and encryption from the command line. And what the
// tower sends round by round, received on a loopback port of the test's own.
#include <gtest/gtest.h>

#include <algorithm>

#include "child_process.h"
#include "hgt_tile.h"
#include "platform/env.h"
#include "platform/ipv4.h"
#include "plugin_session.h"

namespace halcyra {
namespace {

using testing::ChildProcess;
using testing::HgtTile;
using testing::PluginSession;
using testing::SessionOptions;
using testing::TempDir;

TEST(TowerTest, ClassTwoStationIsPublishedStandingOnTheTerrainTile) {
  TempDir tiles;
  HgtTile(500).WriteTo(tiles / "N42E041.HGT");
  SessionOptions options;
  options.tileFolder = tiles.path();
  PluginSession session(options, "Talker@42.000000 41.000000 1000 124.500 000.000 000.000 X__ 000.000 0 0 ");
  ASSERT_EQ("", session.Start());

  ChildProcess tower(HALCYRA_TOWER_PATH,
                     {"--lat", "42.5", "--lon", "41.5", "--alt", "30", "--radio1", "124.5", "--radio2", "251",
                      "--active", "2", "--crypto-frequency", "251", "--crypto-key", "12"});
  ASSERT_TRUE(tower.started()) << HALCYRA_TOWER_PATH;
  // 500 m of terrain is 1640 ft; a class 2 station stands 15 ft above it.
  EXPECT_TRUE(session.server().WaitForRequest(
      "SET:Own@42.500000 41.500000 1655 124.500 251.000 000.000 _X_ 251.000 12 2 ", 0, 30000))
      << ::testing::PrintToString(session.server().Requests());
}

// The selection goes out in the first round only, so a radio the pilot selects afterwards with the
// plug-in's joystick buttons is not taken back a second later.
TEST(TowerTest, SelectsTheActiveRadioInTheFirstRoundOnly) {
  std::unique_ptr<platform::UdpSocket> receiver = platform::Env::Default().CreateUdpSocket();
  ASSERT_TRUE(receiver && receiver->Bind(kLoopbackAddress, 0) == 0);
  std::string plugin = "127.0.0.1:" + std::to_string(receiver->LocalPort());
  ChildProcess tower(HALCYRA_TOWER_PATH, {"--lat", "42.5", "--lon", "41.5", "--radio1", "124.5", "--active",
                                          "3", "--count", "3", "--plugin", plugin});
  ASSERT_TRUE(tower.started()) << HALCYRA_TOWER_PATH;
  std::vector<std::string> received;
  auto rounds = [&received] {
    return std::count_if(received.begin(), received.end(),
                         [](const std::string& text) { return text.starts_with("SET_RADIO"); });
  };
  char datagram[256];
  for (int waited = 0; rounds() < 3 && waited < 30; ++waited) {
    int length = receiver->ReceiveFrom(datagram, sizeof datagram, 1000, nullptr, nullptr);
    if (length > 0) received.emplace_back(datagram, static_cast<size_t>(length));
  }
  EXPECT_EQ(0, tower.WaitForExit(10000));
  ASSERT_EQ(3, rounds()) << ::testing::PrintToString(received);
  ASSERT_EQ(10u, received.size()) << ::testing::PrintToString(received);
  EXPECT_EQ("SET_ACTIV __X", received[2]);
  EXPECT_EQ(1, std::count_if(received.begin(), received.end(),
                             [](const std::string& text) { return text.starts_with("SET_ACTIV"); }));
}

}  // namespace
}  // namespace halcyra
