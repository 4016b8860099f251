// Ground stations put on the terrain: the altitude text the station publishes.
#include <gtest/gtest.h>

#include "network/simulator_commands.h"

namespace halcyra {
namespace {

StationRecord GroundStation(int radioClass, const char* altitudeText) {
  StationRecord station = DefaultStation();
  station.radioClass = radioClass;
  CopyText(station.altitudeText, altitudeText);
  return station;
}

TEST(PlaceOnTerrainTest, ClassTwoWritesWholeSignedFeet) {
  StationRecord onTerrain = GroundStation(2, "0");
  PlaceOnTerrain(onTerrain, 1000);  // 3280 ft + 15 ft
  EXPECT_STREQ("3295", onTerrain.altitudeText);

  StationRecord belowSeaLevel = GroundStation(2, "-3.5");
  PlaceOnTerrain(belowSeaLevel, 0);
  EXPECT_STREQ("-4", belowSeaLevel.altitudeText);
}

// Without terrain data the simulator's text is the altitude; a text far beyond any real altitude
// must still give a well-formed whole number, not an undefined conversion.
TEST(PlaceOnTerrainTest, ClassTwoAltitudeBeyondTheIntRangeIsWrittenAsTheNearestInt) {
  StationRecord high = GroundStation(2, "4e10");
  PlaceOnTerrain(high, 0);
  EXPECT_STREQ("2147483647", high.altitudeText);
  EXPECT_FLOAT_EQ(4e10f, high.altitude);

  StationRecord deep = GroundStation(2, "-1e30");
  PlaceOnTerrain(deep, 0);
  EXPECT_STREQ("-2147483648", deep.altitudeText);
}

}  // namespace
}  // namespace halcyra
