// halcyra-tower driving the loaded plug-in: a class 2 station on a terrain tile is published at the
// terrain's height with the radios, selection and encryption from the command line.
#include <gtest/gtest.h>

#include "child_process.h"
#include "hgt_tile.h"
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

}  // namespace
}  // namespace halcyra
