#include "propagation/range_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "propagation_fixture.h"

namespace halcyra::testing {
namespace {

using propagation::ClearSightGain;
using propagation::FiguresOfClass;
using propagation::FrequencyTerm;
using propagation::RadioRange;
using propagation::ReadFrequency;

class RangeGainTest : public PropagationTest {
 protected:
  RangeGainTest() { SetLocal(42.0f, 41.0f, 10000.0f); }

  // Lists the remote (as the station server would) and runs the model on a copy of it.
  float GainOf(StationRecord& remote, int remoteRadio = 1) {
    model_.AddOrUpdateStation(remote);
    return model_.CalculateDBLost(remote, remoteRadio, 20.0f);
  }
};

TEST_F(RangeGainTest, WorkedExampleWithClearSightLine) {
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  StationRecord remote = Remote("Viper", 42.5f, 41.5f, 4000.0f);
  EXPECT_NEAR(0.9153, GainOf(remote), 5e-5);
  EXPECT_NEAR(37.3924, remote.distance, 5e-5);
  EXPECT_EQ(remote.distance, model_.FindStation("Viper")->distance);
  EXPECT_EQ(1, tiles_.MapCount());  // the terrain was examined

  float term = FrequencyTerm(251.0f);
  float range = RadioRange(FiguresOfClass(0), term, 6000.0f);
  EXPECT_NEAR(0.873998, term, 1e-6);
  EXPECT_NEAR(100.7506, range, 5e-5);
  EXPECT_NEAR(0.371139, static_cast<float>(remote.distance + 0.0001) / range, 1e-6);
}

// The gain as the formulas give it, each step in the precision they prescribe, written out here
// independently of the product: angles to radians and the spherical law of cosines in double, the
// distance stored as float; the frequency term with the quotient and its square in float and the
// rest in double; the range in float but for the 0.0001 added in double; att in float; the gain's
// square in double. Terrain plays no part (no tiles: elevation 0 everywhere).
struct Geometry {
  float localLatitude, localLongitude, localAltitude;
  float remoteLatitude, remoteLongitude, remoteAltitude;
  const char* frequencyText;
  float frequency;
  int radioClass;
  float rangeFactor, baseRange;
};

float LiteralGain(const Geometry& g) {
  const double pi = 3.141592653589793;
  double localLatitude = g.localLatitude * pi / 180.0;
  double localLongitude = g.localLongitude * pi / 180.0;
  double remoteLatitude = g.remoteLatitude * pi / 180.0;
  double remoteLongitude = g.remoteLongitude * pi / 180.0;
  double c =
      std::cos(remoteLongitude - localLongitude) * (std::cos(remoteLatitude) * std::cos(localLatitude)) +
      std::sin(remoteLatitude) * std::sin(localLatitude);
  float distance = static_cast<float>(std::acos(c) * 3444.0);
  float heightDifference = std::fabs(g.localAltitude - g.remoteAltitude);
  float quotient = g.frequency / 500.0f;
  float square = quotient * quotient;
  float term = static_cast<float>(1.0 - 0.5 * static_cast<double>(square));
  float d = static_cast<float>(static_cast<double>(distance) + 0.0001);
  float horizon = std::sqrt(heightDifference) * g.rangeFactor + g.baseRange;
  float range = static_cast<float>(static_cast<double>(horizon * term) + 0.0001);
  float att = d / range;
  if (d > range) return 20.0f;
  double root = std::sqrt(static_cast<double>(20.0f) / 0.6400000000000001);
  double scaled = root * (static_cast<double>(att) - 0.2);
  float gain = static_cast<float>(scaled * scaled);
  return gain < 0 ? 0.0f : gain;
}

TEST_F(RangeGainTest, GainIsBitForBitThatOfTheFormulasInTheirPrecisions) {
  const std::vector<Geometry> cases = {
      {42.0f, 41.0f, 10000.0f, 42.5f, 41.5f, 4000.0f, "251.000", 251.0f, 0, 1.23f, 20.0f},
      {42.0f, 41.0f, 10000.0f, 42.3f, 41.2f, 2500.0f, "124.500", 124.5f, 0, 1.23f, 20.0f},
      {42.0f, 41.0f, 10000.0f, 42.07f, 41.05f, 9500.0f, "30.000", 30.0f, 0, 1.23f, 20.0f},
      {42.0f, 41.0f, 10000.0f, 42.01f, 41.02f, 80.0f, "251.000", 251.0f, 1, 0.071f, 5.0f},
      {42.0f, 41.0f, 10000.0f, 42.2f, 41.3f, 400.0f, "305.125", 305.125f, 2, 0.107f, 20.0f},
      {42.0f, 41.0f, 10000.0f, 42.8f, 41.6f, 28000.0f, "251.000", 251.0f, 100, 0.25f, 45.0f},
      {42.0f, 41.0f, 10000.0f, 43.1f, 42.7f, 31000.0f, "127.800", 127.8f, 200, 0.642f, 45.0f},
      {-33.9f, 151.2f, 3500.0f, -33.7f, 150.9f, 12000.0f, "243.000", 243.0f, 0, 1.23f, 20.0f},
  };
  int inRange = 0;
  for (const Geometry& g : cases) {
    SCOPED_TRACE(::testing::Message() << "class " << g.radioClass << " at " << g.remoteLatitude << " "
                                      << g.remoteLongitude << " on " << g.frequencyText);
    SetLocal(g.localLatitude, g.localLongitude, g.localAltitude);
    StationRecord remote = Remote("Viper", g.remoteLatitude, g.remoteLongitude, g.remoteAltitude);
    CopyText(remote.frequency1, g.frequencyText);
    remote.radioClass = g.radioClass;
    float expected = LiteralGain(g);
    float gain = GainOf(remote);
    EXPECT_EQ(expected, gain) << std::hexfloat << expected << " " << gain;
    if (expected < 20.0f) ++inRange;
  }
  EXPECT_GE(inRange, 6);  // the gain curve, not only the limit, is compared
}

TEST_F(RangeGainTest, DetailedLogLinesShowTheFigures) {
  StartLog(5);
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  StationRecord remote = Remote("Viper", 42.5f, 41.5f, 4000.0f);
  GainOf(remote);
  auto lines = LogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(
      std::string::npos,
      lines[1].find("CHalcyra::CalculateDistance : Remote Nickname \"Viper\" @ 37.392 NM / 6000.000 ft"))
      << lines[1];
  EXPECT_NE(
      std::string::npos,
      lines.back().find("CHalcyra::CalculateDBLost : Remote Nickname \"Viper\" : Radio #1 (251.000000) : "
                        "Factor=1.230 , DBLost=0.874 , Distance=37.392 NM , Hidden=0(0=No,1=Yes) "
                        "Range=100.751 NM ===> Gain=0.915 (20.000)(att=0.371) "))
      << lines.back();
}

TEST_F(RangeGainTest, TerrainWithinRangeGivesTheLimit) {
  HgtTile(8900).WriteTo(TilePath("N42E041.HGT"));
  StationRecord remote = Remote("Viper", 42.5f, 41.5f, 4000.0f);
  EXPECT_EQ(20.0f, GainOf(remote));
}

// Beyond range the terrain is not examined: the tile that would hide him is never opened.
TEST_F(RangeGainTest, OutOfRangeGivesTheLimitWithoutTerrainTest) {
  HgtTile(8900).WriteTo(TilePath("N42E041.HGT"));
  StationRecord level = Remote("Level", 42.5f, 41.5f, 10000.0f);
  EXPECT_EQ(20.0f, GainOf(level));
  EXPECT_NEAR(17.4801, RadioRange(FiguresOfClass(0), FrequencyTerm(251.0f), 0.0f), 5e-5);

  StationRecord far = Remote("Far", 43.5f, 43.0f, 4000.0f);
  EXPECT_EQ(20.0f, GainOf(far));
  EXPECT_NEAR(126.18, far.distance, 0.005);
  EXPECT_NEAR(126.18, model_.FindStation("Far")->distance, 0.005);
  EXPECT_TRUE(env_.Opened().empty());
  EXPECT_EQ(0, tiles_.MapCount());
}

// At 41.52 N the cosine sum of one position comes out just above 1 (with glibc's sine and cosine).
TEST_F(RangeGainTest, CoincidentStationsAreAtDistanceZeroNotNaN) {
  HgtTile().WriteTo(TilePath("N41E041.HGT"));
  SetLocal(41.52f, 41.5f, 10000.0f);
  StationRecord remote = Remote("Wingman", 41.52f, 41.5f, 10000.0f);
  float gain = GainOf(remote);
  EXPECT_NEAR(0.0, remote.distance, 1e-3);
  EXPECT_NEAR(1.25, gain, 1e-3);  // a sixteenth of the limit: very close is not perfect

  remote.radioClass = 7;  // outside the table: range 0.0001, never received
  EXPECT_EQ(20.0f, GainOf(remote));
}

TEST_F(RangeGainTest, FrequencyAbove707GivesNegativeRange) {
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  StationRecord remote = Remote("Viper", 42.01f, 41.0f, 10000.0f);
  CopyText(remote.frequency2, "800.000");
  EXPECT_LT(FrequencyTerm(800.0f), 0.0f);
  EXPECT_EQ(20.0f, GainOf(remote, 2));
  EXPECT_LT(GainOf(remote, 1), 20.0f);  // the same talker on 251.000 is heard
}

TEST_F(RangeGainTest, PositionsThatAreNotNumbersAreNotReceived) {
  StationRecord remote = Remote("Broken", NAN, 41.5f, 4000.0f);
  EXPECT_EQ(20.0f, GainOf(remote));
}

TEST(RangeGainFigures, GainCurveAndFrequencyTexts) {
  EXPECT_NEAR(0.0, ClearSightGain(0.2f, 20.0f), 1e-6);
  EXPECT_NEAR(20.0, ClearSightGain(1.0f, 20.0f), 1e-5);
  EXPECT_NEAR(1.25, ClearSightGain(0.0f, 20.0f), 1e-6);
  EXPECT_NEAR(0.9982, FrequencyTerm(30.0f), 1e-6);

  EXPECT_EQ(251.0f, ReadFrequency("251.000"));
  EXPECT_EQ(30.0f, ReadFrequency(" 30MHz"));
  EXPECT_EQ(0.0f, ReadFrequency("abc"));
  EXPECT_EQ(0.0f, ReadFrequency(""));
  EXPECT_EQ(0.0f, ReadFrequency("1e-999"));
}

// A frequency text read as the decimal number it starts with can be beyond float, infinite or not a
// number: such a talker has no range and is not received, and no terrain is examined for him.
TEST_F(RangeGainTest, FrequencyThatIsNoFiniteNumberIsOutOfRange) {
  HgtTile().WriteTo(TilePath("N42E041.HGT"));
  for (const char* text : {"1e99", "inf", "-inf", "nan", "1e999"}) {
    EXPECT_FALSE(std::isfinite(ReadFrequency(text))) << text;
    StationRecord remote = Remote("Viper", 42.01f, 41.0f, 9000.0f);  // 0.6 NM away
    CopyText(remote.frequency1, text);
    EXPECT_EQ(20.0f, GainOf(remote)) << text;
  }
  EXPECT_TRUE(env_.Opened().empty());
}

}  // namespace
}  // namespace halcyra::testing
